#include "PrintingRun.h"

#include <ostream>

#include "NumberText.h"

namespace {

// Lines are written once this much is formed.
constexpr size_t kFlushSize = 64 * 1024;

}  // namespace

PrintingRun::PrintingRun(const ControlStates& controls, std::ostream& out)
    : controls_(controls),
      engine_(state_, panel_, controls_, sink_),
      out_(out),
      segment_(texts_,
               [this](const std::string& f) {
                   stamp();
                   print(engine_.LcdDisplay31B(f));
               }),
      digit_(texts_,
             [this](const std::string& f) {
                 stamp();
                 print(engine_.LcdDisplay47B(f));
             }),
      watch_(texts_, state_),
      tally_(texts_, state_.family) {}

void PrintingRun::feed(const void* data, int32_t size, const std::function<void()>& beforeEachByte) {
    bytesFed_ += static_cast<uint64_t>(size);
    if (byteLog_ && byteLog_->isOpen()) byteLog_->append(data, size);
    if (beforeEachByte) {
        const auto* bytes = static_cast<const char*>(data);
        for (int32_t i = 0; i < size; ++i) {
            beforeEachByte();
            decode(bytes + i, 1);
        }
    } else {
        decode(data, size);
    }
    watch_.received(data, size, LineWatch::Clock::now());
}

void PrintingRun::flush() {
    if (pending_.empty()) return;
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
}

// Every byte fed reaches the assembler, so the bytes fed so far end the chunk being fed, also
// when it is decoded a byte at a time.
void PrintingRun::stamp() {
    state_.ReadingUtcUs = arrival_ ? arrival_(bytesFed_ - texts_.frameEnd) : 0;
}

void PrintingRun::decode(const void* data, int32_t size) {
    if (state_.family == FrameFamily::Segment)
        segment_.H31BRData(data, size);
    else if (state_.family == FrameFamily::Digit)
        digit_.H47BRData(data, size);
}

// Lines are formed in one buffer and written in large pieces: a stream insertion per field would
// cost more than decoding the frame.
void PrintingRun::print(bool completed) {
    if (!completed) {
        tally_.unreadable();
        return;
    }
    ++readings_;
    tally_.reading();
    pending_ += state_.ValueText;
    pending_ += '\t';
    NumberText::append(pending_, state_.NumericValue);
    pending_ += '\t';
    pending_ += state_.UnitText;
    pending_ += '\t';
    pending_ += state_.AcDcText;
    pending_ += '\t';
    pending_ += state_.AutoText;
    pending_ += '\n';
    if (pending_.size() >= kFlushSize) flush();
    if (onReading_) onReading_(state_);
}
