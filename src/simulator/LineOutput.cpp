#include "LineOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace dmmsim {

namespace {

using namespace std::chrono;

// A writer that fell this far behind (the process was stopped, the machine was busy) starts
// its schedule anew rather than sending the backlog faster than the line could.
constexpr nanoseconds kMaxLag = milliseconds(100);
// Sleeps are cut into pieces this long so a stop request is seen quickly, and never shorter,
// so a fast line is written in small batches instead of byte by byte.
constexpr nanoseconds kMaxSleep = milliseconds(20);
constexpr nanoseconds kMinSleep = milliseconds(2);

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool setRaw(int fd, speed_t speed, bool serialLine) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    if (serialLine) {
        t.c_cflag &= ~(CSTOPB | PARENB | CSIZE | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

nanoseconds lineTime(uint64_t bytes, int baud) {
    // multiply before dividing: a bit at 2400 baud is not a whole number of nanoseconds
    return nanoseconds(static_cast<int64_t>(bytes) * kBitsPerByte * 1000000000LL / baud);
}

std::size_t staleLimitFor(int baud) {
    return static_cast<std::size_t>(lineBytesPerSecond(baud));
}

PacedWriter::PacedWriter(int fd, int baud, Full whenFull)
    : fd_(fd), byteTime_(lineTime(1, baud)), whenFull_(whenFull) {}

void PacedWriter::setStaleLimit(int queueFd, std::size_t limit) {
    queueFd_ = queueFd;
    staleLimit_ = limit;
}

void PacedWriter::idle(nanoseconds d) {
    const auto now = Clock::now();
    if (!started_ || lineFree_ < now) lineFree_ = now;
    started_ = true;
    lineFree_ += d;
}

bool PacedWriter::write(const uint8_t* data, std::size_t size, const std::atomic<bool>& stop) {
    stop_ = &stop;
    std::size_t sent = 0;
    while (sent < size) {
        if (stop.load()) return false;
        auto now = Clock::now();
        if (!started_ || now - lineFree_ > kMaxLag) {
            lineFree_ = now;
            started_ = true;
        }
        // bytes whose last bit time lies in the past
        std::size_t due = 0;
        while (sent + due < size && lineFree_ + byteTime_ * static_cast<int64_t>(due + 1) <= now) ++due;
        if (due == 0) {
            const auto wake = std::max(lineFree_ + byteTime_, now + kMinSleep);
            std::this_thread::sleep_until(std::min(wake, now + kMaxSleep));
            continue;
        }
        if (!handOver(data + sent, due)) return false;
        lineFree_ += byteTime_ * static_cast<int64_t>(due);
        sent += due;
    }
    return true;
}

bool PacedWriter::handOver(const uint8_t* data, std::size_t size) {
    discardStale();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            written_ += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (whenFull_ == Full::Drop) {
                // a line nobody takes bytes from loses them
                dropped_ += size - done;
                return true;
            }
            if (stop_ && stop_->load()) return false;
            std::this_thread::sleep_for(kMinSleep);
            continue;
        }
        error_ = systemError("write");
        return false;
    }
    return true;
}

void PacedWriter::discardStale() {
    if (queueFd_ < 0) return;
    int queued = 0;
    if (ioctl(queueFd_, FIONREAD, &queued) == 0 && queued > 0 &&
        static_cast<std::size_t>(queued) > staleLimit_) {
        tcflush(queueFd_, TCIFLUSH);
        dropped_ += static_cast<uint64_t>(queued);
    }
}

std::unique_ptr<PseudoTerminal> PseudoTerminal::create(std::string* error) {
    std::unique_ptr<PseudoTerminal> p(new PseudoTerminal);
    auto fail = [&](const char* what) {
        if (error) *error = systemError(what);
        return nullptr;
    };
    p->master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (p->master_ < 0) return fail("posix_openpt");
    if (grantpt(p->master_) != 0) return fail("grantpt");
    if (unlockpt(p->master_) != 0) return fail("unlockpt");
    char name[128];
    if (ptsname_r(p->master_, name, sizeof name) != 0) return fail("ptsname");
    p->slavePath_ = name;
    p->slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (p->slave_ < 0) return fail("open pseudo-terminal");
    // raw from the start: no echo back into the master, no CR/LF translation of frame bytes
    if (!setRaw(p->slave_, B2400, false)) return fail("tcsetattr");
    const int flags = fcntl(p->master_, F_GETFL);
    if (flags < 0 || fcntl(p->master_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
    return p;
}

bool PseudoTerminal::releaseSlave(std::string* error) {
    // Packet mode makes the master report what the reader does to the line (flushes, flow
    // control), which tells when its set-up is over.
    int on = 1;
    if (ioctl(master_, TIOCPKT, &on) != 0) {
        if (error) *error = systemError("TIOCPKT");
        return false;
    }
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
    return true;
}

bool PseudoTerminal::readerGone() const {
    pollfd p{master_, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

bool PseudoTerminal::waitForReader(const std::atomic<bool>& stop) {
    // The master hangs up while nobody has the slave open.
    while (readerGone()) {
        if (stop.load()) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    // Then the reader configures and flushes the line; bytes sent before that would be lost.
    // Wait until its line has been quiet for a while, or a while longer for a reader that
    // changes nothing.
    constexpr auto kQuietAfterSetup = milliseconds(200);
    constexpr auto kNoSetup = milliseconds(500);
    const auto opened = steady_clock::now();
    std::optional<steady_clock::time_point> lastChange;
    while (!stop.load()) {
        const auto now = steady_clock::now();
        if (lastChange ? now - *lastChange >= kQuietAfterSetup : now - opened >= kNoSetup) break;
        pollfd p{master_, POLLPRI | POLLIN, 0};
        if (::poll(&p, 1, 20) > 0 && (p.revents & (POLLPRI | POLLIN))) {
            uint8_t status[256];
            if (::read(master_, status, sizeof status) > 0) lastChange = steady_clock::now();
        }
    }
    int off = 0;
    ioctl(master_, TIOCPKT, &off);
    return !stop.load();
}

PseudoTerminal::~PseudoTerminal() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

int openSerialDevice(const std::string& path, int baud, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = systemError(path);
        return -1;
    }
    if (isatty(fd) && !setRaw(fd, baud == 19200 ? B19200 : B2400, true)) {
        if (error) *error = systemError(path + ": line settings");
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace dmmsim
