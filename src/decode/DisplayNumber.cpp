#include "DisplayNumber.h"

#include <algorithm>

namespace {

bool isDigitText(const std::string& t) {
    return t.size() == 1 && t[0] >= '0' && t[0] <= '9';
}

}  // namespace

std::optional<int32_t> displayNumber(const std::array<std::string, 4>& digits, int first, int last,
                                     const std::string& sign) {
    int firstDigit = -1;
    int lastDigit = -1;
    for (int i = 0; i < 4; ++i) {
        if (isDigitText(digits[i])) {
            if (firstDigit < 0) firstDigit = i;
            lastDigit = i;
        }
    }
    if (firstDigit < 0) return std::nullopt;  // nothing on the display to read

    int32_t value = 0;
    for (int i = first; i <= last; ++i) {
        const std::string& t = digits[i];
        if (t.empty()) {
            if (i < firstDigit) {
                value = value * 10;  // blanked leading zero
            } else if (i > lastDigit) {
                continue;  // position after the last digit adds nothing
            } else {
                return std::nullopt;  // gap between digits
            }
        } else if (isDigitText(t)) {
            value = value * 10 + (t[0] - '0');
        } else {
            return std::nullopt;
        }
    }
    if (sign == "-") return -value;
    if (!sign.empty()) return std::nullopt;
    return value;
}

int displayDecimals(const std::array<std::string, 4>& digits, int pointPosition) {
    if (pointPosition <= 0) return 0;
    int lastDigit = -1;
    for (int i = 0; i < 4; ++i) {
        if (isDigitText(digits[i])) lastDigit = i;
    }
    return std::max(0, lastDigit - pointPosition + 1);
}
