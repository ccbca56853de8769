#pragma once

#include <cstddef>
#include <cstdint>

// The entry format of the journal of unsaved rows: a 4-byte payload length, the payload's CRC-32
// and the payload, little-endian. The payload is a row count and the rows, each a flags byte, the
// steps of number and time from the row before, the texts that changed, and the counts.
namespace JournalFormat {

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
    // The day or the UTC offset differs from the previous row's: the change of the day and the
    // offset follow the counts. Journals written before rows had dates never set it, so their
    // rows come back without one.
    kNewDate = 0x20,
    kAllFlags = 0x3F,
};

uint32_t crc32(const char* data, std::size_t size);

}  // namespace JournalFormat
