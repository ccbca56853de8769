#include "IntervalSummary.h"

#include <cmath>
#include <limits>

#include "CsvExport.h"
#include "LocalClock.h"
#include "MeterReading.h"
#include "NumberText.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void appendTime(std::string& out, int64_t utcUs) {
    LocalClock zone;
    const LocalStamp s = zone.atReadingTime(utcUs);
    out += CsvExport::dateTimeText(s.day, s.timeMs, s.utcOffsetMin);
}

}  // namespace

void IntervalSummary::offer(int channel, const QString& name, const MeterReading& reading) {
    if (!started_) {
        started_ = true;
        start_ = reading.utcUs;
    }
    advance(reading.utcUs);
    if (channel >= int(channels_.size())) channels_.resize(size_t(channel) + 1);
    Channel& c = channels_[size_t(channel)];
    if (c.name.isEmpty()) {
        c.name = name;
        c.row.channel = name;
        c.row.startUs = start_;
    }
    if (c.row.count + c.row.overloads > 0 && reading.baseUnit != c.row.unit) {
        // another quantity: what was summed up so far ends here
        giveRow(c, reading.utcUs, true);
        c.row.startUs = reading.utcUs;
    }
    SummaryRow& r = c.row;
    r.unit = reading.baseUnit;
    if (!reading.hasNumber()) {
        ++r.overloads;
        return;
    }
    const double v = reading.baseValue;
    if (r.count == 0 || v < r.minimum) {
        r.minimum = v;
        r.minimumUs = reading.utcUs;
    }
    if (r.count == 0 || v > r.maximum) {
        r.maximum = v;
        r.maximumUs = reading.utcUs;
    }
    ++r.count;
    const double delta = v - r.mean;
    r.mean += delta / double(r.count);
    c.m2 += delta * (v - r.mean);
    r.last = v;
}

void IntervalSummary::advance(int64_t utcUs) {
    if (!started_) return;
    while (utcUs >= start_ + everyUs_) {
        giveRows(start_ + everyUs_, false);
        start_ += everyUs_;
        for (Channel& c : channels_) c.row.startUs = start_;
    }
}

void IntervalSummary::finish(int64_t utcUs) {
    if (!started_) return;
    advance(utcUs);
    giveRows(std::max(utcUs, start_), utcUs < start_ + everyUs_);
    started_ = false;
}

void IntervalSummary::giveRows(int64_t endUs, bool partial) {
    for (Channel& c : channels_) {
        if (!c.name.isEmpty()) giveRow(c, endUs, partial);
    }
}

void IntervalSummary::giveRow(Channel& c, int64_t endUs, bool partial) {
    SummaryRow& r = c.row;
    r.endUs = endUs;
    r.partial = partial;
    r.deviation = r.count > 1 ? std::sqrt(c.m2 / double(r.count - 1)) : kNaN;
    if (r.count == 0) r.minimum = r.maximum = r.mean = r.last = kNaN;
    handler_(r);
    const QString name = r.channel;
    const std::string unit = r.unit;
    r = SummaryRow();
    r.channel = name;
    r.unit = unit;
    c.m2 = 0;
}

std::string IntervalSummary::csvHeader() {
    return "Channel,Start,End,Count,Minimum,Minimum at,Maximum,Maximum at,Mean,Standard deviation,Last,Unit,"
           "Overloads,Interval\r\n";
}

std::string IntervalSummary::csvLine(const SummaryRow& r) {
    std::string out;
    CsvExport::appendField(out, r.channel.toStdString());
    out += ',';
    appendTime(out, r.startUs);
    out += ',';
    appendTime(out, r.endUs);
    out += ',' + std::to_string(r.count) + ',';
    NumberText::append(out, r.minimum);
    out += ',';
    if (r.count > 0) appendTime(out, r.minimumUs);
    out += ',';
    NumberText::append(out, r.maximum);
    out += ',';
    if (r.count > 0) appendTime(out, r.maximumUs);
    out += ',';
    NumberText::append(out, r.mean);
    out += ',';
    NumberText::append(out, r.deviation);
    out += ',';
    NumberText::append(out, r.last);
    out += ',';
    CsvExport::appendField(out, r.unit);
    out += ',' + std::to_string(r.overloads) + ',';
    out += r.partial ? "partial" : "full";
    out += "\r\n";
    return out;
}
