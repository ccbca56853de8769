#include "MeterEngine.h"

#include "DigitDecoder.h"
#include "ReadingPipeline.h"
#include "SegmentDecoder.h"

bool MeterEngine::LcdDisplay31B(std::string_view frameHex) {
    if (!decodeSegmentFrame(frameHex, state_, panel_, controls_, sink_, input_)) {
        ++state_.DroppedFrames;
        return false;
    }
    return runReadingPipeline(input_, state_, panel_, controls_, sink_);
}

bool MeterEngine::LcdDisplay47B(std::string_view frameHex) {
    if (!decodeDigitFrame(frameHex, state_, panel_, controls_, sink_, input_)) {
        ++state_.DroppedFrames;
        return false;
    }
    return runReadingPipeline(input_, state_, panel_, controls_, sink_);
}
