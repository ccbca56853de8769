#include "ByteLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "PlainFile.h"

ByteLog::~ByteLog() {
    close();
}

bool ByteLog::open(const std::string& path) {
    close();
    path_ = path;
    error_.clear();
    written_ = 0;
    // a terminal or a pipe is no place to keep a line's bytes for later
    const Result<int> opened = PlainFile::open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (!opened) {
        error_ = "cannot write '" + path + "': " + opened.error();
        return false;
    }
    fd_ = opened.value();
    return true;
}

void ByteLog::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ByteLog::append(const void* data, int32_t size) {
    if (fd_ < 0) return false;
    const auto* bytes = static_cast<const char*>(data);
    int32_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(size - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            written_ += static_cast<uint64_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error_ =
                "cannot write '" + path_ + "': " + (n < 0 ? PlainFile::reason(errno) : "nothing written");
            close();
            return false;
        }
    }
    return true;
}

bool ByteLog::isSameFile(const std::string& path) const {
    return fd_ >= 0 && PlainFile::sameFile(path_, path);
}
