#pragma once

#include <cstdint>
#include <string>

// Appends the bytes a line delivers to a file, exactly as they came: no header, no separators,
// nothing added. Each chunk is handed to the system at once, so a crash loses nothing written.
class ByteLog {
public:
    ByteLog() = default;
    ~ByteLog();
    ByteLog(const ByteLog&) = delete;
    ByteLog& operator=(const ByteLog&) = delete;

    // Opens `path` for appending, creating it when missing. False with the reason in error().
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Writes the whole chunk. On failure the file is closed and error() says why; later chunks
    // are not written, so the file never holds a stream with a hole in it.
    bool append(const void* data, int32_t size);

    // Whether `path` names the file being written (the same file under any name).
    bool isSameFile(const std::string& path) const;

    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    uint64_t bytesWritten() const { return written_; }

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
    uint64_t written_ = 0;
};
