#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

class ServedChannels;

// The instrument protocol of one client, without the socket: each program message (one line)
// goes in, the answer comes out. The meter only talks, so the commands read: the identity, the
// latest value, the function, the statistics, and the error queue; a command that would set the
// meter is answered with an error, never ignored. The channel a client reads is its own choice.
class ScpiParser {
public:
    ScpiParser(ServedChannels& channels, std::string version);

    // The answer to `line` (without its line end), ending in "\n"; empty when nothing in it asks.
    std::string execute(std::string_view line);
    // A line longer than the input buffer was cut off.
    void inputOverrun();

    int channel() const { return channel_; }
    std::size_t errorCount() const { return errors_.size(); }

    // The error queue holds this many; past it the newest is replaced by a queue overflow.
    static constexpr std::size_t kErrorQueueLimit = 20;

private:
    struct Unit;
    bool run(const Unit& unit, std::string& answer);
    bool value(const std::string& function, const std::string& acdc, std::string& answer);
    void error(int code, std::string_view text);

    ServedChannels& channels_;
    const std::string version_;
    int channel_ = 0;
    std::deque<std::string> errors_;  // "-113,\"Undefined header\"", oldest first
};
