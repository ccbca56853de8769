// The texts of the edits that take numbers: the alarm limits and their key filter, the sampling
// interval of the record store and the chart's points per page. Each rule is checked against a
// plain restatement of what it accepts.
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "ChartPaging.h"
#include "FuzzEntries.h"
#include "IntervalKeys.h"
#include "LimitRules.h"
#include "RecordStore.h"
#include "RecordTable.h"

namespace {

void fail(const char* rule, const QString& text) {
    std::fprintf(stderr, "fuzz texts: %s on '%s'\n", rule, text.toUtf8().constData());
    std::abort();
}

// An optional sign and decimal digits in the signed 32-bit range; "", "-" and "+" are none.
std::optional<int64_t> referenceInteger(const QString& text) {
    if (text.isEmpty()) return std::nullopt;
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
    const std::optional<int64_t> integer = referenceInteger(text);
    // within the count range of 4000 counts
    const int64_t value = integer.value_or(INT64_MAX);
    const bool valid = value >= -4000 && value <= 4000;
    float limit = 1234.5f;
    QString error;
    const bool applied = LimitRules::applyLimitText(text, 4000, limit, &error);
    if (applied != valid) fail("limit text accepted or refused wrongly", text);
    if (applied && limit != static_cast<float>(value)) fail("limit text gives the wrong limit", text);
    if (!applied && (limit != 1234.5f || !error.contains(text)))
        fail("a refused limit text changed the limit", text);
    for (const QChar c : text) {
        const char16_t key = c.unicode();
        const bool passes = (key >= u'0' && key <= u'9') || key == 8 || key == u'+' || key == u'-';
        if (LimitRules::filterKey(key) != (passes ? key : 0)) fail("limit key filter", text);
    }
}

void intervalText(const QString& text) {
    const std::optional<int64_t> expected = referenceInteger(text);
    const std::string utf8 = text.toStdString();
    const std::optional<int32_t> parsed = RecordStore::parseInterval(utf8);
    if (parsed.has_value() != expected.has_value()) fail("interval text accepted or refused wrongly", text);
    if (parsed && *parsed != *expected) fail("interval text gives the wrong interval", text);

    // the edit's change handler: a good text restarts the countdown, a bad one changes nothing
    RecordState state;
    RecordTable table;
    RecordStore store(state, table);
    state.SampleInterval = 7;
    state.SampleCountdown = 3;
    const Result<> change = store.RecordSITimeChange(utf8);
    const bool applied = change.ok();
    const std::string& error = change.error();
    if (applied != parsed.has_value()) fail("interval edit disagrees with the interval rule", text);
    if (applied && (state.SampleInterval != *parsed || state.SampleCountdown != *parsed))
        fail("interval edit did not restart the countdown", text);
    if (!applied &&
        (state.SampleInterval != 7 || state.SampleCountdown != 3 || error.find(utf8) == std::string::npos))
        fail("a refused interval text changed the countdown", text);
    for (const QChar c : text) {
        const char16_t key = c.unicode();
        const bool passes = (key >= u'0' && key <= u'9') || key == 8;
        if (IntervalKeys::RecordSITimeKeyPress(key) != (passes ? key : 0)) fail("interval key filter", text);
    }
}

// `points` in the chart when the text is typed; the chart is on its last page.
void pointsPerPageText(const QString& text, int64_t points) {
    // blanks around the number are allowed, the empty text is not a number
    const QString bare = text.trimmed();
    std::optional<int64_t> expected;
    if (!bare.isEmpty() && bare != QLatin1String("-") && bare != QLatin1String("+"))
        expected = referenceInteger(bare);
    const bool accepted = expected && *expected >= 0;

    ChartPaging paging;
    paging.setPage(INT32_MAX, points);
    const int before = paging.MaxPointsPerPage();
    QString error;
    const bool applied = paging.applyMaxrecordText(text, points, &error);
    if (applied != accepted) fail("points-per-page text accepted or refused wrongly", text);
    if (applied && paging.MaxPointsPerPage() != *expected)
        fail("points-per-page text gives the wrong count", text);
    if (!applied && (paging.MaxPointsPerPage() != before || error.isEmpty()))
        fail("a refused points-per-page text changed the paging", text);

    // whatever the count, the page stays among the pages and shows points of the chart only
    uint8_t follow = 1;
    for (int step = 0; step < 3; ++step) {
        const int pages = paging.pageCount(points);
        if (paging.Page() < 1 || paging.Page() > pages) fail("page beyond the pages", text);
        const PageView v = paging.view(points);
        if (v.first < 0 || v.count < 0 || v.first + v.count > points || v.axisMin > v.axisMax)
            fail("page view outside the points", text);
        if (paging.MaxPointsPerPage() > 0 && v.count > paging.MaxPointsPerPage())
            fail("page holds too many points", text);
        if (step == 0) paging.next(points, follow);
        if (step == 1) paging.last(points, follow);
    }
}

}  // namespace

namespace FuzzEntries {

int texts(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    // byte 0: the rule, and for the points per page the points already in the chart
    switch (data[0] % 3) {
        case 0:
            limitText(text);
            break;
        case 1:
            intervalText(text);
            break;
        default:
            pointsPerPageText(text, int64_t(data[0] / 3) * 997);
            break;
    }
    return 0;
}

}  // namespace FuzzEntries
