// Opening and closing the port over real pseudo-terminals: what reaches the
// driver, and what a close leaves behind (nothing) and costs (little).
#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "transport/com_port.h"
#include "transport/serial_port.h"

namespace markwire {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::MsSince;
using testing::PtyPair;

std::size_t CountEntries(const char* dir) {
  using Entries = std::filesystem::directory_iterator;
  return static_cast<std::size_t>(std::distance(Entries(dir), Entries()));
}

TEST(SerialPortOpen, WhatAPtyKeepsOfTheLineSettings) {
  // A pty forces 8 data bits and no PARENB whatever it is asked (the unit test
  // of the termios record covers those); the rest must show.
#ifdef CMSPAR
  constexpr tcflag_t kMark = PARODD | CMSPAR;
#else
  constexpr tcflag_t kMark = PARODD;
#endif
  const struct {
    unsigned baud;
    int parity, dataBits, stopBits, flow;
    speed_t speed;
    tcflag_t cflag, iflag;
  } rows[] = {
      {38400, 0, 8, 0, 0, B38400, 0, 0},
      {115200, 3, 7, 2, 1, B115200, PARODD | CSTOPB | CRTSCTS, 0},
      {9600, 1, 8, 0, 5, B9600, kMark, IXON | IXOFF},
  };
  PtyPair pty;
  CSerialPort port;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.baud);
    ASSERT_TRUE(port.Open(pty.SlavePath(), r.baud, r.parity, r.dataBits, r.stopBits, r.flow));
    termios t{};
    ASSERT_EQ(::tcgetattr(port.Handle(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), r.speed);
    EXPECT_EQ(cfgetispeed(&t), r.speed);
    EXPECT_EQ(t.c_cflag & (kMark | CSTOPB | CRTSCTS), r.cflag);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), r.iflag);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);
  }
}

TEST(ComPortLifecycle, CloseIsPromptKeepsTheLastWriteAndCyclesLeaveNothingBehind) {
  // A runtime may start a helper thread of its own with the process's first
  // thread (ThreadSanitizer does); one thread started and joined first keeps
  // it out of the count.
  std::thread([] {}).join();
  PtyPair pty;
  const std::size_t fds = CountEntries("/proc/self/fd");
  const std::size_t tasks = CountEntries("/proc/self/task");
  CComPort port;
  const LineSettings odd{.baud = 12345};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) {
    // A device that opened but cannot be configured must be released again.
    ASSERT_FALSE(port.Open(pty.SlavePath(), odd));
    ASSERT_EQ(port.LastError(),
              pty.SlavePath() + ": unsupported baud rate 12345: " + std::strerror(EINVAL));
    ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << i << ": " << port.LastError();
    ASSERT_TRUE(i > 0 || CountEntries("/proc/self/task") == tasks + 1) << "line-event thread";
    // Opening an open port releases the device first.
    ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << i << ": " << port.LastError();
    ASSERT_EQ(port.Write(Bytes("Q/")), 2u);
    port.Close();
    ASSERT_EQ(pty.Receive(2, 500ms), "Q/") << "a close must not discard written bytes";
  }
  EXPECT_LT(MsSince(start), 2000) << "200 cycles: a close must not wait on the line";
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
  EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

}  // namespace
}  // namespace markwire
