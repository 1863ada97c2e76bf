// The termios record that the line selectors produce: a pseudo-terminal drops
// parity, so only here can parity be checked without hardware.
#include "transport/line_settings_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "transport/serial_exception.h"

namespace markwire {
namespace {

#ifdef CMSPAR
constexpr tcflag_t kStick = CMSPAR;
#else
constexpr tcflag_t kStick = 0;
#endif

TEST(LineSettings, EachSelectorRowSetsItsBitsOrRefusesWithAReason) {
  // What a driver might hold before we configure it: cooked, flow, a foreign frame.
  termios defaults{};
  defaults.c_iflag = ICRNL | IXON | IXANY | ISTRIP | BRKINT;
  defaults.c_oflag = OPOST;
  defaults.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  defaults.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
  defaults.c_cc[VMIN] = 1;
  defaults.c_cc[VTIME] = 5;

  constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | kStick | CSTOPB | CRTSCTS;
  constexpr tcflag_t kSoftFlow = IXON | IXOFF | IXANY;
  const struct {
    unsigned baud;
    int parity, dataBits, stopBits, flow;
    tcflag_t cflag, iflag;  // within kFrame and kSoftFlow
    int error;              // or 0; else the exception's text starts with `reason`
    const char* reason;
  } rows[] = {
    {38400, 0, 8, 0, 0, CS8 | PARENB, 0, 0, ""},  // the reader's line
    {38400, 2, 8, 0, 0, CS8, 0, 0, ""},
    {38400, 3, 8, 0, 0, CS8 | PARENB | PARODD, 0, 0, ""},
#ifdef CMSPAR
    {38400, 1, 8, 0, 0, CS8 | PARENB | PARODD | CMSPAR, 0, 0, ""},
    {38400, 4, 8, 0, 0, CS8 | PARENB | CMSPAR, 0, 0, ""},
#else
    {38400, 1, 8, 0, 0, 0, 0, ENOTSUP, "mark and space parity"},
    {38400, 4, 8, 0, 0, 0, 0, ENOTSUP, "mark and space parity"},
#endif
    {38400, 2, 5, 2, 0, CS5 | CSTOPB, 0, 0, ""},
    {38400, 2, 6, 2, 0, CS6 | CSTOPB, 0, 0, ""},
    {38400, 2, 7, 2, 0, CS7 | CSTOPB, 0, 0, ""},
    {38400, 2, 5, 1, 0, CS5 | CSTOPB, 0, 0, ""},  // one and a half
    {38400, 0, 8, 0, 1, CS8 | PARENB | CRTSCTS, 0, 0, ""},
    {38400, 0, 8, 0, 5, CS8 | PARENB, IXON | IXOFF, 0, ""},
    // Selectors outside their row keep what the driver had.
    {38400, 5, 8, 3, 6, CS8 | PARENB | PARODD | CSTOPB | CRTSCTS, IXON | IXANY, 0, ""},
    {12345, 0, 8, 0, 0, 0, 0, EINVAL, "unsupported baud rate 12345"},
    {0, 0, 8, 0, 0, 0, 0, EINVAL, "unsupported baud rate 0"},  // 0 would hang up
    {38400, 0, 4, 0, 0, 0, 0, EINVAL, "4 data bits"},
    {38400, 0, 9, 0, 0, 0, 0, EINVAL, "9 data bits"},
    {38400, 0, 8, 1, 0, 0, 0, EINVAL, "one and a half stop bits need 5 data bits"},
#if !defined(CDTR_IFLOW)
    {38400, 0, 8, 0, 3, 0, 0, ENOTSUP, "DTR/DSR flow control"},
#endif
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("row " + std::to_string(&r - rows));
    termios t = defaults;
    try {
      ApplyLineSettings(t, r.baud, r.parity, r.dataBits, r.stopBits, r.flow);
      EXPECT_EQ(r.error, 0) << "no exception";
    } catch (const CSerialException& e) {
      EXPECT_EQ(static_cast<int>(e.errorCode), r.error);
      EXPECT_EQ(std::string(e.what()).rfind(r.reason, 0), 0u) << e.what();
      EXPECT_EQ(std::memcmp(&t, &defaults, sizeof t), 0) << "a refusal leaves the record alone";
      continue;
    }
    EXPECT_EQ(t.c_cflag & kFrame, r.cflag);
    EXPECT_EQ(t.c_iflag & kSoftFlow, r.iflag);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
    // Raw whatever the selectors: binary data, no waiting in the driver.
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | ICRNL | ISTRIP | BRKINT),
              static_cast<tcflag_t>(INPCK | IGNPAR));
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);
    EXPECT_TRUE(r.flow != 5 || (t.c_cc[VSTART] == 0x11 && t.c_cc[VSTOP] == 0x13)) << "XON/XOFF";
  }
}

}  // namespace
}  // namespace markwire
