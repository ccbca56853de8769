#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A moment as the rows keep it: the local calendar day, the local time of day and the offset of
// local time from UTC in force at that moment.
struct LocalStamp {
    int32_t day = 0;     // days since 1970-01-01, local calendar
    int32_t timeMs = 0;  // milliseconds since local midnight
    int32_t utcOffsetMin = 0;
};

// A local date and time read from text.
struct LocalTimeParse {
    int64_t utcMs = 0;
    std::string error;  // one line saying why the text names no moment; empty when it does
    std::string note;   // one line about the choice made for a time that occurs twice
};

// Turns UTC moments into local stamps in the system's time zone. Asking the C library for the
// local time costs a file check of the time zone on every call; the offset from UTC only changes
// on a quarter hour (daylight saving), so it is looked up once per quarter hour of the moments
// asked for.
class LocalClock {
public:
    LocalStamp at(int64_t utcMs);
    LocalStamp now();
    // A reading's time (MeterState::ReadingUtcUs), floored to its millisecond also before 1970;
    // the time now for a reading that has none (0).
    LocalStamp atReadingTime(int64_t utcUs) {
        return utcUs != 0 ? at(utcUs / 1000 - (utcUs % 1000 < 0)) : now();
    }

    static int64_t utcNowMs();

    // A local date and time "YYYY-MM-DDTHH:MM:SS" (optionally ".mmm") as a UTC moment in the
    // system's time zone; nothing when the text is not such a date and time.
    static std::optional<int64_t> parseLocal(std::string_view text);
    // The same with the reason for a refusal: not a date and time, no such day, or a time the
    // clocks skip when summer time begins. A time they pass twice when it ends is taken at its
    // first occurrence, and the note says so.
    static LocalTimeParse parseLocalTime(std::string_view text);

private:
    int64_t validFrom_ = 0;
    int64_t validUntil_ = 0;
    int64_t offsetMs_ = 0;
};

// The calendar date of a day number (days since 1970-01-01).
struct CivilDate {
    int32_t year;
    int32_t month;  // 1..12
    int32_t day;    // 1..31
};
CivilDate civilDate(int32_t dayNumber);
int32_t dayNumber(int32_t year, int32_t month, int32_t day);
