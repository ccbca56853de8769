// The texts of the edits that take numbers: the alarm limits and their key filter. Each rule is
// checked against a plain restatement of what it accepts.
#include "FuzzEntries.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <QString>

#include "LimitRules.h"

namespace {

void fail(const char* rule, const QString& text) {
    std::fprintf(stderr, "fuzz texts: %s on '%s'\n", rule, text.toUtf8().constData());
    std::abort();
}

// An optional sign and decimal digits in the signed 32-bit range; "", "-" and "+" count as 0.
std::optional<int64_t> referenceInteger(const QString& text) {
    if (text.isEmpty() || text == QLatin1String("-") || text == QLatin1String("+")) return 0;
    qsizetype i = (text[0] == u'-' || text[0] == u'+') ? 1 : 0;
    if (i == text.size()) return std::nullopt;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > (int64_t(1) << 31)) return std::nullopt;
    }
    const int64_t value = text[0] == u'-' ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return value;
}

void limitText(const QString& text) {
    const std::optional<int64_t> expected = referenceInteger(text);
    float limit = 1234.5f;
    QString error;
    const bool applied = LimitRules::applyLimitText(text, limit, &error);
    if (applied != expected.has_value()) fail("limit text accepted or refused wrongly", text);
    if (applied && limit != static_cast<float>(*expected)) fail("limit text gives the wrong limit", text);
    if (!applied && (limit != 1234.5f || !error.contains(text))) fail("a refused limit text changed the limit", text);
    for (const QChar c : text) {
        const char16_t key = c.unicode();
        const bool passes = (key >= u'0' && key <= u'9') || key == 8 || key == u'+' || key == u'-';
        if (LimitRules::filterKey(key) != (passes ? key : 0)) fail("limit key filter", text);
    }
}

}  // namespace

namespace FuzzEntries {

int texts(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    switch (data[0] % 1) {
    default: limitText(text); break;
    }
    return 0;
}

}  // namespace FuzzEntries
