#include "RuleText.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "BenchUnits.h"

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A decimal number at the start of `s` (no sign taken here), consumed from `s`.
std::optional<double> leadingNumber(std::string_view& s) {
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end == s.data()) return std::nullopt;
    s.remove_prefix(size_t(end - s.data()));
    return value;
}

}  // namespace

namespace RuleText {

Result<int64_t> durationUs(std::string_view text) {
    std::string_view s = trimmed(text);
    const std::string shown = "'" + std::string(text) + "'";
    if (s.empty()) return Failure{"a duration is expected, such as 90, 45s, 2min or 1h30m"};
    double seconds = 0;
    // the units in the order they may follow one another
    struct Unit {
        std::string_view name;
        double seconds;
    };
    static constexpr Unit kUnits[] = {{"h", 3600}, {"min", 60}, {"m", 60}, {"s", 1}};
    size_t nextUnit = 0;
    bool any = false;
    while (!s.empty()) {
        const std::optional<double> number = leadingNumber(s);
        if (!number || !std::isfinite(*number))
            return Failure{"not a duration: " + shown + " (such as 90, 45s, 2min or 1h30m)"};
        s = trimmed(s);
        if (s.empty() && !any) {
            seconds = *number;
            any = true;
            break;
        }
        bool found = false;
        for (size_t u = nextUnit; u < std::size(kUnits) && !found; ++u) {
            const std::string_view name = kUnits[u].name;
            // "m" must not take the "m" of "min"
            if (s.substr(0, name.size()) == name &&
                (s.size() == name.size() || !std::isalpha(static_cast<unsigned char>(s[name.size()])))) {
                seconds += *number * kUnits[u].seconds;
                s.remove_prefix(name.size());
                s = trimmed(s);
                nextUnit = u + (name == "min" ? 2 : 1);
                found = true;
            }
        }
        if (!found) return Failure{"not a duration: " + shown + " (units h, min and s, in that order)"};
        any = true;
    }
    if (seconds > 1e9) return Failure{"too long a duration: " + shown};
    return static_cast<int64_t>(std::llround(seconds * 1e6));
}

double Quantity::base() const {
    return BenchUnits::splitPrefix(unit).toBase(number);
}

QString Quantity::baseUnit() const {
    return BenchUnits::splitPrefix(unit).base;
}

double Quantity::scale() const {
    return BenchUnits::splitPrefix(unit).toBase(1.0);
}

Result<Quantity> quantity(const QString& text) {
    const std::string bytes = text.toStdString();
    std::string_view s = trimmed(bytes);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    const std::optional<double> number = leadingNumber(s);
    if (!number || !std::isfinite(*number)) return Failure{"a number is expected: " + quoted(text)};
    Quantity q;
    q.number = negative ? -*number : *number;
    const std::string_view unit = trimmed(s);
    q.unit = QString::fromUtf8(unit.data(), qsizetype(unit.size()));
    for (const QChar c : q.unit) {
        if (c.isDigit() || c.isSpace() || c == '(' || c == ')' || c == '*' || c == '/' || c == '+' ||
            c == '-')
            return Failure{"a number and a unit are expected: " + quoted(text)};
    }
    return q;
}

}  // namespace RuleText
