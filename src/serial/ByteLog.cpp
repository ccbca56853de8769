#include "ByteLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ByteLog::~ByteLog() {
    close();
}

bool ByteLog::open(const std::string& path) {
    close();
    path_ = path;
    error_.clear();
    written_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
        // a terminal or a pipe is no place to keep a line's bytes for later
        error_ = "cannot write '" + path + "': it is not a plain file";
        close();
        return false;
    }
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
            error_ = "cannot write '" + path_ + "': " + (n < 0 ? std::strerror(errno) : "nothing written");
            close();
            return false;
        }
    }
    return true;
}

bool ByteLog::isSameFile(const std::string& path) const {
    struct stat mine {};
    struct stat other {};
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::stat(path.c_str(), &other) == 0 &&
           mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
}
