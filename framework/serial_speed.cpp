#include "framework/serial_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace fw::serial_speed {

bool SetAnySpeed(int fd, unsigned bitsPerSecond)
{
    struct termios2 t { };
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = bitsPerSecond;
    t.c_ospeed = bitsPerSecond;
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace fw::serial_speed
