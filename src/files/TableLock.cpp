#include "TableLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cerrno>
#include <cstring>

#include "PlainFile.h"

TableLock::~TableLock() {
    unlock();
}

TableLock::TableLock(TableLock&& other) noexcept : fd_(other.fd_), path_(other.path_) {
    other.fd_ = -1;
    other.path_.clear();
}

TableLock& TableLock::operator=(TableLock&& other) noexcept {
    if (this != &other) {
        unlock();
        fd_ = other.fd_;
        path_ = other.path_;
        other.fd_ = -1;
        other.path_.clear();
    }
    return *this;
}

bool TableLock::lock(const QString& path, QString* error) {
    unlock();
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    const QString name = QDir::toNativeSeparators(path);
    // Read access suffices for the lock; the table file is never written while it is open.
    const Result<int> opened = PlainFile::open(PlainFile::toNative(path).toStdString(), O_RDONLY, 0);
    if (!opened) {
        return fail(QCoreApplication::translate("TableLock", "Cannot open %1: %2")
                        .arg(name, QString::fromStdString(opened.error())));
    }
    const int fd = opened.value();
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int why = errno;
        ::close(fd);
        if (why == EWOULDBLOCK)
            return fail(QCoreApplication::translate("TableLock",
                                                    "Cannot open %1: the table is in use by another program.")
                            .arg(name));
        return fail(QCoreApplication::translate("TableLock", "Cannot lock %1: %2")
                        .arg(name, QString::fromStdString(PlainFile::reason(why))));
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void TableLock::unlock() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    fd_ = -1;
    path_.clear();
}

bool TableLock::isHeldElsewhere(const QString& path) {
    const Result<int> opened = PlainFile::open(PlainFile::toNative(path).toStdString(), O_RDONLY, 0);
    if (!opened) return false;
    const int fd = opened.value();
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    const bool held = rc != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // closing lets go of a lock taken here
    return held;
}
