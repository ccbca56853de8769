#include "PosixSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const char* const kPortNames[] = {"COM1", "COM2", "COM3", "COM4"};

struct SpeedConstant {
    uint32_t rate;
    speed_t constant;
};

// Rates with a predefined constant; any other rate goes through posixserial::setArbitraryBaudRate.
constexpr SpeedConstant kSpeeds[] = {
    {50, B50},         {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},       {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
};

bool speedConstant(uint32_t rate, speed_t& constant) {
    for (const SpeedConstant& s : kSpeeds) {
        if (s.rate == rate) {
            constant = s.constant;
            return true;
        }
    }
    return false;
}

tcflag_t characterSize(uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Sets or clears one modem line. A pseudo-terminal has no modem lines and refuses the ioctl; a
// device that cannot drive a line is still usable for receiving, so the result is not examined.
void setModemLine(int fd, int line, bool on) {
    (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

bool posixserial::returnsUnderItsName(const std::string& path) {
    return path.rfind("/dev/pts/", 0) != 0;
}

std::string posixserial::permissionAdvice(const std::string& path) {
    return "Serial devices are usually open only to members of the dialout group (or the group that owns " +
           path + "): add your user to it and log in again.";
}

void posixserial::applyControlBlock(const DeviceControlBlock& dcb, termios& t) {
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR);
    if (dcb.Flags & kDcbOutX) t.c_iflag |= IXON;
    if (dcb.Flags & kDcbInX) t.c_iflag |= IXOFF;

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | HUPCL | characterSize(dcb.ByteSize);
    switch (dcb.Parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // One and a half stop bits is a five-bit setting of some UARTs; a terminal knows one or two.
    if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;
    if (dcb.Flags & (kDcbOutxCtsFlow | kDcbRtsControlHandshake)) t.c_cflag |= CRTSCTS;

    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

posixserial::ModemLines posixserial::modemLines(const DeviceControlBlock& dcb) {
    ModemLines lines;
    lines.dtr = (dcb.Flags & kDcbDtrControlEnable) != 0;
    lines.rts = (dcb.Flags & (kDcbRtsControlEnable | kDcbRtsControlHandshake)) != 0;
    return lines;
}

PosixSerialPort::PosixSerialPort() : paths_{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"} {}

PosixSerialPort::~PosixSerialPort() {
    while (!open_.empty()) closeHandle(*open_.begin());
}

int PosixSerialPort::portIndex(const std::string& portName) const {
    for (int i = 0; i < static_cast<int>(paths_.size()); ++i) {
        if (portName == kPortNames[i]) return i;
    }
    return -1;
}

bool PosixSerialPort::isOwn(PortHandle h) const {
    return h > 0 && h <= INT32_MAX && open_.count(static_cast<int>(h)) != 0;
}

bool PosixSerialPort::setDevicePath(const std::string& portName, const std::string& path) {
    const int i = portIndex(portName);
    if (i < 0 || path.empty()) return false;
    paths_[static_cast<std::size_t>(i)] = path;
    return true;
}

void PosixSerialPort::setDevicePath(TComPortNumber port, const std::string& path) {
    setDevicePath(kPortNames[port & 3], path);
}

std::string PosixSerialPort::devicePath(const std::string& portName) const {
    const int i = portIndex(portName);
    return i < 0 ? std::string() : paths_[static_cast<std::size_t>(i)];
}

std::string PosixSerialPort::devicePath(TComPortNumber port) const {
    return devicePath(kPortNames[port & 3]);
}

PortHandle PosixSerialPort::open(const std::string& portName) {
    const std::string path = devicePath(portName);
    if (path.empty()) {
        lastError_ = lastReason_ = "There is no serial port named " + portName + ".";
        return kInvalidPortHandle;
    }
    const std::string where = "Cannot open " + portName + " (" + path + "): ";

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        lastReason_ = std::string(std::strerror(err)) + ".";
        if (err == EACCES || err == EPERM) {
            lastReason_ += " " + posixserial::permissionAdvice(path);
        } else if (err == EBUSY) {
            lastReason_ += " The port is in use by another program.";
        }
        lastError_ = where + lastReason_;
        return kInvalidPortHandle;
    }
    if (fd == 0) {
        // Descriptor 0 would read as a closed port; move it out of the way.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (moved < 0) {
            lastReason_ = std::string(std::strerror(errno)) + ".";
            lastError_ = where + lastReason_;
            return kInvalidPortHandle;
        }
        fd = moved;
    }

    auto fail = [&](const std::string& why) {
        ::close(fd);
        lastReason_ = why;
        lastError_ = where + why;
        return kInvalidPortHandle;
    };

    termios t{};
    if (tcgetattr(fd, &t) != 0) return fail("it is not a serial device.");
    // The share mode of the port is exclusive. The lock keeps out other programs that lock the
    // device too (and this one), TIOCEXCL those that do not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return fail("the port is in use by another program.");
        return fail(std::string(std::strerror(errno)) + ".");
    }
    (void)ioctl(fd, TIOCEXCL);

    // Raw from the start: nothing received may be echoed, translated or held back for a line end.
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return fail(std::string(std::strerror(errno)) + ".");

    open_.insert(fd);
    lastError_.clear();
    lastReason_.clear();
    return fd;
}

bool PosixSerialPort::setCommState(PortHandle h, const DeviceControlBlock& dcb) {
    if (!isOwn(h)) return false;
    const int fd = static_cast<int>(h);
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;

    posixserial::applyControlBlock(dcb, t);
    // new line settings keep the reader's wake
    if (const auto wake = readWake_.find(fd); wake != readWake_.end()) t.c_cc[VMIN] = wake->second;

    speed_t speed = B0;
    const bool predefined = speedConstant(dcb.BaudRate, speed);
    if (predefined) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
    if (!predefined && !posixserial::setArbitraryBaudRate(fd, dcb.BaudRate)) return false;

    setModemLine(fd, TIOCM_DTR, (dcb.Flags & kDcbDtrControlEnable) != 0);
    setModemLine(fd, TIOCM_RTS, (dcb.Flags & (kDcbRtsControlEnable | kDcbRtsControlHandshake)) != 0);
    return true;
}

bool PosixSerialPort::setCommTimeouts(PortHandle h, const CommTimeouts&) {
    return isOwn(h);
}

bool PosixSerialPort::setupComm(PortHandle h, uint32_t, uint32_t) {
    return isOwn(h);
}

bool PosixSerialPort::purgeComm(PortHandle h, uint32_t flags) {
    if (!isOwn(h)) return false;
    const bool rx = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
    const bool tx = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
    if (!rx && !tx) return true;
    return tcflush(static_cast<int>(h), rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0;
}

bool PosixSerialPort::readFile(PortHandle h, void* buffer, uint32_t toRead, uint32_t& bytesRead) {
    bytesRead = 0;
    if (!isOwn(h)) return false;
    if (toRead == 0) return true;
    const ssize_t n = ::read(static_cast<int>(h), buffer, toRead);
    if (n >= 0) {
        bytesRead = static_cast<uint32_t>(n);
        return true;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

bool PosixSerialPort::deviceLost(PortHandle h) {
    if (!isOwn(h)) return false;
    // A terminal read with nothing queued returns 0 bytes whether or not the device is there, so
    // the descriptor's state tells: a hung-up terminal reports POLLHUP, a pseudo-terminal whose
    // master has closed POLLHUP as well (and EIO on reads).
    pollfd watched{static_cast<int>(h), POLLIN, 0};
    int ready = -1;
    do {
        ready = ::poll(&watched, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return false;  // cannot tell
    return (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// With no time limit (VTIME 0), a terminal in raw mode reports itself readable to poll() once VMIN
// bytes are queued; a non-blocking read still returns what there is, and a hang-up is reported
// whatever the count.
bool PosixSerialPort::setReadWake(PortHandle h, uint32_t bytes) {
    if (!isOwn(h)) return false;
    const int fd = static_cast<int>(h);
    const auto count = static_cast<uint8_t>(std::clamp<uint32_t>(bytes, 1, 255));
    const auto known = readWake_.find(fd);
    if (known != readWake_.end() ? known->second == count : count == 1) return true;
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    // VMIN 0 and 1 both mean the first byte to poll(); 1 stands for the default
    t.c_cc[VMIN] = count == 1 ? 0 : count;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
    if (count == 1) {
        readWake_.erase(fd);
    } else {
        readWake_[fd] = count;
    }
    return true;
}

bool PosixSerialPort::closeHandle(PortHandle h) {
    if (!isOwn(h)) return false;
    const int fd = static_cast<int>(h);
    open_.erase(fd);
    readWake_.erase(fd);
    // Exclusive mode belongs to the device, not to this descriptor; leave the device free for the next
    // opener.
    (void)ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
}
