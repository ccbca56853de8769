#pragma once

#include <QString>

// Exclusive use of an open table file: an advisory lock on the file itself, held for as long as
// the object lives. A second program (or a second lock on the same file) is refused.
class TableLock {
public:
    TableLock() = default;
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    TableLock(TableLock&& other) noexcept;
    TableLock& operator=(TableLock&& other) noexcept;

    // Locks the existing file at `path`, releasing any file held before. On failure returns
    // false with the reason in `error` and holds nothing.
    bool lock(const QString& path, QString* error = nullptr);
    void unlock();

    bool isLocked() const { return fd_ >= 0; }

    // Whether another program (or another lock here) holds the file at `path` now. A file that
    // is missing or cannot be read counts as not held.
    static bool isHeldElsewhere(const QString& path);
    QString path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
};
