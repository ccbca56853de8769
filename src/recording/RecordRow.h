#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

// The day of a row read from a table file, which keeps the time of day alone.
inline constexpr int32_t kNoDay = INT32_MIN;

// One stored reading in the record layout. The store writes the field names "no", "time",
// "DC/AC", "value", "unit", "Auto" and "Nval"; readers match them without regard to case.
struct RecordRow {
    int32_t no = 0;        // "no": running number, 1 for the first row after start or New
    int32_t timeMs = 0;    // "time": local time of day in milliseconds since midnight, no date
    std::string dcAc;      // "DC/AC": "AC", "DC" or empty
    std::string value;     // "value": the displayed value with sign and decimal point
    std::string unit;      // "unit": unit text in the LCD symbol codes ("k*", "#", "uF")
    std::string autoText;  // "Auto": "AUTO" or "MANU"
    double nval = 0.0;     // "Nval": the reading in counts; stored, never shown
    // The local calendar day of `timeMs` (days since 1970-01-01) and the offset of local time
    // from UTC then, in minutes. Kept for the exports that carry dates; kNoDay: not known.
    int32_t day = kNoDay;
    int32_t utcOffsetMin = 0;

    bool operator==(const RecordRow& o) const {
        return no == o.no && timeMs == o.timeMs && dcAc == o.dcAc && value == o.value && unit == o.unit &&
               autoText == o.autoText && nval == o.nval && day == o.day && utcOffsetMin == o.utcOffsetMin;
    }
    bool operator!=(const RecordRow& o) const { return !(*this == o); }
};

// Read access to a table of rows in table order: what the grid, the exports and the report read.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual int64_t rowCount() const = 0;
    virtual RecordRow row(int64_t index) const = 0;
    // The rows as they stand now, kept as they are whatever happens to this source afterwards.
    // This copies them; sources that can share their storage do it without a copy.
    virtual std::shared_ptr<const RecordSource> snapshot() const;
};
