#pragma once

#include <cstdint>
#include <optional>

#include "FrameAssembler.h"
#include "MeterState.h"

// What a run made of the bytes it read, for its closing line.
struct TallyCounts {
    uint64_t readings = 0;
    uint64_t droppedFrames = 0;  // frames sent that gave no reading: damaged, cut or unreadable
    uint64_t skippedBytes = 0;   // bytes that belonged to no frame that gave a reading
};

// Counts the frames a run lost as the meter sent them, not as the end bytes cut the line: a
// frame that lost or gained a byte, or had a byte changed, is one piece ending in an end byte;
// one whose end byte was lost runs on into the next (two frames, told by the length); one with
// a stray end byte in it comes as two pieces that together are a byte longer than a frame (one
// frame); a piece cut short (the line came up in the middle of a frame) is one. A whole frame
// the decoder could not read counts as one as well.
class FrameTally {
public:
    // Registers itself for the broken frames of `texts`; `family` is read when they come.
    FrameTally(FrameTexts& texts, const FrameFamily& family);

    // The whole frame just handed on by the assembler gave a reading, or could not be read.
    void reading();
    void unreadable();
    // The counts so far. A frame still in progress is neither dropped nor skipped, its end may
    // yet come; of a run of bytes longer than a frame that never met an end byte, the excess
    // is skipped.
    TallyCounts counts() const;

private:
    uint64_t frameLength() const;
    void broken(uint64_t length);
    // the frames a piece (or a pair of pieces) not followed by its partner stands for
    uint64_t framesIn(uint64_t length) const;

    const FrameTexts& texts_;
    const FrameFamily& family_;
    TallyCounts counts_;
    uint64_t lastEnd_ = 0;           // line position after the latest frame that gave a reading
    std::optional<uint64_t> piece_;  // a broken piece whose partner may still come
};
