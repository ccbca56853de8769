#include "RecordJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "JournalFormat.h"
#include "JournalReader.h"
#include "PlainFile.h"

using namespace JournalFormat;

namespace {

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void putVarint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

void putSigned(std::string& out, int64_t v) {
    putVarint(out, (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63));
}

void putText(std::string& out, const std::string& s) {
    putVarint(out, s.size());
    out += s;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

RecordJournal::~RecordJournal() {
    // An abnormal end leaves the file for the next start; only remove() takes it away.
    if (fd_ >= 0) ::close(fd_);
}

std::string RecordJournal::pathFor(const std::string& tableName) {
    const auto slash = tableName.find_last_of('/');
    const auto dot = tableName.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? tableName.substr(0, dot) : tableName) + ".journal";
}

std::string RecordJournal::encodeEntry(const std::vector<RecordRow>& rows) {
    std::string payload;
    putVarint(payload, rows.size());
    RecordRow prev;
    for (const RecordRow& r : rows) {
        const bool whole = std::isfinite(r.nval) && std::fabs(r.nval) < 9.2e18 &&
                           r.nval == std::trunc(r.nval) && !(r.nval == 0 && std::signbit(r.nval));
        uint8_t flags = 0;
        if (r.dcAc == prev.dcAc) flags |= kSameDcAc;
        if (r.value == prev.value) flags |= kSameValue;
        if (r.unit == prev.unit) flags |= kSameUnit;
        if (r.autoText == prev.autoText) flags |= kSameAuto;
        if (whole) flags |= kWholeCounts;
        if (r.day != prev.day || r.utcOffsetMin != prev.utcOffsetMin) flags |= kNewDate;
        payload.push_back(static_cast<char>(flags));
        putSigned(payload, static_cast<int64_t>(r.no) - prev.no - 1);
        putSigned(payload, static_cast<int64_t>(r.timeMs) - prev.timeMs);
        if (!(flags & kSameDcAc)) putText(payload, r.dcAc);
        if (!(flags & kSameValue)) putText(payload, r.value);
        if (!(flags & kSameUnit)) putText(payload, r.unit);
        if (!(flags & kSameAuto)) putText(payload, r.autoText);
        if (whole) {
            putSigned(payload, static_cast<int64_t>(r.nval));
        } else {
            uint64_t bits = 0;
            std::memcpy(&bits, &r.nval, sizeof bits);
            for (int i = 0; i < 8; ++i) payload.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
        }
        if (flags & kNewDate) {
            putSigned(payload, static_cast<int64_t>(r.day) - prev.day);
            putSigned(payload, r.utcOffsetMin);
        }
        prev = r;
    }
    std::string entry;
    entry.reserve(kEntryHeaderBytes + payload.size());
    putU32(entry, static_cast<uint32_t>(payload.size()));
    putU32(entry, crc32(payload.data(), payload.size()));
    entry += payload;
    return entry;
}

RecordJournal::Contents RecordJournal::read(const std::string& path, bool keepRows) {
    Contents c;
    JournalReader reader;
    const Result<> opened = reader.open(path);
    if (!opened) {
        c.exists = !reader.missing();
        if (c.exists) c.error = opened.error();
        return c;
    }
    c.exists = true;
    std::vector<RecordRow> entry;
    while (reader.next(entry)) {
        c.rowCount += static_cast<int64_t>(entry.size());
        if (keepRows) c.rows.insert(c.rows.end(), entry.begin(), entry.end());
    }
    c.goodBytes = reader.goodEnd();
    c.skipped = reader.skippedStretches();
    c.torn = reader.tornBytes() > 0;
    c.fileBytes = c.goodBytes + reader.tornBytes();
    return c;
}

Result<RecordJournal::Contents> RecordJournal::claim(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_ = path;
    const Result<int> opened = PlainFile::open(path, O_RDWR | O_CREAT, 0644);
    if (!opened)
        return Failure{"cannot keep a journal of the recorded readings in '" + path + "': " + opened.error()};
    const int fd = opened.value();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Failure{"the journal '" + path + "' is in use by another program"};
    }
    fd_ = fd;
    Contents left = read(path, false);
    first_ = written_ = 0;
    size_ = static_cast<uint64_t>(::lseek(fd_, 0, SEEK_END));
    return left;
}

bool RecordJournal::truncateTo(uint64_t length) {
    if (fd_ < 0) return false;
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return false;
    size_ = length;
    return ::lseek(fd_, static_cast<off_t>(length), SEEK_SET) >= 0;
}

Result<> RecordJournal::resume(uint64_t goodBytes, int64_t first, int64_t written) {
    first_ = first;
    written_ = written;
    if (!truncateTo(goodBytes))
        return Failure{"cannot write the journal '" + path_ + "': " + std::strerror(errno)};
    return {};
}

void RecordJournal::restart(int64_t first) {
    first_ = written_ = first;
    if (size_ > 0) truncateTo(0);
}

Result<> RecordJournal::sync(const RecordSource& rows) {
    if (fd_ < 0) return {};
    const int64_t count = rows.rowCount();
    if (count < written_) restart(count);
    if (count == written_) return {};
    std::vector<RecordRow> fresh;
    fresh.reserve(static_cast<std::size_t>(count - written_));
    for (int64_t i = written_; i < count; ++i) fresh.push_back(rows.row(i));
    const std::string entry = encodeEntry(fresh);
    // a write cut short leaves a torn entry; the next one goes where this one began
    if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0 || !writeAll(fd_, entry.data(), entry.size()) ||
        ::fdatasync(fd_) != 0) {
        const std::string why = std::strerror(errno);
        // what part of the entry got there is cut away, so the next try starts clean
        (void)::ftruncate(fd_, static_cast<off_t>(size_));
        return Failure{"cannot write the journal '" + path_ + "': " + why};
    }
    size_ += entry.size();
    written_ = count;
    return {};
}

void RecordJournal::remove() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

Result<std::string> RecordJournal::setAside() {
    if (fd_ < 0) return Failure{};
    std::string aside = path_ + ".damaged";
    struct stat st {};
    for (int n = 2; ::lstat(aside.c_str(), &st) == 0; ++n) aside = path_ + ".damaged." + std::to_string(n);
    if (::rename(path_.c_str(), aside.c_str()) != 0)
        return Failure{"cannot keep the damaged journal '" + path_ + "' aside: " + std::strerror(errno)};
    const std::string path = path_;
    const Result<Contents> fresh = claim(path);
    if (!fresh) return Failure{fresh.error()};
    return aside;
}
