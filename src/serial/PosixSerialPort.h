#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "SerialPort.h"
#include "TCommPortDriver.h"

// The port layer on a POSIX system: COM1..COM4 are names for terminal devices (by default
// /dev/ttyS0../dev/ttyS3; any of them may be pointed at a USB adapter or a pseudo-terminal).
// Handles are file descriptors, opened non-blocking and exclusively; line settings become termios
// settings and modem-line ioctls.
class PosixSerialPort : public SerialPort {
public:
    PosixSerialPort();
    // Closes whatever the driver left open.
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // Points a port name at a device; false for a name other than COM1..COM4 or an empty path.
    bool setDevicePath(const std::string& portName, const std::string& path);
    void setDevicePath(TComPortNumber port, const std::string& path);
    // The device a port name stands for; empty for an unknown name.
    std::string devicePath(const std::string& portName) const;
    std::string devicePath(TComPortNumber port) const;

    PortHandle open(const std::string& portName) override;
    bool setCommState(PortHandle h, const DeviceControlBlock& dcb) override;
    // Reads never wait here (the descriptor is non-blocking), so there is nothing to set.
    bool setCommTimeouts(PortHandle h, const CommTimeouts& t) override;
    // The kernel's queues have a fixed size; accepted for an open handle.
    bool setupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue) override;
    bool purgeComm(PortHandle h, uint32_t flags) override;
    // A read with nothing queued succeeds with 0 bytes.
    bool readFile(PortHandle h, void* buffer, uint32_t toRead, uint32_t& bytesRead) override;
    bool closeHandle(PortHandle h) override;
    // True once the descriptor reports a hang-up or an error (the far side closed, the adapter
    // was pulled) or can no longer be read at all.
    bool deviceLost(PortHandle h) override;
    // The terminal's minimum read count (at most 255), which is also what poll() waits for.
    bool setReadWake(PortHandle h, uint32_t bytes) override;
    std::string lastError() const override { return lastError_; }
    // The reason of the last failed open alone, without the port name and path in front.
    std::string lastErrorReason() const { return lastReason_; }

private:
    int portIndex(const std::string& portName) const;
    bool isOwn(PortHandle h) const;

    std::array<std::string, 4> paths_;
    std::set<int> open_;
    // the minimum read count of each open descriptor that has one other than the default
    std::map<int, uint8_t> readWake_;
    std::string lastError_;
    std::string lastReason_;
};

struct termios;

namespace posixserial {

// Whether a lost device may be waited for under `path`: an adapter, or a link to one, comes back
// under its name. A pseudo-terminal named by its number does not: the number goes to the next
// terminal opened, which may be anybody's, and opening that would read (and set up) a stranger's
// line.
bool returnsUnderItsName(const std::string& path);

// What to do about a device the user may not open.
std::string permissionAdvice(const std::string& path);

// Writes a control block's framing, flow control and flow characters into terminal settings, raw
// and with reads that never wait. The line rate is left alone: it needs its own calls.
void applyControlBlock(const DeviceControlBlock& dcb, termios& t);

// The modem lines an open port holds. Many meter cables are optically isolated and draw their
// power from DTR, so a wrong DTR makes a working meter look dead.
struct ModemLines {
    bool dtr = false;
    bool rts = false;
    bool operator==(const ModemLines& o) const { return dtr == o.dtr && rts == o.rts; }
};

// DTR is on exactly when the block enables it; RTS is on when the block holds it on or hands it to
// RTS/CTS handshaking (which then drives it), and off otherwise.
ModemLines modemLines(const DeviceControlBlock& dcb);

// Sets a line rate that has no predefined speed constant (14400, 56000, ...); false where the
// system cannot do that.
bool setArbitraryBaudRate(int fd, uint32_t rate);
// The receive and transmit rates a terminal device is set to, in bits per second; false where they
// cannot be read as numbers.
bool readBaudRate(int fd, uint32_t& inRate, uint32_t& outRate);

}  // namespace posixserial
