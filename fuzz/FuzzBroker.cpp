// Messages a broker delivers to the bench, through the judgement the bench makes of them
// (BrokerIntake with the reading codec). Whatever a sender publishes, what is taken must be safe
// to show, record and compute with, and everything else is counted.
#include <QByteArray>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "BrokerIntake.h"
#include "FuzzEntries.h"
#include "ReadingMessage.h"

namespace {

constexpr qint64 kArrival = 1796000000000;  // the same arrival for every message

void fail(const char* rule, const std::string& topic) {
    std::fprintf(stderr, "fuzz broker_message: %s (topic '%s')\n", rule, topic.c_str());
    std::abort();
}

bool controlFree(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F ||
            (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0))
            return false;
    }
    return true;
}

void checkReading(const BrokerIntake::Outcome& o, std::map<std::string, int64_t>& last) {
    const MeterReading& r = o.reading;
    if (!r.overload && !std::isfinite(r.value)) fail("a reading without a finite number", o.client);
    if (r.hasNumber() && !std::isfinite(r.baseValue)) fail("a base value that is not finite", o.client);
    if (r.utcUs / 1000 > kArrival + BrokerIntake::kFutureMs ||
        r.utcUs / 1000 < kArrival - BrokerIntake::kPastMs)
        fail("a time far from the arrival taken", o.client);
    for (const std::string* text : {&r.display, &r.unit, &r.acdc, &r.range, &r.model}) {
        if (!controlFree(*text) || text->size() > kMaxReadingText) fail("a text field let through", o.client);
    }
    auto it = last.find(o.client);
    if (it != last.end() && r.utcUs < it->second)
        fail("a reading older than the meter's last taken", o.client);
    last[o.client] = r.utcUs;
    // what is taken is published again as the same reading
    const ReceivedReading again = parseReadingJson(readingJson(1, "2026-11-30T00:00:00Z", r));
    if (again.fault != ReceivedReading::Fault::None || again.reading.overload != r.overload ||
        again.reading.display != r.display || again.reading.unit != r.unit)
        fail("a taken reading does not read back", o.client);
}

}  // namespace

namespace FuzzEntries {

int brokerMessage(const uint8_t* data, std::size_t size) {
    BrokerIntake intake("lab");
    std::map<std::string, int64_t> last;
    uint64_t notTaken = 0;
    uint64_t readings = 0;
    std::size_t i = 0;
    while (i < size) {
        // a message: a length byte and the client's name, two length bytes and the payload,
        // and a byte whose low bit chooses the status topic over the reading topic
        const std::size_t nameLength = data[i++];
        const std::string client(reinterpret_cast<const char*>(data + i), std::min(nameLength, size - i));
        i += client.size();
        std::size_t payloadLength = 0;
        if (i + 2 <= size) payloadLength = data[i] | std::size_t(data[i + 1]) << 8, i += 2;
        const QByteArray payload(reinterpret_cast<const char*>(data + i),
                                 qsizetype(std::min(payloadLength, size - i)));
        i += std::size_t(payload.size());
        const bool status = i < size && (data[i++] & 1);
        const std::string topic = "lab/" + client + (status ? "/status" : "/reading");
        const BrokerIntake::Outcome o = intake.take(topic, payload, kArrival);
        if (o.kind == BrokerIntake::Outcome::Refused) ++notTaken;
        if (o.kind == BrokerIntake::Outcome::Reading) {
            ++readings;
            checkReading(o, last);
        }
        if (o.kind != BrokerIntake::Outcome::Nothing && o.kind != BrokerIntake::Outcome::Refused) {
            const std::string shown = o.shown.toStdString();
            if (!controlFree(shown) || o.shown.contains('[') || o.shown.contains(']') ||
                o.shown.contains('=') || shown.size() > 4 * BrokerIntake::kMaxNameBytes || o.shown.isEmpty())
                fail("a channel name from outside let through as it is", topic);
        }
    }
    const auto& c = intake.counts();
    if (c.duplicates + c.older + c.refusedTotal() + c.beyondMeters != notTaken || c.readings != readings)
        fail("the counts do not add up", "");
    if (intake.meters() > BrokerIntake::kMaxMeters) fail("more meters than the bound", "");
    return 0;
}

}  // namespace FuzzEntries
