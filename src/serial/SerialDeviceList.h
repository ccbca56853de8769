#pragma once

#include <functional>
#include <string>
#include <vector>

// A serial device present on this machine, as the user picks it for a port name.
struct SerialDevice {
    std::string path;     // what the port name is pointed at
    std::string label;    // what the user reads: a readable name for the stable links, else the path
    bool denied = false;  // the user may not open it
};

// Whether the user may open a device; false only when the system refuses it for lack of permission.
using DeviceAccessCheck = std::function<bool(const std::string& path)>;
bool userMayOpen(const std::string& path);

// The serial devices under `devRoot` ("/dev" on a running system): the links under serial/by-id
// first, by their readable names (they keep their name when the adapter is plugged in elsewhere),
// then ttyUSB*, ttyACM* and ttyS*, each kind in numeric order.
std::vector<SerialDevice> listSerialDevices(const std::string& devRoot = "/dev",
                                            const DeviceAccessCheck& mayOpen = userMayOpen);

// "usb-Maker_USB_Serial_A1B2-if00-port0" reads "Maker USB Serial A1B2".
std::string readableDeviceName(const std::string& byIdName);
