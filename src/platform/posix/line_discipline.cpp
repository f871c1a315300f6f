#include "platform/posix/line_discipline.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace tolvak::posix {

namespace {

void rawFlags(struct termios2& t) {
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~CRTSCTS;
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

tcflag_t sizeFlag(int dataBits) {
    switch (dataBits) {
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

tcflag_t parityFlags(Parity parity) {
    switch (parity) {
    case Parity::Even:
        return PARENB;
    case Parity::Odd:
        return PARENB | PARODD;
    case Parity::Mark:
        return PARENB | CMSPAR | PARODD;
    case Parity::Space:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

int result(int rc) {
    return rc == 0 ? 0 : errno;
}

} // namespace

int applyLineSettings(int fd, const SerialSettings& settings) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    rawFlags(t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= sizeFlag(settings.dataBits) | parityFlags(settings.parity);
    // Linux has no 1.5 stop bits flag: CSTOPB gives 1.5 with 5 data bits and 2 otherwise.
    if (settings.stopBits != StopBits::One) t.c_cflag |= CSTOPB;
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = settings.baud;
    t.c_ospeed = settings.baud;
    return result(ioctl(fd, TCSETS2, &t));
}

int makeRaw(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    rawFlags(t);
    t.c_cflag &= ~(CSIZE | PARENB);
    t.c_cflag |= CS8;
    return result(ioctl(fd, TCSETS2, &t));
}

int markReceiveErrors(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_iflag &= ~(IGNPAR | ISTRIP | IGNBRK | BRKINT);
    t.c_iflag |= INPCK | PARMRK;
    return result(ioctl(fd, TCSETS2, &t));
}

int discardInput(int fd) {
    return result(ioctl(fd, TCFLSH, TCIFLUSH));
}

int setExclusive(int fd, bool exclusive) {
    return result(ioctl(fd, exclusive ? TIOCEXCL : TIOCNXCL));
}

} // namespace tolvak::posix
