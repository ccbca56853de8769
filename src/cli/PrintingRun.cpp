#include "PrintingRun.h"

#include <ostream>

#include "NumberText.h"

namespace {

// Lines are written once this much is formed.
constexpr size_t kFlushSize = 64 * 1024;

}  // namespace

PrintingRun::PrintingRun(const ControlStates& controls, std::ostream& out)
    : line_(sink_, MeterLine::Polling::Manual), out_(out), tally_(line_.texts(), line_.state().family) {
    line_.controls() = controls;
    line_.hooks().reading = [this](const MeterReading& r) { print(r); };
    line_.hooks().unreadable = [this] { tally_.unreadable(); };
}

void PrintingRun::flush() {
    if (pending_.empty()) return;
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
}

// Lines are formed in one buffer and written in large pieces: a stream insertion per field would
// cost more than decoding the frame.
void PrintingRun::print(const MeterReading& reading) {
    tally_.reading();
    pending_ += reading.display;
    pending_ += '\t';
    NumberText::append(pending_, reading.counts);
    pending_ += '\t';
    pending_ += reading.lcdUnit;
    pending_ += '\t';
    pending_ += reading.acdc;
    pending_ += '\t';
    pending_ += reading.range;
    pending_ += '\n';
    if (pending_.size() >= kFlushSize) flush();
    if (onReading_) onReading_(reading);
}
