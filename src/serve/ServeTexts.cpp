#include "ServeTexts.h"

#include <cctype>
#include <cstdio>

#include "JsonText.h"
#include "NumberText.h"

namespace {

void appendLabel(std::string& out, const char* name, const std::string& value) {
    out += name;
    out += "=\"";
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendSampleValue(std::string& out, double value) {
    const std::size_t before = out.size();
    NumberText::append(out, value);
    if (out.size() == before) out += value != value ? "NaN" : value > 0 ? "+Inf" : "-Inf";
}

struct Counter {
    const char* name;
    const char* help;
    uint64_t ServedCounters::*field;
};

const Counter kCounters[] = {
    {"dmmview_frames_total", "Frames decoded into readings.", &ServedCounters::frames},
    {"dmmview_damaged_frames_total", "Frames dropped as damaged.", &ServedCounters::damagedFrames},
    {"dmmview_skipped_bytes_total", "Bytes on the line that belonged to no frame.",
     &ServedCounters::skippedBytes},
    {"dmmview_readings_recorded_total", "Readings stored in the recording.", &ServedCounters::recorded},
    {"dmmview_readings_published_total", "Readings handed to the broker.", &ServedCounters::published},
};

void appendHeader(std::string& out, const char* name, const char* help, const char* type) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

}  // namespace

namespace ServeTexts {

std::string metrics(const std::vector<ServedChannel>& channels) {
    std::string out;
    out.reserve(256 + channels.size() * 600);
    appendHeader(out, "dmmview_up", "1 while dmmview runs and answers.", "gauge");
    out += "dmmview_up 1\n";
    appendHeader(
        out, "dmmview_reading",
        "The latest reading of a channel in the base unit its unit label names, at the reading's own time.",
        "gauge");
    for (const ServedChannel& c : channels) {
        if (!c.latest) continue;
        const MeterReading& r = c.latest->reading;
        out += "dmmview_reading{";
        appendLabel(out, "channel", c.name);
        out += ',';
        appendLabel(out, "unit", r.baseUnit);
        out += ',';
        appendLabel(out, "acdc", r.acdc);
        out += "} ";
        appendSampleValue(out, r.hasNumber() ? r.baseValue : MeterReading::kNoNumber);
        if (r.utcUs > 0) {
            out += ' ';
            out += std::to_string(r.utcUs / 1000);
        }
        out += '\n';
    }
    appendHeader(out, "dmmview_channel_online", "1 while the channel's source is connected.", "gauge");
    for (const ServedChannel& c : channels) {
        out += "dmmview_channel_online{";
        appendLabel(out, "channel", c.name);
        out += c.online ? "} 1\n" : "} 0\n";
    }
    appendHeader(out, "dmmview_channel_stale",
                 "1 while the channel has had no reading for three times its pace.", "gauge");
    for (const ServedChannel& c : channels) {
        out += "dmmview_channel_stale{";
        appendLabel(out, "channel", c.name);
        out += c.stale ? "} 1\n" : "} 0\n";
    }
    for (const Counter& counter : kCounters) {
        appendHeader(out, counter.name, counter.help, "counter");
        for (const ServedChannel& c : channels) {
            if (c.kind != ServedKind::Meter) continue;
            out += counter.name;
            out += '{';
            appendLabel(out, "channel", c.name);
            out += "} ";
            out += std::to_string(c.counters.*counter.field);
            out += '\n';
        }
    }
    return out;
}

void appendChannel(std::string& out, const ServedChannel& c) {
    out += "{\"name\":";
    JsonText::appendString(out, c.name);
    out += c.kind == ServedKind::Meter ? ",\"kind\":\"meter\",\"model\":" : ",\"kind\":\"math\",\"model\":";
    JsonText::appendString(out, c.model);
    out += ",\"device\":";
    JsonText::appendString(out, c.device);
    out += c.online ? ",\"online\":true" : ",\"online\":false";
    out += c.stale ? ",\"stale\":true" : ",\"stale\":false";
    out += ",\"unit\":";
    JsonText::appendString(out, c.latest ? c.latest->reading.baseUnit : std::string());
    out += ",\"statistics\":{\"count\":" + std::to_string(c.stats.count) + ",\"min\":";
    JsonText::appendNumber(out, c.stats.count ? c.stats.min : MeterReading::kNoNumber);
    out += ",\"max\":";
    JsonText::appendNumber(out, c.stats.count ? c.stats.max : MeterReading::kNoNumber);
    out += ",\"mean\":";
    JsonText::appendNumber(out, c.stats.count ? c.stats.mean : MeterReading::kNoNumber);
    out += "},\"counters\":{";
    out += "\"frames\":" + std::to_string(c.counters.frames);
    out += ",\"damagedFrames\":" + std::to_string(c.counters.damagedFrames);
    out += ",\"skippedBytes\":" + std::to_string(c.counters.skippedBytes);
    out += ",\"recorded\":" + std::to_string(c.counters.recorded);
    out += ",\"published\":" + std::to_string(c.counters.published);
    out += "},\"latest\":";
    if (c.latest) {
        out += c.latest->published();
    } else {
        out += "null";
    }
    out += '}';
}

std::string channels(const std::vector<ServedChannel>& channels) {
    std::string out = "{\"channels\":[";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i) out += ',';
        appendChannel(out, channels[i]);
    }
    return out + "]}";
}

std::string readingsPage(const ServedChannel& channel, const ServedChannels::Page& page, std::size_t limit) {
    std::string out = "{\"channel\":";
    JsonText::appendString(out, channel.name);
    out += ",\"readings\":[";
    for (std::size_t i = 0; i < page.readings.size(); ++i) {
        if (i) out += ',';
        out += page.readings[i]->published();
    }
    out += page.more ? "],\"more\":true,\"next\":" : "],\"more\":false,\"next\":null";
    if (page.more) {
        JsonText::appendString(out, "/api/v1/channels/" + percentEncoded(channel.name) +
                                        "/readings?after=" + std::to_string(page.readings.back()->seq) +
                                        "&limit=" + std::to_string(limit));
    }
    return out + '}';
}

std::string streamMessage(uint64_t lost, const std::vector<ServedReadingPtr>& readings) {
    std::size_t size = 32;
    for (const auto& r : readings) size += r->json.size() + 1;
    std::string out;
    out.reserve(size);
    out += "{\"lost\":";
    out += std::to_string(lost);
    out += ",\"readings\":[";
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (i) out += ',';
        out += readings[i]->json;
    }
    return out + "]}";
}

std::string percentEncoded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    return out;
}

}  // namespace ServeTexts
