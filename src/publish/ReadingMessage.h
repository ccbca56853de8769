#pragma once

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <string>

struct MeterState;

// The local time as ISO 8601 with date, milliseconds and UTC offset:
// "2026-12-07T14:31:53.123+01:00". Only the milliseconds are formed anew within one second.
class IsoClock {
public:
    std::string format(std::chrono::system_clock::time_point t);

private:
    int64_t second_ = INT64_MIN;
    std::string head_;  // up to and with the seconds and the point
    std::string zone_;  // "+01:00"
};

// One reading as the JSON object subscribers get, in compact form.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& reading, const std::string& model);
