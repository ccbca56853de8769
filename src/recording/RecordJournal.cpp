#include "RecordJournal.h"

#include "PlainFile.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An entry larger than this is taken for damage rather than allocated.
constexpr uint32_t kMaxEntryBytes = 64u << 20;
constexpr std::size_t kEntryHeaderBytes = 8;

// Flags of a row in an entry: which texts equal the previous row's, and how the counts are kept.
enum : uint8_t {
    kSameDcAc = 0x01,
    kSameValue = 0x02,
    kSameUnit = 0x04,
    kSameAuto = 0x08,
    kWholeCounts = 0x10,  // Nval is a whole number, kept as a varint; otherwise 8 bytes of double
};

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

uint32_t crc32(const char* data, std::size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t getU32(const char* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(p[i])) << (8 * i);
    return v;
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

// Reads an entry's payload; every read is checked against its end.
class PayloadReader {
public:
    PayloadReader(const char* p, std::size_t n) : p_(p), end_(p + n) {}
    bool atEnd() const { return p_ == end_; }

    bool varint(uint64_t& v) {
        v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (p_ == end_) return false;
            const auto b = static_cast<uint8_t>(*p_++);
            v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool signedVarint(int64_t& v) {
        uint64_t u = 0;
        if (!varint(u)) return false;
        v = static_cast<int64_t>(u >> 1) ^ -static_cast<int64_t>(u & 1);
        return true;
    }
    bool byte(uint8_t& b) {
        if (p_ == end_) return false;
        b = static_cast<uint8_t>(*p_++);
        return true;
    }
    bool text(std::string& s) {
        uint64_t n = 0;
        if (!varint(n) || n > static_cast<uint64_t>(end_ - p_)) return false;
        s.assign(p_, static_cast<std::size_t>(n));
        p_ += n;
        return true;
    }
    bool real(double& d) {
        if (end_ - p_ < 8) return false;
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(static_cast<uint8_t>(p_[i])) << (8 * i);
        std::memcpy(&d, &bits, sizeof d);
        p_ += 8;
        return true;
    }

private:
    const char* p_;
    const char* end_;
};

bool decodeEntry(const char* payload, std::size_t size, std::vector<RecordRow>& out) {
    PayloadReader in(payload, size);
    uint64_t count = 0;
    if (!in.varint(count) || count == 0 || count > size) return false;
    RecordRow prev;
    std::vector<RecordRow> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        RecordRow r = prev;
        uint8_t flags = 0;
        int64_t dNo = 0, dTime = 0;
        if (!in.byte(flags) || !in.signedVarint(dNo) || !in.signedVarint(dTime)) return false;
        r.no = static_cast<int32_t>(static_cast<int64_t>(prev.no) + 1 + dNo);
        r.timeMs = static_cast<int32_t>(static_cast<int64_t>(prev.timeMs) + dTime);
        if (!(flags & kSameDcAc) && !in.text(r.dcAc)) return false;
        if (!(flags & kSameValue) && !in.text(r.value)) return false;
        if (!(flags & kSameUnit) && !in.text(r.unit)) return false;
        if (!(flags & kSameAuto) && !in.text(r.autoText)) return false;
        if (flags & kWholeCounts) {
            int64_t counts = 0;
            if (!in.signedVarint(counts)) return false;
            r.nval = static_cast<double>(counts);
        } else if (!in.real(r.nval)) {
            return false;
        }
        rows.push_back(r);
        prev = r;
    }
    if (!in.atEnd()) return false;
    out.insert(out.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    return true;
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
        const bool whole = std::isfinite(r.nval) && std::fabs(r.nval) < 9.2e18 && r.nval == std::trunc(r.nval) &&
                           !(r.nval == 0 && std::signbit(r.nval));
        uint8_t flags = 0;
        if (r.dcAc == prev.dcAc) flags |= kSameDcAc;
        if (r.value == prev.value) flags |= kSameValue;
        if (r.unit == prev.unit) flags |= kSameUnit;
        if (r.autoText == prev.autoText) flags |= kSameAuto;
        if (whole) flags |= kWholeCounts;
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
        prev = r;
    }
    std::string entry;
    entry.reserve(kEntryHeaderBytes + payload.size());
    putU32(entry, static_cast<uint32_t>(payload.size()));
    putU32(entry, crc32(payload.data(), payload.size()));
    entry += payload;
    return entry;
}

RecordJournal::Contents RecordJournal::read(const std::string& path) {
    Contents c;
    // a pipe or a device under the name would be read until its writer stops, or for ever
    const std::string refused = PlainFile::refusal(path);
    if (!refused.empty()) {
        c.exists = true;
        c.error = "cannot read '" + path + "': " + refused;
        return c;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        struct stat st {};
        c.exists = ::stat(path.c_str(), &st) == 0;
        if (c.exists) c.error = "cannot read '" + path + "': " + std::strerror(errno);
        return c;
    }
    c.exists = true;
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < kEntryHeaderBytes) break;
        const uint32_t length = getU32(data.data() + at);
        const uint32_t crc = getU32(data.data() + at + 4);
        // an empty entry is never written: zeros at the end are a file extended but not filled
        if (length == 0 || length > kMaxEntryBytes || length > data.size() - at - kEntryHeaderBytes) break;
        const char* payload = data.data() + at + kEntryHeaderBytes;
        if (crc32(payload, length) != crc || !decodeEntry(payload, length, c.rows)) break;
        at += kEntryHeaderBytes + length;
    }
    c.goodBytes = at;
    c.torn = at < data.size();
    return c;
}

bool RecordJournal::claim(const std::string& path, Contents* left, std::string* error) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_ = path;
    std::string why;
    const int fd = PlainFile::open(path, O_RDWR | O_CREAT, 0644, &why);
    if (fd < 0) {
        if (error) *error = "cannot keep a journal of the recorded readings in '" + path + "': " + why;
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error) *error = "the journal '" + path + "' is in use by another program";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    if (left) *left = read(path);
    first_ = written_ = 0;
    size_ = static_cast<uint64_t>(::lseek(fd_, 0, SEEK_END));
    return true;
}

bool RecordJournal::truncateTo(uint64_t length) {
    if (fd_ < 0) return false;
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return false;
    size_ = length;
    return ::lseek(fd_, static_cast<off_t>(length), SEEK_SET) >= 0;
}

bool RecordJournal::resume(uint64_t goodBytes, int64_t first, int64_t written, std::string* error) {
    first_ = first;
    written_ = written;
    if (!truncateTo(goodBytes)) {
        if (error) *error = "cannot write the journal '" + path_ + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

void RecordJournal::restart(int64_t first) {
    first_ = written_ = first;
    if (size_ > 0) truncateTo(0);
}

bool RecordJournal::sync(const RecordSource& rows, std::string* error) {
    if (fd_ < 0) return true;
    const int64_t count = rows.rowCount();
    if (count < written_) restart(count);
    if (count == written_) return true;
    std::vector<RecordRow> fresh;
    fresh.reserve(static_cast<std::size_t>(count - written_));
    for (int64_t i = written_; i < count; ++i) fresh.push_back(rows.row(i));
    const std::string entry = encodeEntry(fresh);
    // a write cut short leaves a torn entry; the next one goes where this one began
    if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0 || !writeAll(fd_, entry.data(), entry.size()) ||
        ::fdatasync(fd_) != 0) {
        if (error) *error = "cannot write the journal '" + path_ + "': " + std::strerror(errno);
        // what part of the entry got there is cut away, so the next try starts clean
        (void)::ftruncate(fd_, static_cast<off_t>(size_));
        return false;
    }
    size_ += entry.size();
    written_ = count;
    return true;
}

void RecordJournal::remove() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    size_ = 0;
}
