#include "UnitSymbols.h"

#include <utility>

namespace UnitSymbols {

std::string realUnitText(std::string_view lcdUnit) {
    std::string out;
    out.reserve(lcdUnit.size() + 4);
    const bool hasOhm = lcdUnit.find('*') != std::string_view::npos;
    const bool hasVolt = lcdUnit.find('V') != std::string_view::npos;
    bool ohmDone = false;
    for (const char c : lcdUnit) {
        switch (c) {
            // once: the variant coding adds a second ohm sign to continuity ("&**")
            case '*':
                if (!ohmDone) out += "\u03A9";
                ohmDone = true;
                break;
            case 'u':
            case '+':
                out += "\u00B5";
                break;
            case '#':
                out += "\u00B0C";
                break;
            case '?':
                out += "\u00B0F";
                break;
            // the beeper only marks continuity; the reading is a resistance
            case '&':
                if (!hasOhm) out += "\u03A9";
                break;
            // the diode test reads the forward voltage
            case ')':
                if (!hasVolt) out += 'V';
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::string lcdUnitText(std::string_view realUnit) {
    static const std::pair<std::string_view, std::string_view> codes[] = {
        {"\u03A9", "*"}, {"\u00B5", "u"}, {"\u00B0C", "#"}, {"\u00B0F", "?"}};
    std::string out;
    for (std::size_t i = 0; i < realUnit.size();) {
        bool coded = false;
        for (const auto& [real, code] : codes) {
            if (realUnit.substr(i, real.size()) == real) {
                out += code;
                i += real.size();
                coded = true;
                break;
            }
        }
        if (!coded) out += realUnit[i++];
    }
    return out;
}

std::string plainNumber(std::string_view valueText) {
    std::string_view t = valueText;
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    std::string_view whole = t, fraction;
    const auto dot = t.find('.');
    if (dot != std::string_view::npos) {
        whole = t.substr(0, dot);
        fraction = t.substr(dot + 1);
    }
    if (whole.empty() && fraction.empty()) return {};
    for (const std::string_view part : {whole, fraction})
        for (const char c : part)
            if (c < '0' || c > '9') return {};  // an overload's "L", a blank, a second point

    while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    const bool zero = (whole.empty() || whole == "0") && fraction.empty();

    std::string out;
    if (negative && !zero) out += '-';
    if (whole.empty())
        out += '0';
    else
        out += whole;
    if (!fraction.empty()) out.append(".").append(fraction);
    return out;
}

}  // namespace UnitSymbols
