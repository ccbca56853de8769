#include "ReadingMessage.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "MeterState.h"
#include "UnitSymbols.h"

std::string IsoClock::format(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != second_) {
        second_ = second;
        const std::time_t tt = static_cast<std::time_t>(second);
        std::tm local{};
        localtime_r(&tt, &local);
        char buf[40];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.", &local);
        head_ = buf;
        const long offset = local.tm_gmtoff;
        const long minutes = (offset < 0 ? -offset : offset) / 60;
        std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
        zone_ = buf;
    }
    const int milli = static_cast<int>(ms - second * 1000);
    std::string s = head_;
    s += static_cast<char>('0' + milli / 100);
    s += static_cast<char>('0' + milli / 10 % 10);
    s += static_cast<char>('0' + milli % 10);
    return s + zone_;
}

// A streaming writer: no document is built, and the one buffer is the only allocation. Qt's
// document classes take several microseconds a reading, more than the whole budget of publishing.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& reading, const std::string& model) {
    rapidjson::StringBuffer buffer(nullptr, 256);
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    auto text = [&w](const char* key, const std::string& value) {
        w.Key(key);
        w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    w.StartObject();
    w.Key("seq");
    w.Uint64(seq);
    text("time", time);
    text("display", reading.ValueText);
    w.Key("value");
    // the number as the display spells it, so 2.5 stays 2.5 and not its nearest binary fraction
    const std::string value = UnitSymbols::plainNumber(reading.ValueText);
    if (!value.empty()) w.RawValue(value.data(), value.size(), rapidjson::kNumberType);
    else w.Null();
    text("unit", UnitSymbols::realUnitText(reading.UnitText));
    text("acdc", reading.AcDcText);
    text("range", reading.AutoText);
    w.Key("overload");
    w.Bool(reading.ValueText.find('L') != std::string::npos);
    w.Key("counts");
    const double counts = reading.NumericValue;
    if (std::isfinite(counts) && counts == std::floor(counts) && std::fabs(counts) < 1e15) w.Int64(static_cast<int64_t>(counts));
    else if (std::isfinite(counts)) w.Double(counts);
    else w.Null();
    text("model", model);
    w.EndObject();
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}
