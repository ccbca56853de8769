#include "JsonText.h"

#include "NumberText.h"

namespace JsonText {

void appendString(std::string& out, std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendNumber(std::string& out, double value) {
    const std::size_t before = out.size();
    NumberText::append(out, value);
    if (out.size() == before) out += "null";
}

}  // namespace JsonText
