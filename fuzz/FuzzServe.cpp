#include <cstdlib>
#include <string_view>

#include "EmbeddedServer.h"
#include "FuzzEntries.h"
#include "MeterReading.h"
#include "ScpiParser.h"
#include "ServeRouter.h"
#include "ServedChannels.h"

namespace {

// Two channels, one with a reading, as the server sees a small bench.
ServedChannels& channels() {
    static ServedChannels* c = [] {
        auto* served = new ServedChannels(16);
        const int u = served->addChannel("U", ServedKind::Meter, "KR31G", "/dev/ttyUSB0");
        served->addChannel("P", ServedKind::Math, "U*I");
        MeterReading r;
        r.utcUs = 1765000000000000;
        r.display = "1.234";
        r.value = r.baseValue = 1.234;
        r.unit = r.lcdUnit = r.baseUnit = "V";
        r.counts = 1234;
        r.acdc = "DC";
        served->reading(u, r);
        return served;
    }();
    return *c;
}

}  // namespace

namespace FuzzEntries {

int serveRequest(const uint8_t* data, std::size_t size) {
    static const ServeRouter router(channels(), {"fuzz-token-123", true, 64, 1000}, servedPageFiles());
    const int status =
        answerRequestBytes(router, std::string_view(reinterpret_cast<const char*>(data), size), {});
    // every request read whole gets a status of HTTP's, anything else none
    if (status != 0 && (status < 100 || status > 599)) std::abort();
    return 0;
}

int scpi(const uint8_t* data, std::size_t size) {
    ScpiParser parser(channels(), "1");
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string answer = parser.execute(rest.substr(0, end));
        if (!answer.empty() && answer.back() != '\n') std::abort();
        if (parser.errorCount() > ScpiParser::kErrorQueueLimit) std::abort();
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return 0;
}

}  // namespace FuzzEntries
