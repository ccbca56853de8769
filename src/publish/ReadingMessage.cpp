#include "ReadingMessage.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cctype>
#include <utility>

#include "CsvExport.h"
#include "MeterState.h"
#include "NumberText.h"
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

// A streaming writer: no document is built, and the one buffer is the only allocation. Qt's
// document classes take several microseconds a reading, more than the whole budget of publishing.
QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& reading,
                       const std::string& model) {
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
    if (!value.empty())
        w.RawValue(value.data(), value.size(), rapidjson::kNumberType);
    else
        w.Null();
    text("unit", UnitSymbols::realUnitText(reading.UnitText));
    text("acdc", reading.AcDcText);
    text("range", reading.AutoText);
    w.Key("overload");
    w.Bool(reading.ValueText.find('L') != std::string::npos);
    w.Key("counts");
    const std::string counts = NumberText::of(reading.NumericValue);
    if (!counts.empty())
        w.RawValue(counts.data(), counts.size(), rapidjson::kNumberType);
    else
        w.Null();
    text("model", model);
    w.EndObject();
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
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
