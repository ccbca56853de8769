#include "HeadlessSources.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <istream>
#include <ostream>
#include <vector>

#include "HeadlessRecorder.h"
#include "Interrupts.h"
#include "PosixSerialPort.h"
#include "PrintingRun.h"
#include "ShownName.h"
#include "TCommPortDriver.h"

namespace {

// Polling without an event loop: the headless run calls the driver's tick itself.
class ManualPollTimer : public PollTimer {
public:
    void setTimer(unsigned, unsigned periodMs) override { periodMs_ = periodMs; }
    void killTimer(unsigned) override {}
    unsigned periodMs() const { return periodMs_; }

private:
    unsigned periodMs_ = 50;
};

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
    while (!interrupted()) {
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

}  // namespace

InputKind inputKind(const std::string& path) {
    if (path == "-") return InputKind::StandardInput;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return InputKind::File;
    if (S_ISFIFO(st.st_mode)) return InputKind::NamedPipe;
    if (S_ISCHR(st.st_mode)) return InputKind::Device;
    if (S_ISDIR(st.st_mode)) return InputKind::Directory;
    return InputKind::File;
}

int64_t utcNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void readStream(std::istream& in, PrintingRun& run, const std::function<void()>& beforeEachByte) {
    std::vector<char> buffer(64 * 1024);
    while (!interrupted() &&
           (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)) {
        run.feed(buffer.data(), static_cast<int32_t>(in.gcount()), beforeEachByte);
    }
}

// Read as the bytes arrive rather than in whole buffers: a live pipe gives its readings (and a
// recording its rows) at once, and the journal of a recording is written on time even while the
// line is slow or quiet.
void readLive(int fd, PrintingRun& run, const std::function<void()>& beforeEachByte,
              HeadlessRecorder* recorder, int64_t& readUs) {
    constexpr int kWakeMs = 100;
    std::vector<char> buffer(64 * 1024);
    pollfd watched{fd, POLLIN, 0};
    while (!interrupted()) {
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

ExitCode readDevice(const std::string& path, const ProfileChoice& choice, PrintingRun& run,
                    HeadlessRecorder* recorder, bool once, std::ostream& err) {
    PosixSerialPort port;
    port.setDevicePath(pnCOM1, path);
    ManualPollTimer timer;
    TCommPortDriver driver(port, timer);
    driver.setComPort(pnCOM1);
    driver.setComPortSpeed(choice.baud19200 ? br19200 : br2400);
    driver.setOnReceiveData(
        [&run](TCommPortDriver*, const void* data, int32_t size) { run.feed(data, size); });
    run.setArrivalClock([&driver](uint64_t bytesAfter) { return driver.arrivalUs(bytesAfter); });
    bool lost = false;
    driver.setOnPortLost([&lost](TCommPortDriver* d) {
        lost = true;
        d->Disconnect();
    });
    if (!driver.Connect()) {
        // there are no port names here: the user gave a path
        err << "cannot open '" << shownName(path) << "': " << port.lastErrorReason() << '\n';
        return ExitCode::NotStarted;
    }
    installInterruptHandlers();
    // Instead of sleeping a whole polling period, wait for the descriptor to have bytes (at most
    // one period, so an interrupt is seen in time); the driver then reads them as on a tick.
    // A descriptor that keeps waking the loop without giving bytes has lost its device (an adapter
    // pulled, the far side of a terminal closed): the run waits for the device to come back
    // under the same path, or with --once ends there.
    ExitCode code = ExitCode::Success;
    int emptyWakeups = 0;
    pollfd watched{static_cast<int>(driver.portHandle()), POLLIN, 0};
    // the sampling timer of a recording runs on the real clock here
    if (recorder) recorder->realTimePassed(std::chrono::steady_clock::now());
    int64_t lastReadingUs = utcNowUs();
    while (!interrupted()) {
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
            code = ExitCode::Failed;
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
