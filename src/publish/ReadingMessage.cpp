#include "ReadingMessage.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

#include "CsvExport.h"
#include "MeterState.h"
#include "NumberText.h"
#include "UnitPrefix.h"
#include "UnitSymbols.h"

namespace {

// The device class the convention knows for a unit, where the unit is one it accepts for it.
const char* deviceClass(const std::string& unit) {
    static const std::pair<const char*, const char*> classes[] = {
        {"V", "voltage"},     {"mV", "voltage"},          {"A", "current"},
        {"mA", "current"},    {"Hz", "frequency"},        {"kHz", "frequency"},
        {"MHz", "frequency"}, {"\u00B0C", "temperature"}, {"\u00B0F", "temperature"}};
    for (const auto& [u, c] : classes) {
        if (unit == u) return c;
    }
    return nullptr;
}

// Only letters, digits, _ and - in an object id.
std::string objectId(const std::string& name) {
    std::string id;
    for (const char c : name) id += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    return id;
}

}  // namespace

std::string isoTime(const LocalStamp& at) {
    return CsvExport::dateTimeText(at.day, at.timeMs, at.utcOffsetMin);
}

namespace {

int digitsAt(const std::string& text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : days[m - 1];
}

// A control character (C0, DEL or C1) anywhere in UTF-8 text.
bool holdsControl(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return true;
        // U+0080..U+009F are C2 80..C2 9F
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return true;
    }
    return false;
}

}  // namespace

std::optional<int64_t> parseIsoTime(const std::string& text) {
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    std::size_t p = 19;
    int64_t ms = 0;
    if (p < text.size() && text[p] == '.') {
        int digits = 0;
        for (++p; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p, ++digits) {
            if (digits < 3) ms = ms * 10 + (text[p] - '0');
        }
        if (digits == 0) return std::nullopt;
        // ".5" is five tenths: the digits given are the leading ones of the milliseconds
        for (; digits < 3; ++digits) ms *= 10;
    }
    int64_t offsetMin = 0;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        const int h = digitsAt(text, p + 1, 2), m = digitsAt(text, p + 4, 2);
        if (h < 0 || h > 23 || m < 0 || m > 59 || text[p + 3] != ':') return std::nullopt;
        // local time is UTC plus the offset: UTC is local time less it
        offsetMin = (text[p] == '-' ? -1 : 1) * (h * 60 + m);
        p += 6;
    } else if (p < text.size() && text[p] == 'Z') {
        ++p;
    }
    if (p != text.size()) return std::nullopt;
    const int64_t days = dayNumber(year, month, day);
    return ((days * 24 + hour) * 60 + minute - offsetMin) * 60000 + second * 1000 + ms;
}

// A streaming writer: no document is built, and the one buffer is the only allocation. Qt's
// document classes take several microseconds a reading, more than the whole budget of publishing.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterReading& reading) {
    rapidjson::StringBuffer buffer(nullptr, 256);
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    auto text = [&w](const char* key, const std::string& value) {
        w.Key(key);
        w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    auto number = [&w](const std::string& digits) {
        if (!digits.empty())
            w.RawValue(digits.data(), digits.size(), rapidjson::kNumberType);
        else
            w.Null();
    };
    w.StartObject();
    w.Key("seq");
    w.Uint64(seq);
    text("time", time);
    text("display", reading.display);
    w.Key("value");
    // the number as the display spells it, so 2.5 stays 2.5 and not its nearest binary fraction
    std::string value;
    if (!reading.overload && reading.hasNumber()) {
        value = UnitSymbols::plainNumber(reading.display);
        if (value.empty()) value = NumberText::of(reading.value);
    }
    number(value);
    text("unit", reading.unit);
    text("acdc", reading.acdc);
    text("range", reading.range);
    w.Key("overload");
    w.Bool(reading.overload);
    w.Key("counts");
    number(NumberText::of(reading.counts));
    text("model", reading.model);
    w.EndObject();
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

MeterReading publishedReading(const MeterState& state, const std::string& model) {
    MeterReading r;
    r.display = state.ValueText;
    r.overload = state.ValueText.find('L') != std::string::npos;
    const std::string digits = UnitSymbols::plainNumber(state.ValueText);
    // the digits are plain decimals already: from_chars reads them in any locale
    double number = 0;
    if (!r.overload && !digits.empty() &&
        std::from_chars(digits.data(), digits.data() + digits.size(), number).ec == std::errc())
        r.value = number;
    r.unit = UnitSymbols::realUnitText(state.UnitText);
    const UnitPrefix::Split base = UnitPrefix::split(r.unit);
    r.baseUnit = base.base;
    if (r.hasNumber()) r.baseValue = base.toBase(r.value);
    r.lcdUnit = state.UnitText;
    r.counts = state.NumericValue;
    r.acdc = state.AcDcText;
    r.range = state.AutoText;
    r.model = model;
    return r;
}

QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& state,
                       const std::string& model) {
    return readingJson(seq, time, publishedReading(state, model));
}

const char* faultText(ReceivedReading::Fault fault) {
    using F = ReceivedReading::Fault;
    switch (fault) {
        case F::None:
            return "none";
        case F::TooLarge:
            return "larger than a reading";
        case F::NotJson:
            return "not a JSON object in UTF-8";
        case F::NotAReading:
            return "not a reading";
        case F::BadTime:
            return "no valid time";
        case F::BadText:
            return "a text too long or with control characters";
        case F::BadNumber:
            return "a number out of range";
    }
    return "";
}

ReceivedReading parseReadingJson(const QByteArray& payload) {
    using F = ReceivedReading::Fault;
    ReceivedReading out;
    if (static_cast<std::size_t>(payload.size()) > kMaxReadingPayload) {
        out.fault = F::TooLarge;
        return out;
    }
    rapidjson::Document doc;
    // iterative: no nesting the sender chooses drives a recursion; NaN and Infinity are not JSON
    doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(
        payload.constData(), static_cast<size_t>(payload.size()));
    if (doc.HasParseError() || !doc.IsObject()) {
        out.fault = F::NotJson;
        return out;
    }
    auto member = [&doc](const char* key) -> const rapidjson::Value* {
        const auto it = doc.FindMember(key);
        return it == doc.MemberEnd() || it->value.IsNull() ? nullptr : &it->value;
    };
    bool badText = false;
    auto text = [&](const char* key, std::string& into) {
        const rapidjson::Value* v = member(key);
        if (!v) return;
        if (!v->IsString() || v->GetStringLength() > kMaxReadingText) {
            badText = true;
            return;
        }
        into.assign(v->GetString(), v->GetStringLength());
        badText = badText || holdsControl(into);
    };
    MeterReading& r = out.reading;
    text("time", out.time);
    text("display", r.display);
    text("unit", r.unit);
    text("acdc", r.acdc);
    text("range", r.range);
    text("model", r.model);
    if (badText) {
        out.fault = F::BadText;
        return out;
    }
    if (const rapidjson::Value* seq = member("seq")) {
        if (!seq->IsUint64()) {
            out.fault = F::BadNumber;
            return out;
        }
        out.seq = seq->GetUint64();
    }
    const rapidjson::Value* value = member("value");
    const rapidjson::Value* overload = member("overload");
    if ((value && !value->IsNumber()) || (overload && !overload->IsBool())) {
        out.fault = F::BadNumber;
        return out;
    }
    r.overload = overload && overload->GetBool();
    if (value && !r.overload) {
        r.value = value->GetDouble();
        if (!std::isfinite(r.value)) {
            out.fault = F::BadNumber;
            return out;
        }
    }
    if (const rapidjson::Value* counts = member("counts"); counts && counts->IsNumber())
        r.counts = std::isfinite(counts->GetDouble()) ? counts->GetDouble() : 0;
    // a message without a time or without either a number or an overload is not a reading
    if (out.time.empty() || (!r.hasNumber() && !r.overload)) {
        out.fault = F::NotAReading;
        return out;
    }
    const std::optional<int64_t> ms = parseIsoTime(out.time);
    if (!ms) {
        out.fault = F::BadTime;
        return out;
    }
    r.utcUs = *ms * 1000;
    const UnitPrefix::Split base = UnitPrefix::split(r.unit);
    r.baseUnit = base.base;
    if (r.hasNumber()) r.baseValue = base.toBase(r.value);
    r.lcdUnit = UnitSymbols::lcdUnitText(r.unit);
    return out;
}

SensorDiscovery sensorDiscovery(const std::string& discoveryPrefix, const std::string& client,
                                const std::string& model, const std::string& readingTopic,
                                const std::string& statusTopic, const std::string& unit) {
    const std::string id = objectId("dmmview_" + client);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    auto text = [&w](const char* key, const std::string& value) {
        w.Key(key);
        w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    w.StartObject();
    text("name", model + " " + client);
    text("unique_id", id);
    text("object_id", id);
    text("state_topic", readingTopic);
    // an overload has no value: the sensor then shows none rather than a stale one
    text("value_template", "{{ value_json.value if value_json.value is not none else 'unknown' }}");
    if (!unit.empty()) text("unit_of_measurement", unit);
    if (const char* c = deviceClass(unit)) text("device_class", c);
    text("state_class", "measurement");
    text("json_attributes_topic", readingTopic);
    text("availability_topic", statusTopic);
    text("payload_available", "online");
    text("payload_not_available", "offline");
    w.Key("device");
    w.StartObject();
    w.Key("identifiers");
    w.StartArray();
    w.String(id.c_str());
    w.EndArray();
    text("name", client);
    text("model", model);
    w.EndObject();
    w.EndObject();
    return {discoveryPrefix + "/sensor/" + id + "/config",
            QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()))};
}
