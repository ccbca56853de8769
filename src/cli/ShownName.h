#pragma once

#include <string>

// File names go into one-line messages as they are, but for control characters: a newline or a
// tab in a name would break the line or hide in it, so those are written as \n, \t, \r, or \xHH.
inline std::string shownName(const std::string& name) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(name.size());
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            shown += ch;
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 0xF];
        }
    }
    return shown;
}
