#include "PlainFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char16_t kEscapeFirst = 0xDC80;  // U+DC80..U+DCFF stand for the bytes 0x80..0xFF
constexpr char16_t kEscapeLast = 0xDCFF;

// Length of the well-formed UTF-8 sequence at `p`, 0 when the byte starts none.
int utf8Length(const unsigned char* p, size_t left) {
    const unsigned c = p[0];
    if (c < 0x80) return 1;
    int n = 0;
    uint32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        least = 0x10000;
    } else {
        return 0;
    }
    if (left < static_cast<size_t>(n)) return 0;
    uint32_t cp = c & (0x7Fu >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool isEscape(const QString& s, qsizetype i) {
    const char16_t c = s[i].unicode();
    return c >= kEscapeFirst && c <= kEscapeLast && (i == 0 || !s[i - 1].isHighSurrogate());
}

std::string kindOf(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISFIFO(mode)) return "it is a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
    if (S_ISSOCK(mode)) return "it is a socket";
    if (S_ISDIR(mode)) return "it is a directory";
    return "it is not a regular file";
}

}  // namespace

namespace PlainFile {

QByteArray toNative(const QString& name) {
    QByteArray out;
    qsizetype run = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscape(name, i)) continue;
        out += QFile::encodeName(name.mid(run, i - run));
        out += static_cast<char>(name[i].unicode() - kEscapeFirst + 0x80);
        run = i + 1;
    }
    return run == 0 ? QFile::encodeName(name) : out + QFile::encodeName(name.mid(run));
}

QString fromNative(const QByteArray& bytes) {
    const QString decoded = QFile::decodeName(bytes);
    if (QFile::encodeName(decoded) == bytes) return decoded;
    // the codec loses bytes only when the system's encoding is UTF-8
    QString out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const size_t size = static_cast<size_t>(bytes.size());
    size_t run = 0;
    for (size_t i = 0; i < size;) {
        const int n = utf8Length(p + i, size - i);
        if (n > 0) {
            i += static_cast<size_t>(n);
            continue;
        }
        out += QString::fromUtf8(bytes.constData() + run, static_cast<qsizetype>(i - run));
        out += QChar(static_cast<char16_t>(kEscapeFirst + p[i] - 0x80));
        run = ++i;
    }
    return out + QString::fromUtf8(bytes.constData() + run, static_cast<qsizetype>(size - run));
}

std::string refusal(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return kindOf(st.st_mode);
}

Result<int> open(const std::string& path, int flags, mode_t mode) {
    const std::string refused = refusal(path);
    if (!refused.empty()) return Failure{refused};
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) return Failure{reason(errno)};
    struct stat st {};
    std::string kind = ::fstat(fd, &st) == 0 ? kindOf(st.st_mode) : reason(errno);
    if (kind.empty() && !(flags & O_NONBLOCK) &&
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        kind = reason(errno);
    if (!kind.empty()) {
        ::close(fd);
        return Failure{kind};
    }
    return fd;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat one {};
    struct stat other {};
    return ::stat(a.c_str(), &one) == 0 && ::stat(b.c_str(), &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

std::string reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error)).toStdString();
}

std::string resolved(const std::string& path) {
    if (path.empty()) return path;
    char buffer[PATH_MAX];
    std::string real;
    const auto slash = path.find_last_of('/');
    struct stat st {};
    // a link to a file not written yet names that file all the same
    std::string target = path;
    int hops = 0;
    for (; hops < 40 && ::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hops) {
        const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0) break;
        const std::string to(buffer, static_cast<size_t>(n));
        const auto at = target.find_last_of('/');
        target = to[0] == '/' || at == std::string::npos ? to : target.substr(0, at + 1) + to;
    }
    if (target != path && hops < 40) return resolved(target);
    if (::realpath(path.c_str(), buffer)) {
        real = buffer;
    } else {
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        if (!::realpath(folder.c_str(), buffer)) return path;
        real = std::string(buffer) + (std::string(buffer) == "/" ? "" : "/") +
               (slash == std::string::npos ? path : path.substr(slash + 1));
    }
    std::string absolute = path;
    if (path[0] != '/' && ::getcwd(buffer, sizeof buffer)) absolute = std::string(buffer) + '/' + path;
    return real == absolute ? path : real;
}

}  // namespace PlainFile
