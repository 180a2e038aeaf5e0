// Line speeds without a B constant (3600, 7200, 14400, 28800 bit/s), set through the
// kernel's termios2, whose header cannot share a file with <termios.h>.
#pragma once

namespace fw::serial_speed {

// Sets both directions of the open device to `bitsPerSecond`; false with errno set
// when the device refuses.
bool SetAnySpeed(int fd, unsigned bitsPerSecond);

} // namespace fw::serial_speed
