#pragma once

#include <cstdint>
#include <cstring>

// Byte layout of a Paradox table file (.DB) as far as the record tables need it. The header
// block holds the table description; the data blocks that follow, all of one size, form a
// linked list of rows. Header and block headers are little-endian; field values in rows are
// big-endian with the sign bit flipped, so that bytes sort like values, and all-zero bytes mean
// a blank field.
namespace ParadoxFormat {

// Offsets in the header block.
constexpr int RecordSize = 0x00;       // u16
constexpr int HeaderSize = 0x02;       // u16
constexpr int FileType = 0x04;         // u8: 0 keyed table, 2 table without key
constexpr int BlockSizeK = 0x05;       // u8: data block size in KiB
constexpr int NumRecords = 0x06;       // u32
constexpr int BlocksInUse = 0x0A;      // u16
constexpr int FileBlocks = 0x0C;       // u16
constexpr int FirstBlock = 0x0E;       // u16
constexpr int LastBlock = 0x10;        // u16
constexpr int NumFields = 0x21;        // u16
constexpr int KeyFields = 0x23;        // u16
constexpr int Encryption1 = 0x25;      // u32
constexpr int SortOrder = 0x29;        // u8
constexpr int ChangeCount1 = 0x2D;     // u8
constexpr int ChangeCount2 = 0x2E;     // u8
constexpr int VersionId = 0x39;        // u8: 3 ... 12
constexpr int MaxBlocks = 0x3A;        // u16
constexpr int Unknown3E = 0x3E;        // two bytes, 0x1F 0x0F in tables of level 4 and later
constexpr int RealHeaderSize = 0x51;   // u16
constexpr int Unknown56 = 0x56;        // u8, 0x20
constexpr int CommonHeaderEnd = 0x58;  // field descriptions start here before level 4
// The data header of level 4 and later tables.
constexpr int VersionId3 = 0x58;     // u16
constexpr int VersionId4 = 0x5A;     // u16
constexpr int Encryption2 = 0x5C;    // u32
constexpr int UpdateTime = 0x60;     // u32
constexpr int HiFieldId = 0x64;      // u16
constexpr int HiFieldIdInfo = 0x66;  // u16
constexpr int CodePageAt = 0x6A;     // u16
constexpr int Unknown6C = 0x6C;      // bytes 0x6C, 0x6D and u16 at 0x6E
constexpr int DataHeaderEnd = 0x78;  // field descriptions start here from level 4 on

constexpr uint32_t NoEncryption = 0xFF00FF00u;
constexpr int Level7VersionId = 12;
constexpr int FirstDataHeaderVersion = 5;  // version ids from 5 (level 4) on have the data header
constexpr int BlockHeaderSize = 6;         // next u16, previous u16, offset of last row i16
constexpr int MaxBlockNumber = 0xFFFF;
constexpr int TableNameLength = 79;  // before level 7
constexpr int Level7TableNameLength = 261;

// Field type codes.
enum FieldType : uint8_t {
    Alpha = 0x01,
    Date = 0x02,
    Short = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Number = 0x06,
    Logical = 0x09,
    Time = 0x14,
    Timestamp = 0x15,
    AutoInc = 0x16,
    Bcd = 0x17,
};

inline uint16_t u16le(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t u32le(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void putU16le(uint8_t* p, unsigned v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putU32le(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Integers in rows: big-endian two's complement with the top bit flipped; 0 bytes are blank.
inline void putInt32(uint8_t* p, int32_t v) {
    const uint32_t u = uint32_t(v) ^ 0x80000000u;
    p[0] = uint8_t(u >> 24);
    p[1] = uint8_t(u >> 16);
    p[2] = uint8_t(u >> 8);
    p[3] = uint8_t(u);
}
inline int32_t getInt32(const uint8_t* p) {
    const uint32_t u = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    return u == 0 ? 0 : int32_t(u ^ 0x80000000u);
}
inline int16_t getInt16(const uint8_t* p) {
    const uint16_t u = uint16_t((p[0] << 8) | p[1]);
    return u == 0 ? 0 : int16_t(u ^ 0x8000u);
}

// Numbers in rows: IEEE double, big-endian; positive values get the sign bit set, negative
// values have every bit inverted.
inline void putDouble(uint8_t* p, double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    u = (u & 0x8000000000000000ull) ? ~u : (u | 0x8000000000000000ull);
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(u >> (56 - 8 * i));
}
inline double getDouble(const uint8_t* p) {
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u = (u << 8) | p[i];
    if (u == 0) return 0.0;
    u = (u & 0x8000000000000000ull) ? (u & 0x7FFFFFFFFFFFFFFFull) : ~u;
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}

}  // namespace ParadoxFormat
