// Kept apart from PosixSerialPort.cpp: the kernel's terminal structures used here clash with the
// C library's <termios.h>, so the two must not meet in one translation unit.

#include "PosixSerialPort.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace posixserial {

#if defined(__linux__)

bool setArbitraryBaudRate(int fd, uint32_t rate) {
    if (rate == 0) return false;
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool readBaudRate(int fd, uint32_t& inRate, uint32_t& outRate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    inRate = t.c_ispeed;
    outRate = t.c_ospeed;
    return true;
}

#else

bool setArbitraryBaudRate(int, uint32_t) {
    return false;
}
bool readBaudRate(int, uint32_t&, uint32_t&) {
    return false;
}

#endif

}  // namespace posixserial
