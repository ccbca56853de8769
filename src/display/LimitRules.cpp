#include "LimitRules.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace LimitRules {

std::optional<float> limitFromText(const QString& text) {
    if (text.isEmpty()) return std::nullopt;

    qsizetype i = 0;
    const bool negative = text[0] == u'-';
    if (negative || text[0] == u'+') ++i;
    if (i == text.size()) return std::nullopt;

    // magnitude allowed by the sign: 2147483647, or 2147483648 for a negative number
    const int64_t bound = int64_t(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0);
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > bound) return std::nullopt;
    }
    return static_cast<float>(negative ? -magnitude : magnitude);
}

QString invalidIntegerMessage(const QString& text) {
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

QString beyondRangeMessage(const QString& text, int32_t fullScale) {
    return QStringLiteral("%1 lies beyond the meter's count range of %2 to %3")
        .arg(text, QString::number(-int64_t(fullScale)), QString::number(fullScale));
}

bool applyLimitText(const QString& text, int32_t fullScale, float& limit, QString* error) {
    const std::optional<float> value = limitFromText(text);
    if (!value) {
        if (error) *error = invalidIntegerMessage(text);
        return false;
    }
    if (std::abs(double(*value)) > double(fullScale)) {
        if (error) *error = beyondRangeMessage(text, fullScale);
        return false;
    }
    limit = *value;
    return true;
}

char16_t filterKey(char16_t key) {
    if ((key >= u'0' && key <= u'9') || key == 8 || key == u'+' || key == u'-') return key;
    return 0;
}

QValidator::State LimitTextValidator::validate(QString& input, int&) const {
    for (const QChar c : input) {
        // backspace passes the key filter as an editing key; in a text it is as foreign as a letter
        if (c == u'\b' || filterKey(c.unicode()) == 0) return Invalid;
    }
    // whether the signs stand in the right place is the conversion's to say, with its message
    return Acceptable;
}

}  // namespace LimitRules
