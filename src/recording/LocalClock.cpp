#include "LocalClock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int64_t kQuarterMs = 15 * 60 * 1000;

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Digits at text[at, at + count) as a number; -1 when any of them is not a digit.
int digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

}  // namespace

LocalStamp LocalClock::at(int64_t utcMs) {
    if (utcMs < validFrom_ || utcMs >= validUntil_) {
        validFrom_ = floorDiv(utcMs, kQuarterMs) * kQuarterMs;
        validUntil_ = validFrom_ + kQuarterMs;
        const std::time_t t = static_cast<std::time_t>(floorDiv(utcMs, 1000));
        std::tm local{};
        localtime_r(&t, &local);
        offsetMs_ = static_cast<int64_t>(local.tm_gmtoff) * 1000;
    }
    const int64_t localMs = utcMs + offsetMs_;
    LocalStamp s;
    s.day = static_cast<int32_t>(floorDiv(localMs, kDayMs));
    s.timeMs = static_cast<int32_t>(localMs - static_cast<int64_t>(s.day) * kDayMs);
    s.utcOffsetMin = static_cast<int32_t>(offsetMs_ / 60000);
    return s;
}

int64_t LocalClock::utcNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

LocalStamp LocalClock::now() {
    return at(utcNowMs());
}

std::optional<int64_t> LocalClock::parseLocal(std::string_view text) {
    const LocalTimeParse parsed = parseLocalTime(text);
    return parsed.error.empty() ? std::optional<int64_t>(parsed.utcMs) : std::nullopt;
}

namespace {

// The moment at which the local fields in `wanted` stand, with summer time as `isdst` says
// (-1: as the zone's rule decides); nothing when the zone never shows those fields that way.
std::optional<std::time_t> localMoment(const std::tm& wanted, int isdst) {
    std::tm t = wanted;
    t.tm_isdst = isdst;
    const std::time_t moment = std::mktime(&t);
    if (moment == static_cast<std::time_t>(-1)) return std::nullopt;
    std::tm back{};
    localtime_r(&moment, &back);
    if (back.tm_year != wanted.tm_year || back.tm_mon != wanted.tm_mon || back.tm_mday != wanted.tm_mday ||
        back.tm_hour != wanted.tm_hour || back.tm_min != wanted.tm_min || back.tm_sec != wanted.tm_sec)
        return std::nullopt;
    return moment;
}

std::string utcOffsetText(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    const long minutes = local.tm_gmtoff / 60;
    const long magnitude = minutes < 0 ? -minutes : minutes;
    char text[48];
    std::snprintf(text, sizeof text, "UTC%c%02ld:%02ld", minutes < 0 ? '-' : '+', magnitude / 60 % 100,
                  magnitude % 60);
    return text;
}

}  // namespace

LocalTimeParse LocalClock::parseLocalTime(std::string_view text) {
    LocalTimeParse r;
    const std::string shown(text);
    r.error = shown + " is not a local date and time such as 2026-12-07T23:59:50";
    if (text.size() != 19 && text.size() != 23) return r;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') return r;
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), mday = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    int millis = 0;
    if (text.size() == 23 && (text[19] != '.' || (millis = digitsAt(text, 20, 3)) < 0)) return r;
    if (year < 1970 || month < 1 || month > 12 || mday < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return r;
    // the day must exist in its month: the number of the first of the next month tells
    const int32_t first = dayNumber(year, month, 1);
    const int32_t next = month == 12 ? dayNumber(year + 1, 1, 1) : dayNumber(year, month + 1, 1);
    if (mday > next - first) {
        r.error = shown + ": there is no such day";
        return r;
    }

    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = mday;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    // A time the clocks skip when summer time begins shows under neither setting; one they pass
    // twice when it ends shows under both, summer time first.
    const std::optional<std::time_t> summer = localMoment(local, 1);
    const std::optional<std::time_t> winter = localMoment(local, 0);
    const std::optional<std::time_t> either = summer || winter ? std::nullopt : localMoment(local, -1);
    if (!summer && !winter && !either) {
        r.error = shown + " does not exist in local time: the clocks skip it";
        return r;
    }
    std::time_t moment = summer ? *summer : winter ? *winter : *either;
    if (summer && winter && *summer != *winter) {
        moment = std::min(*summer, *winter);
        r.note = shown + " occurs twice in local time; the first (" + utcOffsetText(moment) + ") is taken";
    }
    r.error.clear();
    r.utcMs = static_cast<int64_t>(moment) * 1000 + millis;
    return r;
}

// Days from and to the proleptic Gregorian calendar, counted in eras of 400 years.
CivilDate civilDate(int32_t dayNumber) {
    const int64_t z = static_cast<int64_t>(dayNumber) + 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    return {static_cast<int32_t>(y), static_cast<int32_t>(m), static_cast<int32_t>(d)};
}

int32_t dayNumber(int32_t year, int32_t month, int32_t day) {
    const int64_t y = static_cast<int64_t>(year) - (month <= 2);
    const int64_t era = floorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t mp = month > 2 ? month - 3 : month + 9;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int32_t>(era * 146097 + doe - 719468);
}
