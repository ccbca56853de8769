#include "FrameAssembler.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

inline void appendByte(FrameTexts& t, uint8_t b) {
    if (t.RxHexText.size() < kMaxFrameTextLength) {
        t.RxHexText.push_back(kHexDigits[b & 0x0F]);
        t.RxTagText.push_back(kHexDigits[b >> 4]);
    }
}

inline void closeFrame(FrameTexts& t, bool whole, uint64_t end) {
    ++(whole ? t.wholeFrames : t.brokenFrames);
    const uint64_t length = end - t.frameEnd;
    t.frameEnd = end;
    if (!whole && t.onBrokenFrame) t.onBrokenFrame(length);
    t.FrameHex = t.RxHexText;
    t.RxHexText.clear();
    t.RxTagText.clear();
}

}  // namespace

void SegmentFrameAssembler::H31BRData(const void* dataPtr, int32_t dataSize) {
    if (dataSize <= 0 || dataPtr == nullptr) return;
    const auto* bytes = static_cast<const uint8_t*>(dataPtr);
    const uint64_t start = texts_.bytesIn;
    texts_.bytesIn += static_cast<uint64_t>(dataSize);
    for (int32_t i = 0; i < dataSize; ++i) {
        const uint8_t b = bytes[i];
        appendByte(texts_, b);
        if ((b >> 4) != 0x0E) continue;
        const bool whole = texts_.RxTagText == "123456789ABCDE";
        closeFrame(texts_, whole, start + static_cast<uint64_t>(i) + 1);
        // The buffers are already empty for the next frame when the decoder runs.
        if (whole && onWholeFrame_) onWholeFrame_(texts_.FrameHex);
    }
}

void DigitFrameAssembler::H47BRData(const void* dataPtr, int32_t dataSize) {
    if (dataSize <= 0 || dataPtr == nullptr) return;
    const auto* bytes = static_cast<const uint8_t*>(dataPtr);
    const uint64_t start = texts_.bytesIn;
    texts_.bytesIn += static_cast<uint64_t>(dataSize);
    for (int32_t i = 0; i < dataSize; ++i) {
        const uint8_t b = bytes[i];
        appendByte(texts_, b);
        if (b != 0x0D) continue;
        const std::string& t = texts_.RxHexText;
        const bool whole = t.size() >= kDigitFrameBytes && t[0] == 'A' && t[10] == 'D';
        closeFrame(texts_, whole, start + static_cast<uint64_t>(i) + 1);
        if (whole && onWholeFrame_) onWholeFrame_(texts_.FrameHex);
    }
}
