#include "FrameTally.h"

#include <algorithm>

FrameTally::FrameTally(FrameTexts& texts, const FrameFamily& family) : texts_(texts), family_(family) {
    texts.onBrokenFrame = [this](uint64_t length) { broken(length); };
}

uint64_t FrameTally::frameLength() const {
    // a segment frame is 14 bytes; a digit frame runs from the LF before it to its CR
    return family_ == FrameFamily::Digit ? 11 : 14;
}

uint64_t FrameTally::framesIn(uint64_t length) const {
    const uint64_t l = frameLength();
    return std::max<uint64_t>(1, (length + l / 2) / l);
}

void FrameTally::broken(uint64_t length) {
    if (piece_ && *piece_ + length == frameLength() + 1) {
        // the two halves of a frame with a stray end byte in it
        ++counts_.droppedFrames;
        piece_.reset();
        return;
    }
    if (piece_) counts_.droppedFrames += framesIn(*piece_);
    piece_ = length;
}

void FrameTally::unreadable() {
    if (piece_) counts_.droppedFrames += framesIn(*piece_);
    piece_.reset();
    ++counts_.droppedFrames;
}

void FrameTally::reading() {
    if (piece_) counts_.droppedFrames += framesIn(*piece_);
    piece_.reset();
    // the reading's own frame starts where the piece before it ended
    const uint64_t end = texts_.frameEnd;
    const uint64_t start = end - std::min<uint64_t>(end, texts_.FrameHex.size());
    if (start > lastEnd_) counts_.skippedBytes += start - lastEnd_;
    ++counts_.readings;
    lastEnd_ = end;
}

TallyCounts FrameTally::counts() const {
    TallyCounts c = counts_;
    if (piece_) c.droppedFrames += framesIn(*piece_);
    if (texts_.frameEnd > lastEnd_) c.skippedBytes += texts_.frameEnd - lastEnd_;
    const uint64_t pending = texts_.bytesIn - std::max(texts_.frameEnd, lastEnd_);
    if (pending > frameLength()) c.skippedBytes += pending - frameLength();
    return c;
}
