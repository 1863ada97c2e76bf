#include "transport/line_settings_posix.h"

#include <cerrno>
#include <string>

#include "transport/serial_exception.h"

namespace markwire {

namespace {

struct BaudEntry {
  unsigned baud;
  speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

// The BSDs can hand-shake on DTR and DSR; Linux and most others cannot.
#if defined(CCTS_OFLOW) && defined(CRTS_IFLOW) && defined(CDTR_IFLOW) && defined(CDSR_OFLOW)
#define MARKWIRE_HAS_DTR_DSR_FLOW 1
constexpr tcflag_t kHardwareFlow = CCTS_OFLOW | CRTS_IFLOW | CDTR_IFLOW | CDSR_OFLOW;
#else
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#endif

#ifdef CMSPAR
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
#else
constexpr tcflag_t kParityBits = PARENB | PARODD;
#endif

tcflag_t CharSize(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      ThrowSerialException(EINVAL, std::to_string(dataBits) + " data bits (5 to 8 are possible)");
  }
}

// False for a selector outside its row: the parity stays as the driver had it.
bool ParityFlags(int parity, tcflag_t& flags) {
  switch (parity) {
    case 0:
      flags = PARENB;
      return true;
    case 2:
      flags = 0;
      return true;
    case 3:
      flags = PARENB | PARODD;
      return true;
    case 1:
    case 4:
#ifdef CMSPAR
      // Stick parity: with CMSPAR, PARODD selects a parity bit that is always
      // 1 (mark), its absence one that is always 0 (space).
      flags = PARENB | CMSPAR | (parity == 1 ? PARODD : 0);
      return true;
#else
      ThrowSerialException(ENOTSUP, "mark and space parity are not supported on this platform");
#endif
    default:
      return false;
  }
}

// False for a selector outside its row, as for parity.
bool FlowFlags(int flowControl, tcflag_t& cflags, tcflag_t& iflags) {
  iflags = 0;
  switch (flowControl) {
    case 0:
      cflags = 0;
      return true;
    case 1:
      cflags = CRTSCTS;
      return true;
    case 5:
      cflags = 0;
      iflags = IXON | IXOFF;
      return true;
#ifdef MARKWIRE_HAS_DTR_DSR_FLOW
    case 2:
      cflags = CCTS_OFLOW | CDTR_IFLOW;
      return true;
    case 3:
      cflags = CDSR_OFLOW | CRTS_IFLOW;
      return true;
    case 4:
      cflags = CDSR_OFLOW | CDTR_IFLOW;
      return true;
#else
    case 2:
    case 3:
    case 4:
      ThrowSerialException(ENOTSUP, "DTR/DSR flow control is not supported on this platform");
#endif
    default:
      return false;
  }
}

}  // namespace

speed_t SpeedForBaud(unsigned baud) {
  for (const BaudEntry& e : kBauds) {
    if (e.baud == baud) return e.speed;
  }
  ThrowSerialException(EINVAL, "unsupported baud rate " + std::to_string(baud));
}

void ApplyLineSettings(termios& t, unsigned baud, int parity, int dataBits, int stopBits,
                       int flowControl) {
  // Everything that can fail is worked out before `t` is touched.
  const speed_t speed = SpeedForBaud(baud);
  const tcflag_t charSize = CharSize(dataBits);
  tcflag_t parityFlags = 0;
  const bool setParity = ParityFlags(parity, parityFlags);
  if (stopBits == 1 && dataBits != 5) {
    // A UART sends one and a half stop bits only after 5-bit characters; the
    // same flag means two stop bits otherwise, which is not what was asked.
    ThrowSerialException(EINVAL, "one and a half stop bits need 5 data bits");
  }
  tcflag_t flowC = 0;
  tcflag_t flowI = 0;
  const bool setFlow = FlowFlags(flowControl, flowC, flowI);

  // Raw binary transfer. Parity, character size and software flow control
  // are left to the selectors below, so that an out-of-row selector really
  // does keep what the driver had.
  t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
  // A character with a parity or framing error must not reach the data, and
  // neither may the NUL that a break would otherwise read as; the line-event
  // thread counts both through the driver's counters.
  t.c_iflag |= INPCK | IGNPAR | IGNBRK;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  // Reads never wait in the driver: the wrapper waits in poll, with its own
  // time-out and inter-byte gap.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | charSize;
  if (setParity) t.c_cflag = (t.c_cflag & ~kParityBits) | parityFlags;
  if (stopBits == 0) t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  if (stopBits == 1 || stopBits == 2) t.c_cflag |= CSTOPB;
  if (setFlow) {
    t.c_cflag = (t.c_cflag & ~kHardwareFlow) | flowC;
    t.c_iflag = (t.c_iflag & ~static_cast<tcflag_t>(IXON | IXOFF | IXANY)) | flowI;
    if (flowControl == 5) {
      t.c_cc[VSTART] = 0x11;
      t.c_cc[VSTOP] = 0x13;
    }
  }
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
}

}  // namespace markwire
