#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <ctime>
#include <optional>
#include <vector>

#include "CodePage.h"
#include "ParadoxFormat.h"
#include "ParadoxTable.h"
#include "SaveBesideFile.h"

using namespace ParadoxFormat;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ParadoxTable", text);
}

struct FieldDef {
    const char* name;
    FieldType type;
    int width;
};

std::vector<FieldDef> fieldsFor(const ParadoxTable::Widths& w) {
    return {{"no", Long, 4},           {"time", Time, 4},       {"DC/AC", Alpha, w.dcAc},
            {"value", Alpha, w.value}, {"unit", Alpha, w.unit}, {"Auto", Alpha, w.autoText},
            {"Nval", Number, 8}};
}

constexpr int kBlockSizesK[] = {4, 16, 32};
constexpr int kMaxAlphaWidth = 255;

int64_t rowsPerBlock(int blockK, int recordSize) {
    return (blockK * 1024 - BlockHeaderSize) / recordSize;
}

// The smallest block size whose 65,535 blocks hold `rows`, or 0 when none does.
int blockSizeKFor(int64_t rows, int recordSize) {
    for (int k : kBlockSizesK) {
        if (rows <= rowsPerBlock(k, recordSize) * MaxBlockNumber) return k;
    }
    return 0;
}

QByteArray headerBlock(const std::vector<FieldDef>& fields, int recordSize, int blockK, int64_t rows,
                       int blocks, const QString& path) {
    const int n = int(fields.size());
    int namesLength = 0;
    for (const FieldDef& f : fields) namesLength += int(std::strlen(f.name)) + 1;
    const int realSize = DataHeaderEnd + n * (2 + 4 + 2) + 4 + Level7TableNameLength + namesLength + 9;
    const int headerSize = (realSize / 0x800 + 1) * 0x800;

    QByteArray block(headerSize, '\0');
    auto* h = reinterpret_cast<uint8_t*>(block.data());
    putU16le(h + RecordSize, unsigned(recordSize));
    putU16le(h + HeaderSize, unsigned(headerSize));
    h[FileType] = 2;
    h[BlockSizeK] = uint8_t(blockK);
    putU32le(h + NumRecords, uint32_t(rows));
    putU16le(h + BlocksInUse, unsigned(blocks));
    putU16le(h + FileBlocks, unsigned(blocks));
    putU16le(h + FirstBlock, blocks > 0 ? 1u : 0u);
    putU16le(h + LastBlock, unsigned(blocks));
    putU16le(h + NumFields, unsigned(n));
    putU32le(h + Encryption1, NoEncryption);
    h[SortOrder] = 0x62;
    h[ChangeCount1] = 2;
    h[ChangeCount2] = 1;
    h[VersionId] = Level7VersionId;
    putU16le(h + MaxBlocks, unsigned(blocks));
    h[Unknown3E] = 0x1F;
    h[Unknown3E + 1] = 0x0F;
    putU16le(h + RealHeaderSize, unsigned(realSize));
    h[Unknown56] = 0x20;

    putU16le(h + VersionId3, 0x010C);
    putU16le(h + VersionId4, 0x010C);
    putU32le(h + UpdateTime, uint32_t(std::time(nullptr)));
    putU16le(h + HiFieldId, unsigned(n + 1));
    putU16le(h + HiFieldIdInfo, unsigned(0x20 + n * 6 + 4 + Level7TableNameLength + namesLength));
    putU16le(h + CodePageAt, CodePage::Windows1252);
    h[Unknown6C] = 1;
    h[Unknown6C + 1] = 1;
    putU16le(h + Unknown6C + 2, unsigned(0x18 + n * 8 + 4 + Level7TableNameLength + namesLength + 8));

    uint8_t* p = h + DataHeaderEnd;
    for (const FieldDef& f : fields) {
        *p++ = f.type;
        *p++ = uint8_t(f.width);
    }
    p += 4 + 4 * n;  // table name pointer and field name pointers: meaningful only in memory
    const std::string tableName = CodePage::toWindows1252(QFileInfo(path).completeBaseName().toStdString())
                                      .substr(0, Level7TableNameLength - 1);
    std::memcpy(p, tableName.data(), tableName.size());
    p += Level7TableNameLength;
    for (const FieldDef& f : fields) {
        const size_t len = std::strlen(f.name) + 1;
        std::memcpy(p, f.name, len);
        p += len;
    }
    for (int i = 1; i <= n; ++i, p += 2) putU16le(p, unsigned(i));
    std::memcpy(p, "ANSIINTL", 8);
    return block;
}

// Copies a text into an alpha field, blank-padded with zero bytes. False when it is too long.
bool putAlpha(uint8_t* field, int width, const std::string& text) {
    std::memset(field, 0, size_t(width));
    if (CodePage::isAscii(text.data(), text.size())) {
        if (text.size() > size_t(width)) return false;
        std::memcpy(field, text.data(), text.size());
        return true;
    }
    const std::string encoded = CodePage::toWindows1252(text);
    if (encoded.size() > size_t(width)) return false;
    std::memcpy(field, encoded.data(), encoded.size());
    return true;
}

int encodedLength(const std::string& text) {
    return int(CodePage::isAscii(text.data(), text.size()) ? text.size()
                                                           : CodePage::toWindows1252(text).size());
}

bool putRow(uint8_t* p, const ParadoxTable::Widths& w, const RecordRow& row) {
    putInt32(p, row.no);
    putInt32(p + 4, row.timeMs);
    p += 8;
    if (!putAlpha(p, w.dcAc, row.dcAc)) return false;
    p += w.dcAc;
    if (!putAlpha(p, w.value, row.value)) return false;
    p += w.value;
    if (!putAlpha(p, w.unit, row.unit)) return false;
    p += w.unit;
    if (!putAlpha(p, w.autoText, row.autoText)) return false;
    p += w.autoText;
    putDouble(p, row.nval);
    return true;
}

// One pass over the rows with fixed widths: the outcome, or nothing when a row does not fit (and
// nothing was written at the target).
std::optional<FileResult> writeWith(const QString& path, const RecordSource& rows,
                                    const ParadoxTable::Widths& widths, const FileProgress& progress) {
    const std::vector<FieldDef> fields = fieldsFor(widths);
    const int recSize = ParadoxTable::recordSize(widths);
    const int64_t total = rows.rowCount();
    const int blockK = blockSizeKFor(total, recSize);
    if (blockK == 0) {
        return FileResult::failed(tr("A table holds at most %L1 rows; %L2 rows cannot be saved as a table. "
                                     "Nothing was written to %3.")
                                      .arg(ParadoxTable::capacity(widths))
                                      .arg(total)
                                      .arg(QDir::toNativeSeparators(path)));
    }
    const int64_t perBlock = rowsPerBlock(blockK, recSize);
    const int blocks = int((total + perBlock - 1) / perBlock);

    SaveBesideFile file(path);
    auto failure = [&](const QString& why) {
        file.cancelWriting();
        return FileResult::failed(
            tr("Could not write the table %1: %2").arg(QDir::toNativeSeparators(path), why));
    };
    if (!file.open(QIODevice::WriteOnly)) return failure(file.errorString());
    const QByteArray header = headerBlock(fields, recSize, blockK, total, blocks, path);
    if (file.write(header) != header.size()) return failure(file.errorString());

    ProgressTicker ticker(progress, total);
    if (!ticker.start()) {
        file.cancelWriting();
        return FileResult::cancelled();
    }
    const int blockSize = blockK * 1024;
    std::vector<uint8_t> block(static_cast<size_t>(blockSize));
    int64_t index = 0;
    for (int b = 1; b <= blocks; ++b) {
        std::fill(block.begin(), block.end(), 0);
        const int64_t count = std::min<int64_t>(perBlock, total - index);
        putU16le(block.data(), b < blocks ? unsigned(b + 1) : 0u);
        putU16le(block.data() + 2, unsigned(b - 1));
        putU16le(block.data() + 4, unsigned((count - 1) * recSize));
        uint8_t* p = block.data() + BlockHeaderSize;
        for (int64_t i = 0; i < count; ++i, ++index, p += recSize) {
            if (!putRow(p, widths, rows.row(index))) {
                file.cancelWriting();
                return std::nullopt;
            }
            if (!ticker.tick(index)) {
                file.cancelWriting();
                return FileResult::cancelled();
            }
        }
        if (file.write(reinterpret_cast<const char*>(block.data()), blockSize) != blockSize)
            return failure(file.errorString());
    }
    if (!file.commit()) return failure(file.errorString());
    ticker.finish();
    FileResult written;
    written.rows = total;
    return written;
}

}  // namespace

namespace ParadoxTable {

int recordSize(const Widths& w) {
    return 4 + 4 + w.dcAc + w.value + w.unit + w.autoText + 8;
}

int64_t capacity(const Widths& widths) {
    return rowsPerBlock(kBlockSizesK[std::size(kBlockSizesK) - 1], recordSize(widths)) * MaxBlockNumber;
}

FileResult write(const QString& path, const RecordSource& rows, const FileProgress& progress) {
    Widths widths;
    if (const std::optional<FileResult> done = writeWith(path, rows, widths, progress)) return *done;

    // Some text is wider than the usual fields: size each field to its longest text.
    for (int64_t i = 0, n = rows.rowCount(); i < n; ++i) {
        const RecordRow row = rows.row(i);
        widths.dcAc = std::max(widths.dcAc, encodedLength(row.dcAc));
        widths.value = std::max(widths.value, encodedLength(row.value));
        widths.unit = std::max(widths.unit, encodedLength(row.unit));
        widths.autoText = std::max(widths.autoText, encodedLength(row.autoText));
    }
    if (std::max({widths.dcAc, widths.value, widths.unit, widths.autoText}) > kMaxAlphaWidth) {
        return FileResult::failed(
            tr("A text of the rows is longer than the %1 characters a table field holds. "
               "Nothing was written to %2.")
                .arg(kMaxAlphaWidth)
                .arg(QDir::toNativeSeparators(path)));
    }
    // every text fits the widened fields
    return writeWith(path, rows, widths, progress).value_or(FileResult());
}

FileResult createEmpty(const QString& path) {
    struct NoRows : RecordSource {
        int64_t rowCount() const override { return 0; }
        RecordRow row(int64_t) const override { return {}; }
    } none;
    return write(path, none);
}

}  // namespace ParadoxTable
