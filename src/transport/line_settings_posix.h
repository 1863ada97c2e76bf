// How the line selectors of CSerialPort::Open become a termios record. Kept
// apart from the device so that the mapping can be checked without hardware:
// a pseudo-terminal silently drops parity, so only a plain record shows it.
#pragma once

#include <termios.h>

namespace markwire {

// The Bxxx constant for a baud rate; throws CSerialException (EINVAL) for a
// rate this platform has no constant for.
speed_t SpeedForBaud(unsigned baud);

// Puts `t` in raw mode for binary data and applies the selectors (see
// CSerialPort::Open). Throws CSerialException for a setting this platform
// cannot give; `t` is then unchanged.
void ApplyLineSettings(termios& t, unsigned baud, int parity, int dataBits, int stopBits,
                       int flowControl);

}  // namespace markwire
