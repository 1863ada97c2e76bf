// The termios record that the line selectors produce. A pseudo-terminal
// drops parity whatever it is told, so this is the only place where parity
// can be checked without hardware.
#include "transport/line_settings_posix.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "transport/serial_exception.h"

namespace markwire {
namespace {

// What a driver might report before we configure it: cooked, with software
// flow control and settings we did not ask for.
termios DriverDefaults() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY | ISTRIP | BRKINT;
  t.c_oflag = OPOST;
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 5;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  return t;
}

tcflag_t Parity(const termios& t) {
#ifdef CMSPAR
  return t.c_cflag & (PARENB | PARODD | CMSPAR);
#else
  return t.c_cflag & (PARENB | PARODD);
#endif
}

TEST(LineSettings, TheReadersLineIsRawEightEvenOneWithoutFlowControl) {
  termios t = DriverDefaults();
  ApplyLineSettings(t, 38400, 0, 8, 0, 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(Parity(t), static_cast<tcflag_t>(PARENB));
  EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR), static_cast<tcflag_t>(INPCK | IGNPAR));
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXANY | ISTRIP | BRKINT), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(LineSettings, EverySelectorInItsRowSetsItsBits) {
  const struct {
    int parity;
    tcflag_t bits;
  } parities[] = {
      {0, PARENB},
      {2, 0},
      {3, PARENB | PARODD},
#ifdef CMSPAR
      {1, PARENB | PARODD | CMSPAR},
      {4, PARENB | CMSPAR},
#endif
  };
  for (const auto& p : parities) {
    termios t = DriverDefaults();
    ApplyLineSettings(t, 38400, p.parity, 8, 0, 0);
    EXPECT_EQ(Parity(t), p.bits) << "parity selector " << p.parity;
  }

  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (int bits = 5; bits <= 8; ++bits) {
    termios t = DriverDefaults();
    ApplyLineSettings(t, 38400, 2, bits, 2, 0);
    EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits - 5]);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "two stop bits";
  }
  termios t = DriverDefaults();
  ApplyLineSettings(t, 38400, 2, 5, 1, 0);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "one and a half stop bits after 5-bit characters";

  t = DriverDefaults();
  ApplyLineSettings(t, 38400, 0, 8, 0, 5);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);

  t = DriverDefaults();
  ApplyLineSettings(t, 38400, 0, 8, 0, 1);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST(LineSettings, SelectorsOutsideTheirRowKeepWhatTheDriverHad) {
  const termios before = DriverDefaults();
  termios t = before;
  ApplyLineSettings(t, 38400, 5, 8, 3, 6);
  EXPECT_EQ(Parity(t), Parity(before));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXANY), static_cast<tcflag_t>(IXON | IXANY));
  EXPECT_EQ(t.c_lflag & ICANON, 0u) << "the line is raw whatever the selectors";
}

TEST(LineSettings, ImpossibleSettingsThrowAReasonAndLeaveTheRecordAlone) {
  // "code text" of the exception, or "none".
  const auto errorOf = [](unsigned baud, int parity, int dataBits, int stopBits, int flow) {
    termios t = DriverDefaults();
    const termios before = t;
    try {
      ApplyLineSettings(t, baud, parity, dataBits, stopBits, flow);
    } catch (const CSerialException& e) {
      EXPECT_EQ(t.c_cflag, before.c_cflag);
      EXPECT_EQ(t.c_iflag, before.c_iflag);
      EXPECT_EQ(t.c_lflag, before.c_lflag);
      return std::to_string(e.errorCode) + " " + e.what();
    }
    return std::string("none");
  };
  const auto invalid = [](const char* reason) {
    return ::testing::StartsWith(std::to_string(EINVAL) + " " + reason);
  };
  [[maybe_unused]] const auto unsupported = [](const char* reason) {
    return ::testing::StartsWith(std::to_string(ENOTSUP) + " " + reason);
  };
  EXPECT_THAT(errorOf(12345, 0, 8, 0, 0), invalid("unsupported baud rate 12345"));
  EXPECT_THAT(errorOf(0, 0, 8, 0, 0), invalid("unsupported baud rate 0")) << "0 hangs up";
  EXPECT_THAT(errorOf(38400, 0, 4, 0, 0), invalid("4 data bits"));
  EXPECT_THAT(errorOf(38400, 0, 9, 0, 0), invalid("9 data bits"));
  EXPECT_THAT(errorOf(38400, 0, 8, 1, 0), invalid("one and a half stop bits"));
#ifndef CMSPAR
  EXPECT_THAT(errorOf(38400, 1, 8, 0, 0), unsupported("mark and space parity"));
  EXPECT_THAT(errorOf(38400, 4, 8, 0, 0), unsupported("mark and space parity"));
#endif
#if !defined(CDTR_IFLOW)
  for (int flow : {2, 3, 4}) {
    EXPECT_THAT(errorOf(38400, 0, 8, 0, flow), unsupported("DTR/DSR flow control")) << flow;
  }
#endif
}

}  // namespace
}  // namespace markwire
