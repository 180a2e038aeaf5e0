// The kernel's own termios2, which carries any speed; it cannot share a file with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace testing_support {

long DeviceSpeed(int fd)
{
    struct termios2 t { };
    if (ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    return static_cast<long>(t.c_ospeed);
}

} // namespace testing_support
