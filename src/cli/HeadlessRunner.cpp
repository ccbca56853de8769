#include "HeadlessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <iostream>
#include <istream>
#include <ostream>
#include <vector>

#include <QFileInfo>
#include <QString>

#include "ShownName.h"
#include "ByteLog.h"
#include "HeadlessPublishing.h"
#include "HeadlessRecorder.h"
#include "LocalClock.h"
#include "FrameAssembler.h"
#include "FrameTally.h"
#include "LcdPanelModel.h"
#include "LineWatch.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "NumberText.h"
#include "PosixSerialPort.h"
#include "TCommPortDriver.h"

namespace {

std::atomic<bool> g_interrupted{false};
// SIGINT counts up: a second one ends the wait for a broker at the end. SIGTERM and SIGHUP end
// every wait.
std::atomic<int> g_interrupts{0};
std::atomic<bool> g_terminated{false};

void onInterrupt(int sig) {
    g_interrupted = true;
    if (sig == SIGINT) ++g_interrupts;
    else g_terminated = true;
}

}  // namespace

bool interrupted() { return g_interrupted; }

std::function<bool()> untilInterruptedAgain() {
    const int before = g_interrupts.load();
    return [before] { return !g_terminated && g_interrupts.load() == before; };
}

// SIGINT, SIGTERM and SIGHUP (the terminal closed) end the reading, so a recording run still
// writes what it stored. The handlers are installed without restarting the call they break.
void installInterruptHandlers() {
    g_interrupted = false;
    g_interrupts = 0;
    g_terminated = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

namespace {

// Prints each completed reading; the window's consumers are not there.
class PrintingRun {
public:
    PrintingRun(const ControlStates& controls, std::ostream& out)
        : controls_(controls), engine_(state_, panel_, controls_, sink_), out_(out),
          segment_(texts_, [this](const std::string& f) {
              stamp();
              print(engine_.LcdDisplay31B(f));
          }),
          digit_(texts_, [this](const std::string& f) {
              stamp();
              print(engine_.LcdDisplay47B(f));
          }),
          watch_(texts_, state_), tally_(texts_, state_.family) {}

    MeterState& state() { return state_; }
    LineWatch& watch() { return watch_; }
    // Where the received bytes are kept as they came; nullptr: nowhere.
    void setByteLog(ByteLog* log) { byteLog_ = log; }
    // When the byte that had so many bytes after it in the chunk being fed arrived, in
    // microseconds since 1970 UTC; readings get no time without it.
    void setArrivalClock(std::function<int64_t(uint64_t bytesAfter)> clock) { arrival_ = std::move(clock); }
    // Hears every completed reading after it is printed.
    void setReadingHandler(std::function<void(const MeterState&)> handler) { onReading_ = std::move(handler); }

    uint64_t bytesFed() const { return bytesFed_; }
    uint64_t readings() const { return readings_; }
    TallyCounts tally() const { return tally_.counts(); }

    // With `beforeEachByte` the bytes are decoded one at a time, the call made before each, so
    // that a clock can follow the bytes.
    void feed(const void* data, int32_t size, const std::function<void()>& beforeEachByte = {}) {
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

    // Hands the lines formed so far to the output stream.
    void flush() {
        if (pending_.empty()) return;
        out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
        pending_.clear();
    }

private:
    // Every byte fed reaches the assembler, so the bytes fed so far end the chunk being fed,
    // also when it is decoded a byte at a time.
    void stamp() { state_.ReadingUtcUs = arrival_ ? arrival_(bytesFed_ - texts_.frameEnd) : 0; }

    void decode(const void* data, int32_t size) {
        if (state_.family == FrameFamily::Segment) segment_.H31BRData(data, size);
        else if (state_.family == FrameFamily::Digit) digit_.H47BRData(data, size);
    }

    // Lines are formed in one buffer and written in large pieces: a stream insertion per field
    // would cost more than decoding the frame.
    void print(bool completed) {
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

    static constexpr size_t kFlushSize = 64 * 1024;
    std::string pending_;
    uint64_t bytesFed_ = 0;
    uint64_t readings_ = 0;

    ControlStates controls_;
    MeterState state_;
    LcdPanelModel panel_;
    ReadingSink sink_;
    MeterEngine engine_;
    std::ostream& out_;
    FrameTexts texts_;
    SegmentFrameAssembler segment_;
    DigitFrameAssembler digit_;
    LineWatch watch_;
    FrameTally tally_;
    ByteLog* byteLog_ = nullptr;
    std::function<void(const MeterState&)> onReading_;
    std::function<int64_t(uint64_t)> arrival_;
};

// Polling without an event loop: the headless run calls the driver's tick itself.
class ManualPollTimer : public PollTimer {
public:
    void setTimer(unsigned, unsigned periodMs) override { periodMs_ = periodMs; }
    void killTimer(unsigned) override {}
    unsigned periodMs() const { return periodMs_; }

private:
    unsigned periodMs_ = 50;
};

bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool isFifo(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void readStream(std::istream& in, PrintingRun& run, const std::function<void()>& beforeEachByte) {
    std::vector<char> buffer(64 * 1024);
    while (!g_interrupted && (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)) {
        run.feed(buffer.data(), static_cast<int32_t>(in.gcount()), beforeEachByte);
    }
}

int64_t utcNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Standard input of the process or a named pipe, read as the bytes arrive rather than in whole
// buffers: a live pipe gives its readings (and a recording its rows) at once, and the journal of
// a recording is written on time even while the line is slow or quiet.
void readLive(int fd, PrintingRun& run, const std::function<void()>& beforeEachByte, HeadlessRecorder* recorder,
              int64_t& readUs) {
    constexpr int kWakeMs = 100;
    std::vector<char> buffer(64 * 1024);
    pollfd watched{fd, POLLIN, 0};
    while (!g_interrupted) {
        if (recorder) recorder->timePassed(std::chrono::steady_clock::now());
        watched.revents = 0;
        const int ready = ::poll(&watched, 1, kWakeMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        readUs = utcNowUs();
        if (n > 0) {
            run.feed(buffer.data(), static_cast<int32_t>(n), beforeEachByte);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
}

// "14:02:11", local time
std::string clockText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// Waits for a lost device to come back under its path, trying to open it once a second; the
// journal of a recording is kept up to date meanwhile. False when the run was interrupted first.
bool awaitDevice(TCommPortDriver& driver, HeadlessRecorder* recorder) {
    constexpr auto kRetry = std::chrono::seconds(1);
    auto nextTry = std::chrono::steady_clock::now() + kRetry;
    while (!g_interrupted) {
        const auto now = std::chrono::steady_clock::now();
        if (recorder) recorder->realTimePassed(now);
        if (now >= nextTry) {
            if (driver.Connect()) return true;
            nextTry = now + kRetry;
        }
        // a signal cuts the wait short
        ::poll(nullptr, 0, 100);
    }
    return false;
}

int readDevice(const std::string& path, const ProfileChoice& choice, PrintingRun& run, HeadlessRecorder* recorder,
               bool once, std::ostream& err) {
    PosixSerialPort port;
    port.setDevicePath(pnCOM1, path);
    ManualPollTimer timer;
    TCommPortDriver driver(port, timer);
    driver.setComPort(pnCOM1);
    driver.setComPortSpeed(choice.baud19200 ? br19200 : br2400);
    driver.setOnReceiveData([&run](TCommPortDriver*, const void* data, int32_t size) { run.feed(data, size); });
    run.setArrivalClock([&driver](uint64_t bytesAfter) { return driver.arrivalUs(bytesAfter); });
    bool lost = false;
    driver.setOnPortLost([&lost](TCommPortDriver* d) {
        lost = true;
        d->Disconnect();
    });
    if (!driver.Connect()) {
        // there are no port names here: the user gave a path
        err << "cannot open '" << shownName(path) << "': " << port.lastErrorReason() << '\n';
        return 2;
    }
    installInterruptHandlers();
    // Instead of sleeping a whole polling period, wait for the descriptor to have bytes (at most
    // one period, so an interrupt is seen in time); the driver then reads them as on a tick.
    // A descriptor that keeps waking the loop without giving bytes has lost its device (an adapter
    // pulled, the far side of a terminal closed): the run waits for the device to come back
    // under the same path, or with --once ends there.
    int code = 0;
    int emptyWakeups = 0;
    pollfd watched{static_cast<int>(driver.portHandle()), POLLIN, 0};
    // the sampling timer of a recording runs on the real clock here
    if (recorder) recorder->realTimePassed(std::chrono::steady_clock::now());
    int64_t lastReadingUs = utcNowUs();
    while (!g_interrupted) {
        watched.revents = 0;
        const int ready = ::poll(&watched, 1, static_cast<int>(timer.periodMs()));
        if (recorder) recorder->realTimePassed(std::chrono::steady_clock::now());
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const uint64_t before = run.bytesFed();
        const uint64_t readingsBefore = run.readings();
        driver.TimerWndProc(WM_TIMER);
        run.flush();
        if (run.readings() != readingsBefore) lastReadingUs = run.state().ReadingUtcUs;
        emptyWakeups = run.bytesFed() == before ? emptyWakeups + 1 : 0;
        if (!lost && emptyWakeups < 3 &&
            !(emptyWakeups > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL))))
            continue;
        if (once || !posixserial::returnsUnderItsName(path)) {
            err << "the device " << shownName(path) << " was lost\n";
            code = 1;
            break;
        }
        driver.Disconnect();
        err << "the device " << shownName(path) << " was lost at " << clockText(std::time(nullptr))
            << "; waiting for it to come back\n";
        err.flush();
        if (!awaitDevice(driver, recorder)) break;
        const std::time_t back = std::time(nullptr);
        const int64_t quietS = (utcNowUs() - lastReadingUs) / 1000000;
        err << "the device " << shownName(path) << " is back at " << clockText(back) << ", " << quietS
            << " s without readings\n";
        err.flush();
        lost = false;
        emptyWakeups = 0;
        watched.fd = static_cast<int>(driver.portHandle());
    }
    driver.Disconnect();
    return code;
}

// After FILE could not be written: how many of the rows the journal holds, exactly.
void reportKeptRows(const HeadlessRecorder& recorder, std::ostream& err) {
    const int64_t rows = recorder.rows();
    const int64_t kept = std::min(recorder.journalRows(), rows);
    const std::string journal = shownName(recorder.journalPath());
    if (rows == 0) return;
    if (kept == rows) {
        err << "all " << rows << (rows == 1 ? " recorded row is" : " recorded rows are") << " kept in " << journal
            << "; --recover " << journal << " OUT writes them\n";
    } else if (kept > 0) {
        err << kept << " of the " << rows << " recorded rows are kept in " << journal << " (--recover " << journal
            << " OUT writes them); the other " << rows - kept << " are lost\n";
    } else if (rows == 1) {
        err << "the recorded row could not be kept in " << journal << ": it is lost\n";
    } else {
        err << "none of the " << rows << " recorded rows could be kept in " << journal << ": " << rows
            << " rows are lost\n";
    }
}

}  // namespace

int runHeadless(const AppOptions& options, std::istream& stdinStream, std::ostream& out, std::ostream& err) {
    ControlStates controls;
    chooseModel(controls, options.model, options.variant);
    const std::string& path = *options.decodePath;

    PrintingRun run(controls, out);
    const ProfileChoice choice = prepareMeterState(controls, run.state());
    if (choice.family == FrameFamily::None) {
        err << "no meter model selected\n";
        return 2;
    }

    run.watch().start(path == "-" ? std::string("standard input") : path, controls);
    ByteLog byteLog;
    if (options.saveBytesPath) {
        if (!byteLog.open(*options.saveBytesPath)) {
            err << shownName(byteLog.error()) << '\n';
            return 2;
        }
        // appending to the file being read would never reach its end
        if (path != "-" && byteLog.isSameFile(path)) {
            err << "cannot save the bytes into '" << shownName(*options.saveBytesPath)
                << "': it is the file being decoded\n";
            return 2;
        }
        run.setByteLog(&byteLog);
    }

    std::unique_ptr<HeadlessRecorder> recorder;
    std::unique_ptr<HeadlessPublishing> publishing;
    std::function<void()> beforeEachByte;
    if (options.recordPath) {
        if (options.recordStart && isCharacterDevice(path)) {
            err << "--start applies to a capture: a device runs on the real clock\n";
            return 2;
        }
        const std::string why = HeadlessRecorder::checkTarget(*options.recordPath, path);
        if (!why.empty()) {
            err << shownName(why) << '\n';
            return 2;
        }
        // a capture's rows are dated from the start, and only up to the end of 9999
        const int64_t start = options.recordStart.value_or(LocalClock::utcNowMs());
        if (!isCharacterDevice(path)) {
            const std::string late =
                HeadlessRecorder::checkLineClockEnd(path, choice.baud19200 ? 19200 : 2400, start);
            if (!late.empty()) {
                err << late << '\n';
                return 2;
            }
            if (!options.recordStartNote.empty()) err << options.recordStartNote << '\n';
        }
        recorder = std::make_unique<HeadlessRecorder>(options);
        std::string journalError;
        if (!recorder->startJournal(err, &journalError)) {
            err << shownName(journalError) << '\n';
            return 2;
        }
        if (!isCharacterDevice(path)) {
            // a capture (or standard input) is timed as the line sent it, from now on
            recorder->useLineClock(choice.baud19200 ? 19200 : 2400, start);
            beforeEachByte = [r = recorder.get()] { r->byteArrives(); };
        }
    }

    if (options.publish) {
        // A capture or a pipe loses nothing by waiting for the broker; a live device would. While
        // it waits the journal keeps its pace, and an interrupt ends the wait.
        const bool live = path == "-" ? &stdinStream == &std::cin && isCharacterDevice("/dev/stdin")
                                      : isCharacterDevice(path);
        auto whileWaiting = [r = recorder.get()] {
            if (r) r->timePassed(std::chrono::steady_clock::now());
            return !g_interrupted.load();
        };
        installInterruptHandlers();
        int code = 0;
        publishing = HeadlessPublishing::start(*options.publish, checkedModelCaption(controls), path, !live,
                                               whileWaiting, err, code);
        if (!publishing) return code == 0 ? 1 : code;
    }

    if (recorder || publishing) {
        // The published time is the reading's row time: the recorder's clock when there is one
        // (the line's clock for a capture with --start), otherwise the reading's own time.
        LocalClock systemClock;
        run.setReadingHandler([r = recorder.get(), p = publishing.get(), systemClock](const MeterState& reading) mutable {
            if (r) r->offer(reading);
            if (p) p->offer(reading, r ? r->readingTime(reading) : systemClock.atReadingTime(reading.ReadingUtcUs));
        });
    }

    // a live pipe's readings are timed by the arrival of their bytes
    int64_t readUs = 0;
    const uint32_t baud = choice.baud19200 ? 19200 : 2400;
    const auto liveArrival = [&readUs, baud](uint64_t bytesAfter) { return byteArrivalUs(readUs, bytesAfter, baud); };

    // every source ends early on an interrupt, and an earlier run's interrupt is forgotten
    // (publishing installed them before it waited for the broker)
    if (!publishing) installInterruptHandlers();
    int code = 0;
    if (path == "-" && &stdinStream == &std::cin) {
        run.setArrivalClock(liveArrival);
        readLive(STDIN_FILENO, run, beforeEachByte, recorder.get(), readUs);
    } else if (path != "-" && isFifo(path)) {
        // read as standard input is: opening waits for a writer, which an interrupt breaks off
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && !g_interrupted) {
            err << "cannot read '" << shownName(path) << "': " << std::strerror(errno) << '\n';
            return 2;
        }
        if (fd >= 0) {
            run.setArrivalClock(liveArrival);
            readLive(fd, run, beforeEachByte, recorder.get(), readUs);
            ::close(fd);
        }
    } else if (path == "-") {
        readStream(stdinStream, run, beforeEachByte);
    } else if (isCharacterDevice(path)) {
        code = readDevice(path, choice, run, recorder.get(), options.once, err);
    } else if (isDirectory(path)) {
        err << "cannot read '" << shownName(path) << "': it is a directory\n";
        return 2;
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            err << "cannot read '" << shownName(path) << "': " << std::strerror(errno) << '\n';
            return 2;
        }
        readStream(file, run, beforeEachByte);
    }
    run.flush();
    out.flush();
    if (publishing) {
        // a first interrupt ended the reading and leaves the broker its chance; another ends that
        const auto keepWaiting = untilInterruptedAgain();
        const bool ok = publishing->finish([&] {
            if (recorder) recorder->timePassed(std::chrono::steady_clock::now());
            return keepWaiting();
        });
        if (!ok && code == 0) code = 1;
    }
    // Rows recorded by the run are written here: whatever ended the reading (the end of the
    // input, an interrupt, a lost device with code 1), what was recorded so far belongs on file
    // before the closing notes.
    if (recorder && code != 2 && recorder->rows() == 0) {
        // a run that stored nothing leaves a file of an earlier run as it was
        err << shownName(recorder->path()) << ": no reading was recorded; "
            << (QFileInfo::exists(QString::fromStdString(recorder->path())) ? "the file was left as it was"
                                                                            : "nothing written")
            << '\n';
        code = 1;
    } else if (recorder && code != 2) {
        const FileResult written = recorder->write();
        if (written.ok()) {
            err << shownName(recorder->path()) << ": " << written.rows << (written.rows == 1 ? " row" : " rows") << " written\n";
        } else {
            err << shownName(PlainFile::toNative(written.error).toStdString()) << '\n';
            reportKeptRows(*recorder, err);
            code = 1;
        }
    }
    // A run that read nothing says why and fails: the line's hint first, then what was read.
    const auto hint = code != 2 ? run.watch().finalHint() : std::nullopt;
    if (code != 2 && run.readings() == 0 && (code == 0 || recorder)) {
        if (hint) err << *hint << ' ';
        err << "(no reading was decoded: " << run.bytesFed()
            << " bytes read; check that --model names the meter that sent them: the model in use is "
            << checkedModelCaption(controls) << ")\n";
        code = 1;
    } else if (hint) {
        err << *hint << '\n';
    }
    if (options.saveBytesPath && !byteLog.isOpen()) {
        // the readings above are good; the saved file stops short
        err << shownName(byteLog.error()) << '\n';
        if (code == 0) code = 1;
    }
    if (recorder && recorder->pastLastDate() > 0) {
        err << recorder->pastLastDate() << (recorder->pastLastDate() == 1 ? " reading" : " readings")
            << " after 9999-12-31T23:59:59 (from --start) not recorded\n";
    }
    if (recorder && recorder->notRecorded() > 0) {
        err << "record limit of " << recorder->limit() << " rows reached: " << recorder->notRecorded()
            << (recorder->notRecorded() == 1 ? " later reading was" : " later readings were") << " not recorded\n";
    }
    // every run that read its input ends with what it made of it
    if (code != 2) {
        const TallyCounts t = run.tally();
        err << t.readings << (t.readings == 1 ? " reading" : " readings") << " decoded, " << t.droppedFrames
            << (t.droppedFrames == 1 ? " frame" : " frames") << " dropped as damaged, " << t.skippedBytes
            << (t.skippedBytes == 1 ? " byte" : " bytes") << " skipped\n";
    }
    return code;
}
