#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The frame texts both assemblers share with the decoders: one upper-case hexadecimal digit per
// received byte. RxHexText holds the low digits of the frame in progress, RxTagText their high
// digits (the position tags of a segment frame), FrameHex the latest complete frame.
struct FrameTexts {
    std::string RxHexText;
    std::string RxTagText;
    std::string FrameHex;

    // End bytes met so far: frames that passed the family's test and frames that did not.
    uint64_t wholeFrames = 0;
    uint64_t brokenFrames = 0;

    // Byte positions on the line, counted from the first byte handed to an assembler: `bytesIn`
    // is the end of the chunk being read (all of it, from the start of the chunk on), `frameEnd`
    // the position just after the end byte of the latest frame, whole or not. While a whole frame
    // is handed on, bytesIn - frameEnd bytes of its chunk came after it.
    uint64_t bytesIn = 0;
    uint64_t frameEnd = 0;
    uint64_t bytesAfterFrame() const { return bytesIn - frameEnd; }

    // Told of every frame that failed the family's test, with its length in bytes (from the end
    // of the frame before it), as it is closed.
    std::function<void(uint64_t length)> onBrokenFrame;
};

// A frame in progress that never meets its end byte (a wrong baud rate, a line that carries
// something else) would grow without bound. Past this many bytes only the count goes on; no
// rule of either family looks past the fourteenth byte, so no frame is judged differently.
constexpr std::size_t kMaxFrameTextLength = 256;

// The length of a whole frame of either family.
constexpr std::size_t kSegmentFrameBytes = 14;
constexpr std::size_t kDigitFrameBytes = 11;

// How many bytes the frame in progress lacks to be a whole frame of `frameBytes`; 0 when it holds
// that many already (and so is not a whole frame in the making).
inline uint32_t bytesToFrameEnd(const FrameTexts& texts, std::size_t frameBytes) {
    const std::size_t held = texts.RxHexText.size();
    return held < frameBytes ? static_cast<uint32_t>(frameBytes - held) : 0;
}

// Segment frames: 14 bytes tagged 1..E in their high nibbles; a byte tagged E ends a frame.
class SegmentFrameAssembler {
public:
    using WholeFrame = std::function<void(const std::string& frameHex)>;

    SegmentFrameAssembler(FrameTexts& texts, WholeFrame onWholeFrame)
        : texts_(texts), onWholeFrame_(std::move(onWholeFrame)) {}

    // Receives one chunk of bytes as the serial driver delivers it.
    void H31BRData(const void* dataPtr, int32_t dataSize);

private:
    FrameTexts& texts_;
    WholeFrame onWholeFrame_;
};

// Digit frames: bytes ending with 0x0D; whole when the first low digit is A and the eleventh D.
class DigitFrameAssembler {
public:
    using WholeFrame = std::function<void(const std::string& frameHex)>;

    DigitFrameAssembler(FrameTexts& texts, WholeFrame onWholeFrame)
        : texts_(texts), onWholeFrame_(std::move(onWholeFrame)) {}

    void H47BRData(const void* dataPtr, int32_t dataSize);

private:
    FrameTexts& texts_;
    WholeFrame onWholeFrame_;
};
