#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MeterReading.h"

enum class ServedKind { Meter, Math };

// What a channel's line did so far; math channels have none of these.
struct ServedCounters {
    uint64_t frames = 0;         // frames decoded into readings
    uint64_t damagedFrames = 0;  // frames dropped as damaged
    uint64_t skippedBytes = 0;   // bytes that belonged to no frame
    uint64_t recorded = 0;       // readings stored in the recording
    uint64_t published = 0;      // readings handed to the broker
};

// Statistics of a channel's numbers (in its base unit) since the channel was added or the last
// reset; overloads are not counted.
struct ServedStats {
    uint64_t count = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
};

// One reading as the server hands it out: encoded once, when it arrives, and then shared by
// every client that gets it.
struct ServedReading {
    uint64_t seq = 0;  // per channel, from 1
    int channel = -1;
    MeterReading reading;
    std::string json;           // {"channel":NAME,"reading":{...the published reading...}}
    std::size_t readingAt = 0;  // where the published reading starts in `json`

    std::string_view published() const {
        return std::string_view(json).substr(readingAt, json.size() - readingAt - 1);
    }
};
using ServedReadingPtr = std::shared_ptr<const ServedReading>;

// A channel as the clients see it at one moment.
struct ServedChannel {
    int id = -1;
    std::string name;
    ServedKind kind = ServedKind::Meter;
    std::string model;   // the meter's model caption; a math channel: its expression
    std::string device;  // where the meter is read from
    bool online = false;
    bool stale = true;  // no reading for three times its pace (1.5 s at least), or none yet
    ServedReadingPtr latest;
    ServedCounters counters;
    ServedStats stats;
};

// The channels a front end serves and their readings: the one place the servers read from. A
// front end (the headless run, the bench, the window) adds its channels and feeds readings,
// online changes and counters in from its own thread; the server's thread reads snapshots, pages
// of the history and the readings new since it last looked. One mutex guards everything, held
// only for copies and appends.
class ServedChannels {
public:
    // `historyPerChannel` readings of each channel are kept for the readings API.
    explicit ServedChannels(std::size_t historyPerChannel = 16384);
    ~ServedChannels();

    // --- the front end's side ---
    // A new channel; its id. Names are unique: a taken name gets " 2", " 3"... appended.
    int addChannel(const std::string& name, ServedKind kind = ServedKind::Meter,
                   const std::string& model = {}, const std::string& device = {});
    void reading(int channel, const MeterReading& reading);
    void online(int channel, bool online);
    void counters(int channel, const ServedCounters& counters);

    // --- the servers' side ---
    std::vector<ServedChannel> snapshot() const;
    std::optional<ServedChannel> channel(int id) const;
    // The id of the channel named `name` (exactly, or ignoring case when no name matches exactly).
    std::optional<int> find(const std::string& name) const;
    void resetStatistics();

    // Readings of one channel from `sinceUs` on (their own time) and after sequence number
    // `afterSeq`, oldest first, at most `limit`; `more` says that further ones were left for the
    // next page.
    struct Page {
        std::vector<ServedReadingPtr> readings;
        bool more = false;
    };
    Page history(int channel, int64_t sinceUs, uint64_t afterSeq, std::size_t limit) const;

    // The readings that arrived since the last call, in arrival order. At most `kPendingLimit`
    // wait: a server that does not look loses the oldest, counted in `lost`.
    static constexpr std::size_t kPendingLimit = 65536;
    std::vector<ServedReadingPtr> takeNew(uint64_t* lost = nullptr);
    // Called on the feeding thread when a reading arrives and none was waiting; the server
    // schedules a look at the new readings from it (and must not call back in).
    void setWake(std::function<void()> wake);

    // A channel with no reading for this long since its last is stale; the pace is the mean gap
    // between its readings.
    static std::chrono::milliseconds staleAfter(std::chrono::milliseconds pace);

private:
    struct Channel;
    ServedChannel view(const Channel& c, std::chrono::steady_clock::time_point now) const;

    const std::size_t historyLimit_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::deque<ServedReadingPtr> pending_;
    uint64_t pendingLost_ = 0;
    std::function<void()> wake_;
};

// The reading as the published JSON object (one codec for the broker and the server).
std::string servedReadingJson(uint64_t seq, const MeterReading& reading);
