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
#include "PrintingRun.h"
#include "ShownName.h"

namespace {

// "14:02:11", local time
std::string clockText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// Waits for a lost device to come back under its path, which the line tries about every second;
// the journal of a recording is kept up to date meanwhile. False when the run was interrupted first.
bool awaitDevice(MeterLine& line, HeadlessRecorder* recorder) {
    while (!interrupted()) {
        if (recorder) recorder->realTimePassed(std::chrono::steady_clock::now());
        line.retryIfDue();
        if (!line.waiting()) return line.isOpen();
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
        run.feed(buffer.data(), static_cast<int32_t>(in.gcount()), 0, beforeEachByte);
    }
}

// Read as the bytes arrive rather than in whole buffers: a live pipe gives its readings (and a
// recording its rows) at once, and the journal of a recording is written on time even while the
// line is slow or quiet.
void readLive(int fd, PrintingRun& run, const std::function<void()>& beforeEachByte,
              HeadlessRecorder* recorder) {
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
        if (n > 0) {
            run.feed(buffer.data(), static_cast<int32_t>(n), utcNowUs(), beforeEachByte);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
}

ExitCode readDevice(const std::string& path, PrintingRun& run, HeadlessRecorder* recorder, bool once,
                    std::ostream& err) {
    MeterLine& line = run.line();
    line.devices().setDevicePath(pnCOM1, path);
    line.driver().setComPort(pnCOM1);
    bool lost = false;
    line.hooks().lost = [&lost](const LineLoss&) { lost = true; };
    int64_t quietFromUs = 0;
    line.hooks().back = [&quietFromUs](const LineBack& back) { quietFromUs = back.quietFromUs; };
    if (!line.open(path)) {
        // there are no port names here: the user gave a path
        err << "cannot open '" << shownName(path) << "': " << line.devices().lastErrorReason() << '\n';
        return ExitCode::NotStarted;
    }
    installInterruptHandlers();
    // Instead of sleeping a whole polling period, wait for the descriptor to have bytes (at most
    // one period, so an interrupt is seen in time); the line then reads them as on a tick.
    // A descriptor that keeps waking the loop without giving bytes has lost its device (an adapter
    // pulled, the far side of a terminal closed): the run waits for the device to come back
    // under the same path, or with --once ends there.
    ExitCode code = ExitCode::Success;
    int emptyWakeups = 0;
    // the sampling timer of a recording runs on the real clock here
    if (recorder) recorder->realTimePassed(std::chrono::steady_clock::now());
    while (!interrupted()) {
        // the line's descriptor of the moment: a device that came back has another one
        pollfd watched{static_cast<int>(line.handle()), POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(line.pollPeriodMs()));
        if (recorder) recorder->realTimePassed(std::chrono::steady_clock::now());
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const uint64_t before = run.bytesFed();
        line.poll();
        run.flush();
        emptyWakeups = run.bytesFed() == before ? emptyWakeups + 1 : 0;
        if (!lost && emptyWakeups < 3 &&
            !(emptyWakeups > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL))))
            continue;
        if (!lost) line.deviceGone();
        if (once || !line.waiting()) {
            err << "the device " << shownName(path) << " was lost\n";
            code = ExitCode::Failed;
            break;
        }
        err << "the device " << shownName(path) << " was lost at " << clockText(std::time(nullptr))
            << "; waiting for it to come back\n";
        err.flush();
        if (!awaitDevice(line, recorder)) break;
        const std::time_t back = std::time(nullptr);
        const int64_t quietS = (utcNowUs() - quietFromUs) / 1000000;
        err << "the device " << shownName(path) << " is back at " << clockText(back) << ", " << quietS
            << " s without readings\n";
        err.flush();
        lost = false;
        emptyWakeups = 0;
    }
    line.close();
    return code;
}
