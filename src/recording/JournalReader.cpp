#include "JournalReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "PlainFile.h"

using namespace JournalFormat;

namespace {

// The file is read in windows of this size; a larger entry gets a window of its own size.
constexpr std::size_t kWindowBytes = 1u << 20;

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

uint32_t getU32(const char* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(p[i])) << (8 * i);
    return v;
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

// A cheap look at the start of a payload before its CRC is worked out: a row count that fits and
// a first row's flags that a writer sets. Most false starts in damaged bytes fail here.
bool plausibleStart(const char* payload, std::size_t size) {
    PayloadReader in(payload, std::min<std::size_t>(size, 16));
    uint64_t count = 0;
    uint8_t flags = 0;
    return in.varint(count) && count > 0 && count <= size && in.byte(flags) && (flags & ~kAllFlags) == 0;
}

bool decodeEntry(const char* payload, std::size_t size, std::vector<RecordRow>& out) {
    PayloadReader in(payload, size);
    uint64_t count = 0;
    if (!in.varint(count) || count == 0 || count > size) return false;
    RecordRow prev;
    out.clear();
    out.reserve(static_cast<std::size_t>(count));
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
        if (flags & kNewDate) {
            int64_t dDay = 0, offset = 0;
            if (!in.signedVarint(dDay) || !in.signedVarint(offset)) return false;
            // a day number beyond 32 bits or an offset beyond a day is no row this program wrote
            if (dDay < -(int64_t(1) << 32) || dDay > (int64_t(1) << 32) || offset < -1440 || offset > 1440)
                return false;
            r.day = static_cast<int32_t>(static_cast<int64_t>(prev.day) + dDay);
            r.utcOffsetMin = static_cast<int32_t>(offset);
        }
        out.push_back(r);
        prev = std::move(r);
    }
    return in.atEnd();
}

}  // namespace

uint32_t JournalFormat::crc32(const char* data, std::size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = kCrcTable[(c ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

Result<> JournalReader::open(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    buffer_.clear();
    bufferAt_ = 0;
    rewind();
    // a named pipe or a device under the name is refused without waiting on it
    errno = 0;
    const Result<int> opened = PlainFile::open(path, O_RDONLY, 0);
    missing_ = !opened && errno == ENOENT;
    if (!opened) return Failure{"cannot read '" + path + "': " + opened.error()};
    struct stat st {};
    if (::fstat(opened.value(), &st) != 0) {
        const std::string why = std::strerror(errno);
        ::close(opened.value());
        return Failure{"cannot read '" + path + "': " + why};
    }
    fd_ = opened.value();
    size_ = static_cast<uint64_t>(st.st_size);
    return {};
}

JournalReader::~JournalReader() {
    if (fd_ >= 0) ::close(fd_);
}

void JournalReader::rewind() {
    at_ = goodEnd_ = 0;
    skipped_ = 0;
    atEnd_ = false;
}

const char* JournalReader::bytesAt(uint64_t at, std::size_t n) {
    if (at < bufferAt_ || at + n > bufferAt_ + buffer_.size()) {
        const uint64_t want = std::min<uint64_t>(std::max(n, kWindowBytes), size_ - at);
        buffer_.resize(static_cast<std::size_t>(want));
        bufferAt_ = at;
        std::size_t got = 0;
        while (got < buffer_.size()) {
            const ssize_t r =
                ::pread(fd_, buffer_.data() + got, buffer_.size() - got, static_cast<off_t>(at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        buffer_.resize(got);
        if (got < n) return nullptr;
    }
    return buffer_.data() + (at - bufferAt_);
}

bool JournalReader::entryAt(uint64_t at, std::vector<RecordRow>& rows, uint64_t* length) {
    *length = 0;
    if (at >= size_ || size_ - at < kEntryHeaderBytes) return false;
    const char* header = bytesAt(at, kEntryHeaderBytes);
    if (!header) return false;
    const uint32_t size = getU32(header);
    const uint32_t crc = getU32(header + 4);
    // an empty entry is never written: zeros are a file extended but not filled
    if (size == 0 || size > kMaxEntryBytes || size > size_ - at - kEntryHeaderBytes) return false;
    *length = size;
    const char* payload = bytesAt(at + kEntryHeaderBytes, size);
    return payload && plausibleStart(payload, size) && crc32(payload, size) == crc &&
           decodeEntry(payload, size, rows);
}

bool JournalReader::next(std::vector<RecordRow>& rows) {
    if (fd_ < 0 || atEnd_) return false;
    uint64_t length = 0;
    if (at_ < size_) {
        if (entryAt(at_, rows, &length)) {
            at_ += kEntryHeaderBytes + length;
            goodEnd_ = at_;
            return true;
        }
        // Damage. An entry whose header is whole has its successor right behind it; otherwise
        // every later offset is a candidate.
        uint64_t found = 0;
        if (length > 0 && entryAt(at_ + kEntryHeaderBytes + length, rows, &found)) {
            at_ += kEntryHeaderBytes + length;
        } else {
            for (++at_; at_ + kEntryHeaderBytes < size_; ++at_) {
                if (entryAt(at_, rows, &found)) break;
            }
        }
        if (at_ + kEntryHeaderBytes < size_) {
            ++skipped_;
            at_ += kEntryHeaderBytes + found;
            goodEnd_ = at_;
            return true;
        }
    }
    atEnd_ = true;
    return false;
}

JournalRows::JournalRows(const std::string& path, int64_t rows) : count_(rows) {
    // a journal that cannot be read gives empty rows
    (void)reader_.open(path);
}
JournalRows::~JournalRows() = default;

RecordRow JournalRows::row(int64_t index) const {
    if (index < 0 || index >= count_) return {};
    if (index < entryFirst_) {
        reader_.rewind();
        entry_.clear();
        entryFirst_ = 0;
    }
    while (index >= entryFirst_ + static_cast<int64_t>(entry_.size())) {
        entryFirst_ += static_cast<int64_t>(entry_.size());
        if (!reader_.next(entry_)) {
            entry_.clear();
            return {};
        }
    }
    return entry_[static_cast<std::size_t>(index - entryFirst_)];
}
