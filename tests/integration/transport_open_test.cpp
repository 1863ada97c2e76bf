// Opening and closing the serial port and its wrapper over real
// pseudo-terminals: what is refused and why, what reaches the driver, and
// what a close leaves behind (nothing) and costs (little).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "pty_pair.h"
#include "transport/com_port.h"
#include "transport/serial_port.h"

namespace markwire {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::size_t CountEntries(const char* dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

termios SettingsOf(const CSerialPort& port) {
  termios t{};
  EXPECT_EQ(::tcgetattr(port.Handle(), &t), 0);
  return t;
}

TEST(ComPortOpen, RefusesWhatIsNotAFreeSerialDeviceAndSaysWhy) {
  const std::size_t fdsBefore = CountEntries("/proc/self/fd");
  CComPort port;

  EXPECT_FALSE(port.Open("/dev/markwire-no-such-tty", kReaderLine));
  EXPECT_EQ(port.LastError(), std::string("/dev/markwire-no-such-tty: ") + std::strerror(ENOENT));

  char file[] = "/tmp/markwire-not-a-tty-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(port.Open(file, kReaderLine));
  EXPECT_TRUE(Contains(port.LastError(), std::strerror(ENOTTY))) << port.LastError();
  EXPECT_FALSE(port.IsOpen());
  ::unlink(file);

  PtyPair pty;
  CComPort first;
  ASSERT_TRUE(first.Open(pty.SlavePath(), kReaderLine)) << first.LastError();
  EXPECT_FALSE(port.Open(pty.SlavePath(), kReaderLine)) << "the device is in use";
  EXPECT_TRUE(Contains(port.LastError(), std::strerror(EBUSY))) << port.LastError();
  EXPECT_EQ(first.Write(Bytes("ok")), 2u) << "the refused open must not disturb the owner";
  EXPECT_EQ(pty.Receive(2, 500ms), "ok");
  first.Close();

  EXPECT_FALSE(port.IsValid());
  EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore + 1) << "only the pty master may remain";
}

TEST(SerialPortOpen, LineSettingsReachTheDriver) {
  PtyPair pty;
  CSerialPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 38400, 0, 8, 0, 0));
  termios t = SettingsOf(port);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  // A pty forces 8 data bits and no PARENB whatever it is asked (the unit
  // test of the termios record checks those); the rest must show.
  EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR), static_cast<tcflag_t>(INPCK | IGNPAR));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, 3, 7, 2, 1));
  t = SettingsOf(port);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB | CRTSCTS),
            static_cast<tcflag_t>(PARODD | CSTOPB | CRTSCTS));

  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 1, 8, 0, 5));
  t = SettingsOf(port);
#ifdef CMSPAR
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD)) << "mark";
#endif
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST(SerialPortOpen, OpenOnAnOpenPortReleasesTheOldDevice) {
  PtyPair a;
  PtyPair b;
  CSerialPort port;
  CSerialPort other;
  ASSERT_TRUE(port.Open(a.SlavePath(), 38400, 0, 8, 0, 0));
  EXPECT_FALSE(other.Open(a.SlavePath(), 38400, 0, 8, 0, 0));
  EXPECT_EQ(other.OpenError(), static_cast<unsigned>(EBUSY));
  ASSERT_TRUE(port.Open(b.SlavePath(), 38400, 0, 8, 0, 0));
  EXPECT_EQ(port.Device(), b.SlavePath());
  EXPECT_TRUE(other.Open(a.SlavePath(), 38400, 0, 8, 0, 0)) << "the first device is still held";
}

TEST(ComPortOpen, SettingsTheDriverCannotGiveRefuseTheOpenAndReleaseTheDevice) {
  PtyPair pty;
  CComPort port;
  LineSettings odd = kReaderLine;
  odd.baud = 12345;
  EXPECT_FALSE(port.Open(pty.SlavePath(), odd));
  EXPECT_EQ(port.LastError(),
            pty.SlavePath() + ": unsupported baud rate 12345: " + std::strerror(EINVAL));
#if !defined(CDTR_IFLOW)
  odd = kReaderLine;
  odd.flowControl = 4;
  EXPECT_FALSE(port.Open(pty.SlavePath(), odd));
  EXPECT_TRUE(Contains(port.LastError(), "DTR/DSR flow control")) << port.LastError();
#endif
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << "a refused open left the device held";
}

TEST(ComPortLifecycle, OpenCloseCyclesLeaveNoDescriptorOrThread) {
  PtyPair pty;
  const std::size_t fds = CountEntries("/proc/self/fd");
  const std::size_t tasks = CountEntries("/proc/self/task");
  CComPort port;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << i << ": " << port.LastError();
    if (i == 0) {
      EXPECT_EQ(CountEntries("/proc/self/task"), tasks + 1) << "the line-event thread runs";
      EXPECT_FALSE(port.ThreadCreateFailed());
    }
    port.Close();
  }
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
  EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

TEST(ComPortLifecycle, CloseIsPromptAndLetsTheLastWriteThrough) {
  PtyPair pty;
  CComPort port;
  auto start = Clock::now();
  port.Close();
  EXPECT_LT(MsSince(start), 5.0) << "closing a port that is not open does nothing";

  ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << port.LastError();
  ASSERT_EQ(port.Write(Bytes("Q/")), 2u);
  start = Clock::now();
  port.Close();
  const double closeMs = MsSince(start);
  EXPECT_LT(closeMs, 100.0);
  RecordProperty("close_ms", std::to_string(closeMs));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(pty.Receive(2, 500ms), "Q/") << "a close must not discard written bytes";

  start = Clock::now();
  port.Close();
  EXPECT_LT(MsSince(start), 5.0);
}

TEST(ComPortLifecycle, IdleReadCostsNoCpu) {
  PtyPair pty;
  CComPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << port.LastError();
  const auto cpuMs = [] {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
  };
  std::uint8_t buf[1];
  const double before = cpuMs();
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buf, 1000), 0u);
  const double wall = MsSince(start);
  const double cpu = cpuMs() - before;
  EXPECT_GE(wall, 990.0);
  EXPECT_LT(cpu, 20.0) << "both threads must block while the line is idle";
  RecordProperty("idle_cpu_ms", std::to_string(cpu));
}

}  // namespace
}  // namespace markwire
