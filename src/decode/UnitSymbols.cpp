#include "UnitSymbols.h"

#include <charconv>

std::string realUnitText(std::string_view lcdUnit) {
    std::string out;
    out.reserve(lcdUnit.size() + 4);
    bool ohm = false;
    for (std::size_t i = 0; i < lcdUnit.size(); ++i) {
        switch (lcdUnit[i]) {
        case 'u':
        case '+': out += "\xC2\xB5"; break;  // µ
        case '*':
        case '&':
            // the beeper of continuity shows beside the ohm sign on some meters: one ohm only
            if (!ohm) out += "\xCE\xA9";  // Ω
            ohm = true;
            break;
        case '#': out += "\xC2\xB0" "C"; break;  // °C
        case '?': out += "\xC2\xB0" "F"; break;
        case ')': out += 'V'; break;
        default: out += lcdUnit[i];
        }
    }
    return out;
}

std::optional<double> plainNumber(std::string_view valueText) {
    if (valueText.empty()) return std::nullopt;
    // digits, one point and a leading sign only: no exponent, no "inf", no overload letter
    int points = 0;
    int digits = 0;
    for (std::size_t i = 0; i < valueText.size(); ++i) {
        const char c = valueText[i];
        if (c >= '0' && c <= '9') ++digits;
        else if (c == '.') ++points;
        else if (!(c == '-' && i == 0)) return std::nullopt;
    }
    if (digits == 0 || points > 1) return std::nullopt;
    // from_chars reads the C notation whatever the locale the program runs in
    double v = 0;
    const auto r = std::from_chars(valueText.data(), valueText.data() + valueText.size(), v);
    if (r.ec != std::errc() || r.ptr != valueText.data() + valueText.size()) return std::nullopt;
    return v;
}
