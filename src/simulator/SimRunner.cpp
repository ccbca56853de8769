#include "SimRunner.h"

#include <sys/stat.h>

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

uint64_t replayPaced(std::FILE* file, PacedWriter& writer, const std::atomic<bool>& stop,
                     std::string* error) {
    uint8_t piece[4096];
    uint64_t sent = 0;
    while (!stop.load()) {
        const std::size_t n = std::fread(piece, 1, sizeof piece, file);
        if (n > 0 && !writer.write(piece, n, stop)) break;
        sent += n;
        if (n < sizeof piece) break;
    }
    if (std::ferror(file) && error) {
        *error = std::string("reading the replayed file: ") + std::strerror(errno);
    }
    return sent;
}

bool replayCapture(std::FILE* file, const std::string& capturePath, std::string* error) {
    struct stat in {};
    struct stat out {};
    if (::fstat(fileno(file), &in) == 0 && ::stat(capturePath.c_str(), &out) == 0 &&
        in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        if (error) *error = capturePath + ": it is the file being replayed";
        return false;
    }
    std::FILE* f = std::fopen(capturePath.c_str(), "wb");
    if (!f) {
        if (error) *error = capturePath + ": " + std::strerror(errno);
        return false;
    }
    char piece[64 * 1024];
    bool ok = true;
    std::size_t n = 0;
    while (ok && (n = std::fread(piece, 1, sizeof piece, file)) > 0) ok = std::fwrite(piece, 1, n, f) == n;
    if (ok && std::ferror(file)) {
        if (error) *error = std::string("reading the replayed file: ") + std::strerror(errno);
        std::fclose(f);
        return false;
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok && error) *error = capturePath + ": " + std::strerror(errno);
    return ok;
}

}  // namespace dmmsim
