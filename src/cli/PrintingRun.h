#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "ByteLog.h"
#include "FrameTally.h"
#include "MeterLine.h"

// The meter of a run without a window: its meter line decodes the bytes, and each completed
// reading becomes one tab-separated line on the output stream (value text, counts, unit, AC/DC,
// AUTO/MANU); the window's consumers are not there. The line is polled by the run itself.
class PrintingRun {
public:
    PrintingRun(const ControlStates& controls, std::ostream& out);

    MeterLine& line() { return line_; }
    MeterState& state() { return line_.state(); }
    LineWatch& watch() { return line_.watch(); }
    // Where the received bytes are kept as they came; nullptr: nowhere.
    void setByteLog(ByteLog* log) { line_.setByteLog(log); }
    // Hears every completed reading after it is printed; the state beside it is the line's.
    void setReadingHandler(std::function<void(const MeterReading&)> handler) {
        onReading_ = std::move(handler);
    }

    uint64_t bytesFed() const { return line_.bytesFed(); }
    uint64_t readings() const { return line_.readings(); }
    TallyCounts tally() const { return tally_.counts(); }

    // Bytes from a capture or a pipe, read at `readUs` (UTC; 0: they have no time). With
    // `beforeEachByte` the bytes are decoded one at a time, the call made before each, so that a
    // clock can follow the bytes.
    void feed(const void* data, int32_t size, int64_t readUs = 0,
              const std::function<void()>& beforeEachByte = {}) {
        line_.feed(data, size, readUs, beforeEachByte);
    }
    // Hands the lines formed so far to the output stream.
    void flush();

private:
    void print(const MeterReading& reading);

    ReadingSink sink_;
    MeterLine line_;
    std::ostream& out_;
    std::string pending_;
    FrameTally tally_;
    std::function<void(const MeterReading&)> onReading_;
};
