#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "ByteLog.h"
#include "FrameAssembler.h"
#include "FrameTally.h"
#include "LcdPanelModel.h"
#include "LineWatch.h"
#include "MeterEngine.h"
#include "MeterState.h"
#include "ModelProfiles.h"

// The meter of a run without a window: the bytes fed go through the model's frame assembler and
// decoder, and each completed reading becomes one tab-separated line on the output stream (value
// text, counts, unit, AC/DC, AUTO/MANU); the window's consumers are not there.
class PrintingRun {
public:
    PrintingRun(const ControlStates& controls, std::ostream& out);

    MeterState& state() { return state_; }
    LineWatch& watch() { return watch_; }
    // Where the received bytes are kept as they came; nullptr: nowhere.
    void setByteLog(ByteLog* log) { byteLog_ = log; }
    // When the byte that had so many bytes after it in the chunk being fed arrived, in
    // microseconds since 1970 UTC; readings get no time without it.
    void setArrivalClock(std::function<int64_t(uint64_t bytesAfter)> clock) { arrival_ = std::move(clock); }
    // Hears every completed reading after it is printed.
    void setReadingHandler(std::function<void(const MeterState&)> handler) {
        onReading_ = std::move(handler);
    }

    uint64_t bytesFed() const { return bytesFed_; }
    uint64_t readings() const { return readings_; }
    TallyCounts tally() const { return tally_.counts(); }

    // With `beforeEachByte` the bytes are decoded one at a time, the call made before each, so
    // that a clock can follow the bytes.
    void feed(const void* data, int32_t size, const std::function<void()>& beforeEachByte = {});
    // Hands the lines formed so far to the output stream.
    void flush();

private:
    void stamp();
    void decode(const void* data, int32_t size);
    void print(bool completed);

    std::string pending_;
    uint64_t bytesFed_ = 0;
    uint64_t readings_ = 0;

    ControlStates controls_;
    MeterState state_;
    LcdPanelModel panel_;
    ReadingSink sink_;
    MeterEngine engine_;
    std::ostream& out_;
    FrameTexts texts_;
    SegmentFrameAssembler segment_;
    DigitFrameAssembler digit_;
    LineWatch watch_;
    FrameTally tally_;
    ByteLog* byteLog_ = nullptr;
    std::function<void(const MeterState&)> onReading_;
    std::function<int64_t(uint64_t)> arrival_;
};
