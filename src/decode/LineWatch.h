#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "FrameAssembler.h"
#include "MeterState.h"

// What one connection's line has carried so far.
struct LineCounts {
    uint64_t bytes = 0;
    uint64_t wholeFrames = 0;    // frames of the model's family that passed the family's test
    uint64_t droppedFrames = 0;  // frames of that family that failed the test or could not be completed
    uint64_t readings = 0;       // frames that gave a reading
    uint64_t otherFrames = 0;    // whole frames of the other family found in the same bytes
};

// Watches a connection for the most common failure: the line carries bytes, but the model the
// program was started for cannot read them. It counts what arrives, runs the other family's
// assembler on the same bytes, and once bytes have come for a few seconds without a reading it
// words a hint: the port, the byte count, and which models the bytes would fit, or that the meter
// may send at the other baud rate. It only watches: nothing is sent, nothing is switched.
class LineWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kHintDelay{3000};

    // `own` are the texts of the assembler the model binds, `meter` counts the whole frames its
    // decoder could not complete. Both are read, never written.
    LineWatch(const FrameTexts& own, const MeterState& meter);

    // A new connection to `portLabel` for the model checked in `controls`: counts start at zero.
    void start(std::string portLabel, const ControlStates& controls);
    bool started() const { return family_ != FrameFamily::None; }

    // Every chunk the line delivered, after the model's assembler has had it.
    void received(const void* data, int32_t size, Clock::time_point now);

    LineCounts counts() const;

    // The hint, at most once per connection, as soon as bytes have been arriving for kHintDelay
    // and none of them gave a reading. It says what the bytes fit, not how to choose a model:
    // that is the window's to add. `model` is the caption of the model the bytes fit best, when
    // one does.
    struct Hint {
        std::string text;
        std::optional<std::string> model;
    };
    std::optional<Hint> takeHint(Clock::time_point now);

    // For the end of a run, whatever the time: the hint when no reading was decoded (also when
    // nothing arrived at all), nothing when readings came. It ends with the command line's way
    // to choose the model.
    std::optional<std::string> finalHint() const;

    // One line of counts, for a tooltip.
    std::string summary() const;

private:
    Hint hint() const;

    const FrameTexts& own_;
    const MeterState& meter_;

    FrameFamily family_ = FrameFamily::None;
    bool baud19200_ = false;
    std::string model_;
    std::string port_;

    // counts of the shared texts and state when the connection was made
    uint64_t ownWholeAtStart_ = 0;
    uint64_t ownBrokenAtStart_ = 0;
    uint64_t decoderDropsAtStart_ = 0;

    uint64_t bytes_ = 0;
    std::optional<Clock::time_point> firstByte_;
    bool hintGiven_ = false;

    FrameTexts otherTexts_;
    SegmentFrameAssembler otherSegment_{otherTexts_, nullptr};
    DigitFrameAssembler otherDigit_{otherTexts_, nullptr};
};
