#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cmath>
#include <vector>

#include "CodePage.h"
#include "ParadoxFormat.h"
#include "ParadoxTable.h"
#include "PlainFile.h"

using namespace ParadoxFormat;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ParadoxTable", text);
}

// Random access to the bytes of a table; every read is checked against the end.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual int64_t size() const = 0;
    virtual bool read(int64_t offset, uint8_t* to, int64_t length) = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const QByteArray& bytes) : bytes_(bytes) {}
    int64_t size() const override { return bytes_.size(); }
    bool read(int64_t offset, uint8_t* to, int64_t length) override {
        if (offset < 0 || length < 0 || offset > size() || length > size() - offset) return false;
        std::memcpy(to, bytes_.constData() + offset, size_t(length));
        return true;
    }

private:
    const QByteArray& bytes_;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(QFile& file) : file_(file), size_(file.size()) {}
    int64_t size() const override { return size_; }
    bool read(int64_t offset, uint8_t* to, int64_t length) override {
        if (offset < 0 || length < 0 || offset > size_ || length > size_ - offset) return false;
        return file_.seek(offset) && file_.read(reinterpret_cast<char*>(to), length) == length;
    }

private:
    QFile& file_;
    int64_t size_;
};

enum Role { RoleNo, RoleTime, RoleDcAc, RoleValue, RoleUnit, RoleAuto, RoleNval, RoleCount };
const char* const kRoleNames[RoleCount] = {"no", "time", "DC/AC", "value", "unit", "Auto", "Nval"};

struct Column {
    int offset = -1;
    uint8_t type = 0;
    int width = 0;
};

struct Block {
    uint16_t number;
    int rows;
};

struct Table {
    int recordSize = 0;
    int headerSize = 0;
    int blockSize = 0;
    int codePage = 0;
    int64_t rows = 0;
    Column columns[RoleCount];
    std::vector<Block> blocks;
};

// The width a field of this type takes in a row, or 0 for a type that never appears in tables.
int typeWidth(uint8_t type, int declared) {
    switch (type) {
        case Alpha:
            return declared;
        case Date:
        case Long:
        case Time:
        case AutoInc:
            return 4;
        case Short:
            return 2;
        case Currency:
        case Number:
        case Timestamp:
            return 8;
        case Logical:
            return 1;
        case Bcd:
            return 17;
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x18:
            return declared;  // blobs, bytes
        default:
            return 0;
    }
}

bool isNumeric(uint8_t type) {
    return type == Short || type == Long || type == AutoInc || type == Number || type == Currency;
}

bool roleAccepts(int role, uint8_t type) {
    switch (role) {
        case RoleNo:
        case RoleNval:
            return isNumeric(type);
        case RoleTime:
            return type == Time || type == Timestamp;
        default:
            return type == Alpha;
    }
}

bool sameName(const QByteArray& a, const char* b) {
    return a.compare(QByteArray(b), Qt::CaseInsensitive) == 0;
}

// A reason a table cannot be read.
Failure problem(const QString& text) {
    return Failure{text.toStdString()};
}

// Checks the header and the chain of data blocks: the table's layout, or the reason it cannot be
// read.
Result<Table> parse(ByteSource& src) {
    Table t;
    const int64_t fileSize = src.size();
    if (fileSize == 0) return problem(tr("the file is empty."));
    if (fileSize < CommonHeaderEnd) return problem(tr("the file is too short to be a Paradox table."));
    uint8_t fixed[DataHeaderEnd] = {};
    if (!src.read(0, fixed, std::min<int64_t>(fileSize, DataHeaderEnd)))
        return problem(tr("the file cannot be read."));

    const int version = fixed[VersionId];
    const int blockK = fixed[BlockSizeK];
    const int fileType = fixed[FileType];
    const bool knownBlockSize = blockK == 1 || blockK == 2 || blockK == 3 || blockK == 4 || blockK == 8 ||
                                blockK == 16 || blockK == 32;
    if (version < 3 || version > Level7VersionId || !knownBlockSize || fileType > 8)
        return problem(tr("the file is not a Paradox table."));
    if (fileType != 0 && fileType != 2) return problem(tr("the file is a Paradox index, not a table."));

    const bool dataHeader = version >= FirstDataHeaderVersion;
    const uint32_t encryption1 = u32le(fixed + Encryption1);
    const uint32_t encryption2 = dataHeader ? u32le(fixed + Encryption2) : 0;
    if ((encryption1 != 0 && encryption1 != NoEncryption) ||
        (encryption1 == NoEncryption && encryption2 != 0))
        return problem(tr("the table is protected by a password."));

    t.recordSize = u16le(fixed + RecordSize);
    t.headerSize = u16le(fixed + HeaderSize);
    t.blockSize = blockK * 1024;
    t.rows = u32le(fixed + NumRecords);
    t.codePage = dataHeader ? u16le(fixed + CodePageAt) : 0;
    const int numFields = u16le(fixed + NumFields);
    const int fieldInfo = dataHeader ? DataHeaderEnd : CommonHeaderEnd;
    if (t.headerSize > fileSize) return problem(tr("the file is truncated."));
    if (numFields < 1 || numFields > 255 || t.recordSize < 1 ||
        t.recordSize > t.blockSize - BlockHeaderSize || t.headerSize < fieldInfo + numFields * 2)
        return problem(tr("the table header is damaged."));

    std::vector<uint8_t> header(static_cast<size_t>(t.headerSize));
    if (!src.read(0, header.data(), t.headerSize)) return problem(tr("the file cannot be read."));

    // Field descriptions, then pointers only meaningful in memory, the table name and the names.
    std::vector<uint8_t> types(static_cast<size_t>(numFields));
    std::vector<int> offsets(static_cast<size_t>(numFields));
    std::vector<int> widths(static_cast<size_t>(numFields));
    int offset = 0;
    for (int i = 0; i < numFields; ++i) {
        types[size_t(i)] = header[size_t(fieldInfo + 2 * i)];
        const int width = typeWidth(types[size_t(i)], header[size_t(fieldInfo + 2 * i + 1)]);
        if (width == 0) return problem(tr("the table header is damaged."));
        offsets[size_t(i)] = offset;
        widths[size_t(i)] = width;
        offset += width;
    }
    if (offset != t.recordSize) return problem(tr("the table header is damaged."));
    const int tableNameLength = version == Level7VersionId ? Level7TableNameLength : TableNameLength;
    size_t pos = size_t(fieldInfo + numFields * 2 + 4 + numFields * 4 + tableNameLength);
    for (int i = 0; i < numFields; ++i) {
        const size_t start = pos;
        while (pos < header.size() && header[pos] != 0) ++pos;
        if (pos >= header.size()) return problem(tr("the table header is damaged."));
        const QByteArray name(reinterpret_cast<const char*>(header.data() + start), qsizetype(pos - start));
        ++pos;
        for (int role = 0; role < RoleCount; ++role) {
            if (t.columns[role].offset < 0 && sameName(name, kRoleNames[role])) {
                if (!roleAccepts(role, types[size_t(i)]))
                    return problem(tr("its field \"%1\" is of a type that cannot hold recorded readings.")
                                       .arg(QString::fromLatin1(kRoleNames[role])));
                t.columns[role] = {offsets[size_t(i)], types[size_t(i)], widths[size_t(i)]};
            }
        }
    }
    for (int role = 0; role < RoleCount; ++role) {
        if (t.columns[role].offset < 0)
            return problem(tr("the table has no field \"%1\", so it does not hold recorded readings.")
                               .arg(QString::fromLatin1(kRoleNames[role])));
    }

    // The chain of data blocks, each block visited once and lying wholly inside the file.
    const int perBlock = (t.blockSize - BlockHeaderSize) / t.recordSize;
    std::vector<bool> seen(MaxBlockNumber + 1, false);
    int64_t rowsInBlocks = 0;
    for (unsigned b = u16le(header.data() + FirstBlock); b != 0;) {
        if (seen[b]) return problem(tr("the chain of data blocks is damaged."));
        seen[b] = true;
        const int64_t at = int64_t(t.headerSize) + int64_t(b - 1) * t.blockSize;
        if (at + t.blockSize > fileSize) return problem(tr("the file is truncated."));
        uint8_t head[BlockHeaderSize];
        if (!src.read(at, head, BlockHeaderSize)) return problem(tr("the file cannot be read."));
        const int lastOffset = int16_t(u16le(head + 4));
        if (lastOffset < -t.recordSize || (lastOffset + t.recordSize) % t.recordSize != 0)
            return problem(tr("a data block is damaged."));
        const int rows = lastOffset / t.recordSize + 1;
        if (rows > perBlock) return problem(tr("a data block is damaged."));
        t.blocks.push_back({uint16_t(b), rows});
        rowsInBlocks += rows;
        b = u16le(head);
    }
    if (rowsInBlocks != t.rows)
        return problem(tr("the number of rows in the header does not match the data blocks."));
    return t;
}

int32_t readInteger(const uint8_t* p, uint8_t type) {
    switch (type) {
        case Short:
            return getInt16(p);
        case Long:
        case AutoInc:
            return getInt32(p);
        default: {
            const double v = getDouble(p);
            if (!(v > -2147483648.0 && v < 2147483647.0)) return 0;  // NaN or beyond: not a row number
            return int32_t(std::lround(v));
        }
    }
}

double readNumber(const uint8_t* p, uint8_t type) {
    return (type == Number || type == Currency) ? getDouble(p) : double(readInteger(p, type));
}

int32_t readTimeOfDay(const uint8_t* p, uint8_t type) {
    constexpr int64_t day = 86400000;
    if (type == Time) return int32_t(((int64_t(getInt32(p)) % day) + day) % day);
    const double v = getDouble(p);  // timestamp: milliseconds since the start of year 1
    if (!std::isfinite(v)) return 0;
    const double ms = std::fmod(std::fmod(v, double(day)) + day, double(day));
    return int32_t(ms);
}

void readAlpha(const uint8_t* p, int width, int codePage, std::string& to) {
    const char* s = reinterpret_cast<const char*>(p);
    size_t length = 0;
    while (length < size_t(width) && s[length] != 0) ++length;
    if (CodePage::isAscii(s, length))
        to.assign(s, length);
    else
        to = CodePage::toUtf8(s, length, codePage);
}

FileResult readFrom(ByteSource& src, const QString& name, const ParadoxTable::RowSink& sink,
                    const FileProgress& progress) {
    const Result<Table> parsed = parse(src);
    if (!parsed)
        return FileResult::failed(tr("Cannot open %1: %2").arg(name, QString::fromStdString(parsed.error())));
    const Table& t = parsed.value();

    ProgressTicker ticker(progress, t.rows);
    if (!ticker.start()) return FileResult::cancelled();
    const Column* c = t.columns;
    std::vector<uint8_t> block(static_cast<size_t>(t.blockSize));
    RecordRow row;
    int64_t done = 0;
    for (const Block& b : t.blocks) {
        const int64_t at = int64_t(t.headerSize) + int64_t(b.number - 1) * t.blockSize;
        if (!src.read(at, block.data(), t.blockSize))
            return FileResult::failed(tr("Cannot open %1: the file cannot be read.").arg(name));
        const uint8_t* r = block.data() + BlockHeaderSize;
        for (int i = 0; i < b.rows; ++i, r += t.recordSize) {
            row.no = readInteger(r + c[RoleNo].offset, c[RoleNo].type);
            row.timeMs = readTimeOfDay(r + c[RoleTime].offset, c[RoleTime].type);
            readAlpha(r + c[RoleDcAc].offset, c[RoleDcAc].width, t.codePage, row.dcAc);
            readAlpha(r + c[RoleValue].offset, c[RoleValue].width, t.codePage, row.value);
            readAlpha(r + c[RoleUnit].offset, c[RoleUnit].width, t.codePage, row.unit);
            readAlpha(r + c[RoleAuto].offset, c[RoleAuto].width, t.codePage, row.autoText);
            row.nval = readNumber(r + c[RoleNval].offset, c[RoleNval].type);
            sink(row);
            if (!ticker.tick(++done)) return FileResult::cancelled();
        }
    }
    ticker.finish();
    FileResult result;
    result.rows = done;
    return result;
}

}  // namespace

namespace ParadoxTable {

FileResult read(const QString& path, const RowSink& sink, const FileProgress& progress) {
    const QString name = QDir::toNativeSeparators(path);
    const Result<int> opened = PlainFile::open(PlainFile::toNative(path).toStdString(), O_RDONLY, 0);
    if (!opened)
        return FileResult::failed(tr("Cannot open %1: %2").arg(name, QString::fromStdString(opened.error())));
    const int fd = opened.value();
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return FileResult::failed(tr("Cannot open %1: %2").arg(name, file.errorString()));
    }
    FileSource src(file);
    return readFrom(src, name, sink, progress);
}

FileResult readBytes(const QByteArray& bytes, const RowSink& sink, const FileProgress& progress) {
    MemorySource src(bytes);
    return readFrom(src, tr("the table"), sink, progress);
}

}  // namespace ParadoxTable
