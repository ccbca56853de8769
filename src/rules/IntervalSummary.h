#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct MeterReading;

// One channel over one interval.
struct SummaryRow {
    QString channel;
    int64_t startUs = 0;  // utc microseconds
    int64_t endUs = 0;
    int64_t count = 0;      // readings with a number
    int64_t overloads = 0;  // readings without one
    double minimum = 0, maximum = 0;
    int64_t minimumUs = 0, maximumUs = 0;  // the first reading at the minimum, at the maximum
    double mean = 0;
    double deviation = 0;  // sample standard deviation; NaN below two readings
    double last = 0;
    std::string unit;      // the base unit of the values
    bool partial = false;  // the interval was cut short by the end of the run
};

// Interval summaries: the readings of each channel summed up per interval. The intervals follow
// one another from the first reading on; a row is given for each channel heard so far when an
// interval ends (also for one without readings in it, with a count of 0), and at the end of the
// run for the interval then open, marked partial. Values in base units; a channel whose base
// unit changes gets its row so far and starts a new one.
class IntervalSummary {
public:
    using RowHandler = std::function<void(const SummaryRow&)>;
    IntervalSummary(int64_t everyUs, RowHandler handler) : everyUs_(everyUs), handler_(std::move(handler)) {}

    void offer(int channel, const QString& name, const MeterReading& reading);
    // Ends the intervals that are over by `utcUs`.
    void advance(int64_t utcUs);
    // Ends the open interval at `utcUs`, marked partial when it is shorter than a full one.
    void finish(int64_t utcUs);

    static std::string csvHeader();
    static std::string csvLine(const SummaryRow& row);

private:
    struct Channel {
        QString name;
        SummaryRow row;
        double m2 = 0;  // Welford's sum of squared differences
    };
    void giveRows(int64_t endUs, bool partial);
    void giveRow(Channel& c, int64_t endUs, bool partial);

    int64_t everyUs_;
    RowHandler handler_;
    bool started_ = false;
    int64_t start_ = 0;
    std::vector<Channel> channels_;  // by channel id
};
