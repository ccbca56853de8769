#include "SimRunner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dmmsim {

uint64_t runPaced(ScenarioStream& stream, PacedWriter& writer, const RunOptions& options,
                  const std::atomic<bool>& stop, const std::function<void(const Emission&)>& onSent) {
    const int baud = stream.model().baud;
    uint64_t sent = 0;
    while (!stop.load() && (!options.frames || sent < *options.frames)) {
        const Emission e = stream.next();
        if (!writer.write(e.bytes.data(), e.bytes.size(), stop)) break;
        if (onSent) onSent(e);
        if (!e.reading) continue;  // the lead-in is not a frame
        ++sent;
        const auto onLine = lineTime(e.bytes.size(), baud);
        if (options.interval > onLine) writer.idle(options.interval - onLine);
    }
    return sent;
}

bool writeCapture(ScenarioStream& stream, uint64_t frames, const std::string& path, std::string* error,
                  const std::function<void(const Emission&)>& onSent) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (uint64_t sent = 0; sent < frames && ok;) {
        const Emission e = stream.next();
        ok = std::fwrite(e.bytes.data(), 1, e.bytes.size(), f) == e.bytes.size();
        if (ok && onSent) onSent(e);
        if (e.reading) ++sent;
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok && error) *error = path + ": " + std::strerror(errno);
    return ok;
}

}  // namespace dmmsim
