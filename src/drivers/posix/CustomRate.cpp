// Bit rates without a Bnnn constant. Kept apart from the other files because <asm/termbits.h>
// (struct termios2) cannot be included together with glibc's <termios.h>.
#include "PosixDriver.h"

#include <cerrno>

#if defined(__linux__)
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

int vazposix::setCustomRate(int fd, int rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = speed_t(rate);
    t.c_ospeed = speed_t(rate);
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}
#else
int vazposix::setCustomRate(int, int) {
    return EINVAL;
}
#endif
