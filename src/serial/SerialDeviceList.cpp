#include "SerialDeviceList.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <regex>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The files in `folder` whose names start with `prefix` and go on with a number, in numeric order.
std::vector<fs::path> numbered(const fs::path& folder, const std::string& prefix) {
    std::vector<std::pair<long, fs::path>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        if (rest.size() > 6 ||
            !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        found.emplace_back(std::stol(rest), entry.path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

}  // namespace

bool userMayOpen(const std::string& path) {
    if (::access(path.c_str(), R_OK | W_OK) == 0) return true;
    return errno != EACCES && errno != EPERM;
}

std::string readableDeviceName(const std::string& byIdName) {
    static const std::regex bus("^(usb|pci|platform)-");
    static const std::regex interfacePort("(-if[0-9]+)?(-port[0-9]+)?$");
    std::string name = std::regex_replace(byIdName, bus, "");
    name = std::regex_replace(name, interfacePort, "");
    std::replace(name.begin(), name.end(), '_', ' ');
    return name.empty() ? byIdName : name;
}

std::vector<SerialDevice> listSerialDevices(const std::string& devRoot, const DeviceAccessCheck& mayOpen) {
    std::vector<SerialDevice> out;
    const fs::path root(devRoot);
    std::error_code ec;
    std::vector<fs::path> links;
    for (const auto& entry : fs::directory_iterator(root / "serial" / "by-id", ec))
        links.push_back(entry.path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        const fs::path target = fs::canonical(link, ec);
        if (ec) continue;  // a link left behind by a device that is gone
        out.push_back({link.string(), readableDeviceName(link.filename().string()) + " (" +
                                          target.filename().string() + ")"});
    }
    for (const char* kind : {"ttyUSB", "ttyACM", "ttyS"}) {
        for (const fs::path& device : numbered(root, kind)) out.push_back({device.string(), device.string()});
    }
    for (SerialDevice& d : out) d.denied = !mayOpen(d.path);
    return out;
}
