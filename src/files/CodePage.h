#pragma once

#include <string>

// Texts of rows are UTF-8 in memory (the meter's texts are plain ASCII). Table files keep
// 8-bit texts in a code page named in their header; tables written here use Windows-1252.
namespace CodePage {

constexpr int Windows1252 = 1252;

// Encodes UTF-8 text into Windows-1252; characters it lacks become '?'.
std::string toWindows1252(const std::string& utf8);

// Decodes 8-bit text of the given code page into UTF-8. Code pages without a known decoder are
// read as Windows-1252.
std::string toUtf8(const char* bytes, size_t length, int codePage);

inline bool isAscii(const char* bytes, size_t length) {
    unsigned char any = 0;
    for (size_t i = 0; i < length; ++i) any |= static_cast<unsigned char>(bytes[i]);
    return any < 0x80;
}

}  // namespace CodePage
