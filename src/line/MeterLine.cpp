#include "MeterLine.h"

#include <algorithm>

#include "ModelProfiles.h"
#include "QtPollTimer.h"

namespace {

// Polling driven by the owner, who calls the driver's step when the handle is readable.
class ManualPollTimer : public PollTimer {
public:
    void setTimer(unsigned, unsigned) override {}
    void killTimer(unsigned) override {}
};

}  // namespace

MeterLine::MeterLine(ReadingSink& sink, Polling polling, LineClock clock, SerialPort* port)
    : clock_(std::move(clock)),
      sink_(sink),
      engine_(state_, panel_, controls_, sink_),
      segment_(texts_,
               [this](const std::string& f) {
                   frameArrived();
                   wholeFrame(engine_.LcdDisplay31B(f));
               }),
      digit_(texts_,
             [this](const std::string& f) {
                 frameArrived();
                 wholeFrame(engine_.LcdDisplay47B(f));
             }),
      watch_(texts_, state_),
      port_(port ? *port : posix_),
      timer_(polling == Polling::EventLoop ? std::unique_ptr<PollTimer>(std::make_unique<QtPollTimer>())
                                           : std::make_unique<ManualPollTimer>()),
      driver_(port_, *timer_),
      eventLoop_(polling == Polling::EventLoop) {
    if (eventLoop_) {
        static_cast<QtPollTimer&>(*timer_).setCallback(
            [this](unsigned message) { driver_.TimerWndProc(message); });
        retry_.setInterval(std::chrono::milliseconds(kRetryEvery));
        retry_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&retry_, &QTimer::timeout, [this] { retryIfDue(); });
    }
    driver_.setReadClock(clock_.utcUs);
    driver_.setOnReceiveData([this](TCommPortDriver*, const void* data, int32_t size) {
        chunk(data, size, driver_.readTimeUs(), {});
    });
    driver_.setOnPortLost([this](TCommPortDriver*) { deviceGone(); });
}

MeterLine::~MeterLine() {
    // the driver's last calls may reach the hooks' owner no more
    hooks_ = {};
    driver_.Disconnect();
}

std::string MeterLine::devicePath() const {
    return posix_.devicePath(driver_.ComPort());
}

bool MeterLine::open(const std::string& label) {
    retry_.stop();
    waiting_ = false;
    if (!driver_.Connect()) return false;
    startWatch(label);
    pace_.connected(clock_.steady());
    dropFrameInProgress();
    return true;
}

void MeterLine::startWatch(const std::string& label) {
    watch_.start(label, controls_);
}

void MeterLine::close() {
    retry_.stop();
    waiting_ = false;
    driver_.Disconnect();
    pace_.disconnected();
}

void MeterLine::deviceGone() {
    dropFrameInProgress();
    // The handle goes at once: held, it would keep the device's name taken when it comes back.
    driver_.Disconnect();
    LineLoss loss{devicePath(), clock_.utcUs(), posixserial::returnsUnderItsName(devicePath())};
    if (loss.waited) {
        waiting_ = true;
        lostAtUs_ = loss.atUs;
        nextRetry_ = clock_.steady() + kRetryEvery;
        if (eventLoop_) retry_.start();
    } else {
        close();
    }
    if (hooks_.lost) hooks_.lost(loss);
}

void MeterLine::awaitDevice() {
    if (driver_.Connected() || !posixserial::returnsUnderItsName(devicePath())) return;
    waiting_ = true;
    lostAtUs_ = clock_.utcUs();
    nextRetry_ = clock_.steady() + kRetryEvery;
    if (eventLoop_) retry_.start();
}

void MeterLine::retryIfDue() {
    if (!waiting_) return;
    // The timer that calls this ticks every kRetryEvery from the loss, each tick a little late: a
    // tick a hair before the retry is due takes it, or every other tick would be skipped.
    constexpr auto kEarly = std::chrono::milliseconds(50);
    const auto now = clock_.steady();
    if (now + kEarly < nextRetry_) return;
    nextRetry_ = now + kRetryEvery;
    if (!driver_.Connect()) return;
    waiting_ = false;
    retry_.stop();
    dropFrameInProgress();
    const LineBack back{devicePath(), clock_.utcUs(), lastFrameUs_ != 0 ? lastFrameUs_ : lostAtUs_};
    if (hooks_.back) hooks_.back(back);
}

void MeterLine::poll() {
    driver_.TimerWndProc(WM_TIMER);
}

void MeterLine::feed(const void* data, int32_t size, int64_t readUs,
                     const std::function<void()>& beforeEachByte) {
    chunk(data, size, readUs, beforeEachByte);
}

void MeterLine::dropFrameInProgress() {
    texts_.RxHexText.clear();
    texts_.RxTagText.clear();
}

int64_t MeterLine::frameLineUs() const {
    const uint32_t baud = baudRateValue(driver_.ComPortSpeed());
    const uint64_t bytes = state_.family == FrameFamily::Digit ? kDigitFrameBytes : kSegmentFrameBytes;
    return baud == 0 ? 0 : static_cast<int64_t>((bytes * 10'000'000 + baud / 2) / baud);
}

void MeterLine::chunk(const void* data, int32_t size, int64_t readUs,
                      const std::function<void()>& beforeEachByte) {
    readAt_ = clock_.steady();
    readUs_ = readUs;
    bytesFed_ += static_cast<uint64_t>(size);
    // kept before anything reads it, so a stream that upsets the program is on disk all the same
    if (byteLog_ && byteLog_->isOpen() && !byteLog_->append(data, size) && hooks_.byteLogFailed)
        hooks_.byteLogFailed();
    if (hooks_.chunkBegin) hooks_.chunkBegin();
    chunkEnd_ = texts_.bytesIn + static_cast<uint64_t>(size);
    if (beforeEachByte) {
        const auto* bytes = static_cast<const char*>(data);
        for (int32_t i = 0; i < size; ++i) {
            beforeEachByte();
            decode(bytes + i, 1);
        }
    } else {
        decode(data, size);
    }
    const std::size_t frameBytes =
        state_.family == FrameFamily::Digit ? kDigitFrameBytes : kSegmentFrameBytes;
    driver_.ExpectBytes(bytesToFrameEnd(texts_, frameBytes));
    const auto now = clock_.steady();
    watch_.received(data, size, now);
    if (hooks_.chunkEnd) hooks_.chunkEnd();
    if (hooks_.hint) {
        if (const auto hint = watch_.takeHint(now)) hooks_.hint(*hint);
    }
}

void MeterLine::decode(const void* data, int32_t size) {
    if (state_.family == FrameFamily::Segment)
        segment_.H31BRData(data, size);
    else if (state_.family == FrameFamily::Digit)
        digit_.H47BRData(data, size);
}

// The arrival of the frame's last byte, kept after the previous reading's by a frame's line time.
int64_t MeterLine::frameTime() {
    if (readUs_ == 0) return 0;
    const int64_t estimate =
        byteArrivalUs(readUs_, chunkEnd_ - texts_.frameEnd, baudRateValue(driver_.ComPortSpeed()));
    if (lastFrameUs_ == 0) return estimate;
    return std::max(estimate, lastFrameUs_ + frameLineUs());
}

// Every whole frame is timed before the engine has it, so that what the reading drives (a record
// row, a chart point) takes that time; the pace hears of it on the steady clock.
void MeterLine::frameArrived() {
    const int64_t at = frameTime();
    state_.ReadingUtcUs = at;
    if (at != 0) lastFrameUs_ = at;
    lastFrameReadAt_ = readAt_;
    pace_.wholeFrame(readAt_ - std::chrono::microseconds(at != 0 ? readUs_ - at : 0));
}

void MeterLine::wholeFrame(bool completed) {
    if (!completed) {
        if (hooks_.unreadable) hooks_.unreadable();
        return;
    }
    ++readings_;
    if (controls_.model != modelOf_) {
        modelOf_ = controls_.model;
        model_ = checkedModelCaption(controls_);
    }
    filler_.fill(reading_, state_, state_.ReadingUtcUs, model_);
    if (hooks_.reading) hooks_.reading(reading_);
}
