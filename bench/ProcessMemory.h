#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

// Memory of this process in bytes, from the kernel's view: "VmRSS" now or "VmHWM" at its peak.
inline int64_t memoryOf(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::stoll(line.substr(n + 1)) * 1024;
    }
    return 0;
}

inline double mib(int64_t bytes) {
    return double(bytes) / (1024.0 * 1024.0);
}
