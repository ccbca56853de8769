#include "ServedChannels.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "JsonText.h"
#include "LocalClock.h"
#include "MeterState.h"
#include "ReadingMessage.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct ServedChannels::Channel {
    ServedChannel info;
    std::deque<ServedReadingPtr> history;
    uint64_t seq = 0;
    Clock::time_point lastArrival{};
    double paceMs = 0;  // mean gap between readings, smoothed
    double sum = 0;     // of the numbers in the statistics, compensated
    double carry = 0;   // what the sum's rounding lost
};

std::string servedReadingJson(uint64_t seq, const MeterReading& reading) {
    // the published message is written from the meter's display; its fields are the reading's
    MeterState shown;
    shown.ValueText = reading.display;
    shown.UnitText = reading.lcdUnit;
    shown.AcDcText = reading.acdc;
    shown.AutoText = reading.range;
    shown.NumericValue = static_cast<float>(reading.counts);
    thread_local LocalClock clock;
    const QByteArray json =
        readingJson(seq, isoTime(clock.atReadingTime(reading.utcUs)), shown, reading.model);
    return std::string(json.constData(), std::size_t(json.size()));
}

ServedChannels::ServedChannels(std::size_t historyPerChannel)
    : historyLimit_(std::max<std::size_t>(1, historyPerChannel)) {}

ServedChannels::~ServedChannels() = default;

milliseconds ServedChannels::staleAfter(milliseconds pace) {
    return std::max(milliseconds(1500), 3 * pace);
}

int ServedChannels::addChannel(const std::string& name, ServedKind kind, const std::string& model,
                               const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string unique = name;
    auto taken = [this](const std::string& n) {
        return std::any_of(channels_.begin(), channels_.end(),
                           [&](const auto& c) { return c->info.name == n; });
    };
    for (int n = 2; taken(unique); ++n) unique = name + " " + std::to_string(n);
    auto c = std::make_unique<Channel>();
    c->info.id = int(channels_.size());
    c->info.name = unique;
    c->info.kind = kind;
    c->info.model = model;
    c->info.device = device;
    channels_.push_back(std::move(c));
    return int(channels_.size()) - 1;
}

void ServedChannels::reading(int channel, const MeterReading& reading) {
    // the text is written before the lock is taken: it needs nothing shared
    auto served = std::make_shared<ServedReading>();
    served->channel = channel;
    served->reading = reading;
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (channel < 0 || channel >= int(channels_.size())) return;
        Channel& c = *channels_[std::size_t(channel)];
        served->seq = ++c.seq;
        served->json = "{\"channel\":";
        JsonText::appendString(served->json, c.info.name);
        served->json += ",\"reading\":";
        served->readingAt = served->json.size();
        served->json += servedReadingJson(served->seq, reading);
        served->json += '}';

        const auto now = Clock::now();
        if (c.seq > 1) {
            const double gap = std::chrono::duration<double, std::milli>(now - c.lastArrival).count();
            c.paceMs = c.seq == 2 ? gap : c.paceMs * 0.9 + gap * 0.1;
        }
        c.lastArrival = now;
        c.info.online = true;
        c.info.latest = served;
        if (reading.hasNumber()) {
            ServedStats& s = c.info.stats;
            const double v = reading.baseValue;
            s.min = s.count == 0 ? v : std::min(s.min, v);
            s.max = s.count == 0 ? v : std::max(s.max, v);
            ++s.count;
            const double y = v - c.carry;
            const double t = c.sum + y;
            c.carry = (t - c.sum) - y;
            c.sum = t;
            s.mean = c.sum / double(s.count);
        }
        c.history.push_back(served);
        if (c.history.size() > historyLimit_) c.history.pop_front();

        if (pending_.size() >= kPendingLimit) {
            pending_.pop_front();
            ++pendingLost_;
        }
        pending_.push_back(served);
        if (pending_.size() == 1) wake = wake_;
    }
    if (wake) wake();
}

void ServedChannels::online(int channel, bool online) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (channel >= 0 && channel < int(channels_.size()))
        channels_[std::size_t(channel)]->info.online = online;
}

void ServedChannels::counters(int channel, const ServedCounters& counters) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (channel >= 0 && channel < int(channels_.size()))
        channels_[std::size_t(channel)]->info.counters = counters;
}

ServedChannel ServedChannels::view(const Channel& c, Clock::time_point now) const {
    ServedChannel v = c.info;
    const auto pace = milliseconds(static_cast<int64_t>(c.paceMs));
    v.stale = !c.info.latest || !c.info.online || now - c.lastArrival > staleAfter(pace);
    return v;
}

std::vector<ServedChannel> ServedChannels::snapshot() const {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ServedChannel> all;
    all.reserve(channels_.size());
    for (const auto& c : channels_) all.push_back(view(*c, now));
    return all;
}

std::optional<ServedChannel> ServedChannels::channel(int id) const {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (id < 0 || id >= int(channels_.size())) return std::nullopt;
    return view(*channels_[std::size_t(id)], now);
}

std::optional<int> ServedChannels::find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : channels_) {
        if (c->info.name == name) return c->info.id;
    }
    auto lower = [](std::string s) {
        for (char& ch : s) ch = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
        return s;
    };
    for (const auto& c : channels_) {
        if (lower(c->info.name) == lower(name)) return c->info.id;
    }
    return std::nullopt;
}

void ServedChannels::resetStatistics() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : channels_) {
        c->info.stats = {};
        c->sum = 0;
        c->carry = 0;
    }
}

ServedChannels::Page ServedChannels::history(int channel, int64_t sinceUs, uint64_t afterSeq,
                                             std::size_t limit) const {
    Page page;
    std::lock_guard<std::mutex> lock(mutex_);
    if (channel < 0 || channel >= int(channels_.size())) return page;
    {
        const auto& c = channels_[std::size_t(channel)];
        // readings never go back in time on one line: the first one due is found by halving
        auto from = std::partition_point(
            c->history.begin(), c->history.end(),
            [&](const ServedReadingPtr& r) { return r->reading.utcUs < sinceUs || r->seq <= afterSeq; });
        for (; from != c->history.end(); ++from) {
            if (page.readings.size() == limit) {
                page.more = true;
                break;
            }
            page.readings.push_back(*from);
        }
    }
    return page;
}

std::vector<ServedReadingPtr> ServedChannels::takeNew(uint64_t* lost) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ServedReadingPtr> taken(std::make_move_iterator(pending_.begin()),
                                        std::make_move_iterator(pending_.end()));
    pending_.clear();
    if (lost) *lost = pendingLost_;
    pendingLost_ = 0;
    return taken;
}

void ServedChannels::setWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(wake);
}
