#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ByteLog.h"
#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "LineClock.h"
#include "LineWatch.h"
#include "MeterEngine.h"
#include "MeterReading.h"
#include "MeterState.h"
#include "PosixSerialPort.h"
#include "ReadingPace.h"
#include "ReadingSink.h"
#include "StateReading.h"
#include "TCommPortDriver.h"

// A device that went away, as the line tells its owner.
struct LineLoss {
    std::string path;
    int64_t atUs = 0;  // UTC
    // Waited for: tried again under its path about every second. Otherwise (a pseudo-terminal,
    // whose number goes to the next one opened) the line is closed and stays so.
    bool waited = false;
};

// A waited-for device that is open again.
struct LineBack {
    std::string path;
    int64_t atUs = 0;         // UTC
    int64_t quietFromUs = 0;  // the last reading's time, or the loss when none had come
};

// One meter on one line: the serial port, the driver polling it, the frame assemblers of both
// families, the engine that decodes a whole frame into the state, the panel model and the sink,
// the pace that says whether the reading on show is live, the watch that says what the bytes fit
// when the model cannot read them, the reconnect of a lost device, and the time of each reading.
// Every front end (the window, the headless run, the bench) reads its meter through one of these
// and takes each reading as a MeterReading; the window also draws from the panel model and the
// state beside it.
//
// Times: a reading is dated by the arrival of its frame's last byte, the read time of its chunk
// less the line time of the bytes after it (ten bit times a byte at the line's baud), but never
// earlier than the previous reading's time plus the line time of one frame. A line that hands
// over one frame and then a burst therefore keeps its readings in order.
//
// Lives on one thread. With Polling::EventLoop the driver's polls and the retries of a lost
// device run from that thread's event loop; with Polling::Manual the owner calls poll() when the
// handle is readable and retryIfDue() while a device is waited for.
class MeterLine {
public:
    enum class Polling { EventLoop, Manual };
    // How often a lost device is tried again under its path.
    static constexpr std::chrono::seconds kRetryEvery{1};

    struct Hooks {
        // Around every chunk of bytes: what the engine drives during it may be drawn at its end.
        std::function<void()> chunkBegin;
        std::function<void()> chunkEnd;
        // Each whole frame of the model's family, as it comes: a reading (latest()), or a frame
        // the decoder could not complete.
        std::function<void(const MeterReading&)> reading;
        std::function<void()> unreadable;
        // The watch's hint, at most once per connection, after a chunk.
        std::function<void(const LineWatch::Hint&)> hint;
        std::function<void(const LineLoss&)> lost;
        std::function<void(const LineBack&)> back;
        // The byte log could not take a chunk; it is closed.
        std::function<void()> byteLogFailed;
    };

    // `sink` hears what each reading drives (scale, bar, record, chart); `port` replaces the
    // system's serial ports (a fake in tests).
    explicit MeterLine(ReadingSink& sink, Polling polling = Polling::EventLoop,
                       LineClock clock = LineClock::system(), SerialPort* port = nullptr);
    ~MeterLine();
    MeterLine(const MeterLine&) = delete;
    MeterLine& operator=(const MeterLine&) = delete;

    Hooks& hooks() { return hooks_; }

    MeterState& state() { return state_; }
    const MeterState& state() const { return state_; }
    LcdPanelModel& panel() { return panel_; }
    const LcdPanelModel& panel() const { return panel_; }
    ControlStates& controls() { return controls_; }
    const ControlStates& controls() const { return controls_; }
    FrameTexts& texts() { return texts_; }
    TCommPortDriver& driver() { return driver_; }
    const TCommPortDriver& driver() const { return driver_; }
    // The device paths of the port names; the port the driver opens unless one was given.
    PosixSerialPort& devices() { return posix_; }
    LineWatch& watch() { return watch_; }
    const ReadingPace& pace() const { return pace_; }
    const LineClock& clock() const { return clock_; }

    // The latest reading, and how many there were.
    const MeterReading& latest() const { return reading_; }
    uint64_t readings() const { return readings_; }
    uint64_t bytesFed() const { return bytesFed_; }
    // The time of the latest whole frame (0: none yet), and the steady time of its chunk's read.
    int64_t lastFrameUs() const { return lastFrameUs_; }
    LineClock::Steady::time_point lastFrameReadAt() const { return lastFrameReadAt_; }

    // Where every chunk is kept as it comes (nullptr: nowhere).
    void setByteLog(ByteLog* log) { byteLog_ = log; }

    // --- a device ---
    // The device path of the driver's port.
    std::string devicePath() const;
    // Opens the driver's port at its speed; the watch starts for `label`. False with the
    // port's error() when it cannot be opened.
    bool open(const std::string& label);
    std::string error() const { return port_.lastError(); }
    // The user's close: no retry, and what is shown is stale.
    void close();
    bool isOpen() const { return driver_.Connected(); }
    PortHandle handle() const { return driver_.portHandle(); }
    // The device is gone (the driver says so, or the owner saw its handle hang up): the frame in
    // progress is dropped, the handle closed, and the device waited for when it can come back.
    void deviceGone();
    // Waits for a device that could not be opened, as for a lost one (no loss is reported).
    void awaitDevice();
    bool waiting() const { return waiting_; }
    std::optional<int64_t> lostAtUs() const {
        return waiting_ ? std::optional<int64_t>(lostAtUs_) : std::nullopt;
    }
    // Tries the waited-for device again when a retry is due on the steady clock.
    void retryIfDue();
    // Polling::Manual: one polling step of the driver.
    void poll();
    unsigned pollPeriodMs() const { return driver_.ComPortPollingDelay(); }

    // --- bytes from elsewhere (a capture, a pipe) ---
    // The chunk was read at `readUs` (UTC; 0: the bytes have no time). With `beforeEachByte` the
    // bytes are decoded one at a time, the call made before each.
    void feed(const void* data, int32_t size, int64_t readUs,
              const std::function<void()>& beforeEachByte = {});
    // Starts the watch for bytes that do not come from a device.
    void startWatch(const std::string& label);

    // The bytes of a frame begun before (another line, another model) end no frame of this one.
    void dropFrameInProgress();
    // The line time of one whole frame of the model's family at the driver's speed.
    int64_t frameLineUs() const;

private:
    void chunk(const void* data, int32_t size, int64_t readUs, const std::function<void()>& beforeEachByte);
    void decode(const void* data, int32_t size);
    void frameArrived();
    void wholeFrame(bool completed);
    int64_t frameTime();

    LineClock clock_;
    ReadingSink& sink_;
    Hooks hooks_;

    MeterState state_;
    LcdPanelModel panel_;
    ControlStates controls_;
    FrameTexts texts_;
    MeterEngine engine_;
    SegmentFrameAssembler segment_;
    DigitFrameAssembler digit_;
    LineWatch watch_;
    ReadingPace pace_;

    PosixSerialPort posix_;
    SerialPort& port_;
    std::unique_ptr<PollTimer> timer_;
    TCommPortDriver driver_;
    const bool eventLoop_;
    QTimer retry_;
    bool waiting_ = false;
    int64_t lostAtUs_ = 0;
    LineClock::Steady::time_point nextRetry_{};

    ByteLog* byteLog_ = nullptr;
    uint64_t bytesFed_ = 0;
    uint64_t readings_ = 0;
    // the chunk being taken: its read time and where it ends among the bytes fed
    int64_t readUs_ = 0;
    uint64_t chunkEnd_ = 0;
    LineClock::Steady::time_point readAt_{};
    int64_t lastFrameUs_ = 0;
    LineClock::Steady::time_point lastFrameReadAt_{};
    MeterReading reading_;
    StateReading filler_;
    std::array<bool, ModelCheckCount> modelOf_{};
    std::string model_;
};
