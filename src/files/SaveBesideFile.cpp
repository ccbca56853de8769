#include "SaveBesideFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>

#include "PlainFile.h"

SaveBesideFile::SaveBesideFile(const QString& path)
    : target_(QByteArray::fromStdString(PlainFile::resolved(PlainFile::toNative(path).toStdString()))) {}

SaveBesideFile::~SaveBesideFile() {
    cancelWriting();
}

bool SaveBesideFile::fail(int error) {
    setErrorString(QString::fromStdString(PlainFile::reason(error)));
    return false;
}

bool SaveBesideFile::refuseTarget() {
    const std::string refused = PlainFile::refusal(target_.toStdString());
    if (refused.empty()) return false;
    setErrorString(QString::fromStdString(refused));
    return true;
}

bool SaveBesideFile::open(OpenMode mode) {
    if (fd_ >= 0 || (mode & ReadOnly) || !(mode & WriteOnly)) return false;
    if (refuseTarget()) return false;
    const qsizetype slash = target_.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : target_.left(slash + 1);
    const QByteArray name = target_.mid(slash + 1);
    struct stat old {};
    const bool replacing = ::stat(target_.constData(), &old) == 0;
    // A name near the folder's limit leaves no room for the dot and the suffix: the temporary
    // name takes as much of it as fits (the file gets its real name by the rename).
    const long allowed = ::pathconf(folder.isEmpty() ? "." : folder.constData(), _PC_NAME_MAX);
    const qsizetype most = allowed > 0 ? allowed : 255;
    qsizetype keep = std::min(name.size(), most - 9);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temp_ = folder + '.' + name.left(keep) + '.' +
                QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd_ = ::open(temp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) return fail(errno);
    }
    // the new file keeps the permissions of the one it replaces
    if (replacing) (void)::fchmod(fd_, old.st_mode & 07777);
    return QIODevice::open(mode | Unbuffered);
}

bool SaveBesideFile::seek(qint64 pos) {
    if (fd_ < 0 || ::lseek(fd_, pos, SEEK_SET) < 0) return false;
    return QIODevice::seek(pos);
}

QString SaveBesideFile::writtenPath() const {
    return fd_ < 0 ? QString() : PlainFile::fromNative(temp_);
}

qint64 SaveBesideFile::readData(char*, qint64) {
    return -1;
}

qint64 SaveBesideFile::writeData(const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(size - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            fail(n < 0 ? errno : ENOSPC);
            return -1;
        }
    }
    return done;
}

bool SaveBesideFile::commit() {
    if (fd_ < 0) return false;
    const int fd = fd_;
    fd_ = -1;
    QIODevice::close();
    bool ok = ::fsync(fd) == 0 || fail(errno);
    ok = (::close(fd) == 0 || fail(errno)) && ok;
    // something else may have taken the name while the file was written
    ok = ok && !refuseTarget() && (::rename(temp_.constData(), target_.constData()) == 0 || fail(errno));
    if (!ok) ::unlink(temp_.constData());
    return ok;
}

void SaveBesideFile::cancelWriting() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.constData());
    QIODevice::close();
}
