#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace NumberText {

void append(std::string& out, double value) {
    if (!std::isfinite(value)) return;
    // the longest fixed text of a double: 309 digits, or "0." with 323 zeros and a digit
    char text[400];
    // Counts are nearly always whole: below 2^53 those convert exactly to an integer, which
    // prints far faster than the floating-point path, and never as "-0".
    const bool whole = std::fabs(value) < 9007199254740992.0 && value == std::trunc(value);
    const auto end = whole ? std::to_chars(text, text + sizeof text, static_cast<int64_t>(value)).ptr
                           : std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
    out.append(text, static_cast<size_t>(end - text));
}

std::string of(double value) {
    std::string text;
    append(text, value);
    return text;
}

}  // namespace NumberText
