// The port wrapper's reads, writes and purges over a real pseudo-terminal, in
// real time: the inter-byte gap, the caller's time-out, flow control, and the
// far end going away.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/timings.h"
#include "pty_pair.h"
#include "transport/com_port.h"

namespace markwire {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class ComPortIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.Open(pty_.SlavePath(), kReaderLine)) << port_.LastError();
  }

  // Reads as the session does; `elapsedMs` is how long the read took.
  std::string ReadText(std::size_t count, unsigned timeoutMs, long* elapsedMs = nullptr) {
    std::vector<std::uint8_t> buf(count);
    const auto start = Clock::now();
    const unsigned n = port_.Read(buf, timeoutMs);
    if (elapsedMs != nullptr) *elapsedMs = MsSince(start);
    return std::string(buf.begin(), buf.begin() + n);
  }

  PtyPair pty_;  // declared first: the port closes before its device goes
  CComPort port_;
};

TEST_F(ComPortIo, ReadEndsWhenCountIsMetOrAfterTheInterByteGap) {
  long ms = 0;
  pty_.Send("ABCDEFG");
  EXPECT_EQ(ReadText(7, 1000, &ms), "ABCDEFG");
  EXPECT_LT(ms, 80) << "a complete read must not wait for the gap";

  pty_.Send("EN");
  EXPECT_EQ(ReadText(7, 1000, &ms), "EN");
  EXPECT_GE(ms, 90);
  EXPECT_LE(ms, 400) << "a short reply ends about 100 ms after its last byte";

  // Bytes 60 ms apart never open a 100 ms gap, so the read keeps them all.
  std::thread far([this] {
    for (char c : std::string("abcde")) {
      pty_.Send(std::string(1, c));
      std::this_thread::sleep_for(60ms);
    }
  });
  EXPECT_EQ(ReadText(7, 2000, &ms), "abcde");
  far.join();
  EXPECT_GE(ms, 4 * 60 + 90);
  EXPECT_LE(ms, 4 * 60 + 450);
}

TEST_F(ComPortIo, TimeOutReturnsZeroAndLeavesLateBytesForTheNextReadOrAPurge) {
  long ms = 0;
  EXPECT_EQ(ReadText(7, 300, &ms), "");
  EXPECT_GE(ms, 280);
  EXPECT_LE(ms, 800);

  pty_.Send("EN");  // after the time-out: stays queued
  EXPECT_EQ(ReadText(2, 500), "EN");

  pty_.Send("XY");
  std::this_thread::sleep_for(50ms);
  port_.Purge();
  EXPECT_EQ(ReadText(2, 200), "") << "purge must discard what arrived unread";

  // A read still collecting bytes when the caller's time-out ends returns 0.
  std::thread far([this] {
    for (int i = 0; i < 12; ++i) {
      pty_.Send("z");
      std::this_thread::sleep_for(40ms);
    }
  });
  EXPECT_EQ(ReadText(64, 300, &ms), "");
  far.join();
  EXPECT_GE(ms, 280);
  EXPECT_LE(ms, 800);
  EXPECT_EQ(ReadText(0, 1000, &ms), "");
  EXPECT_LT(ms, 5) << "reading nothing must not wait";
}

TEST_F(ComPortIo, PurgeRightAfterAWriteKeepsTheWrittenBytes) {
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(port_.Write(Bytes("Q/")), 2u);
    port_.Purge();
    ASSERT_EQ(pty_.Receive(2, 500ms), "Q/") << "round " << i;
  }
}

TEST_F(ComPortIo, WriteLargerThanTheDriverBufferArrivesWhole) {
  std::string block(256 * 1024, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 23);
  std::string received;
  std::thread far([&] { received = pty_.Receive(block.size(), 5000ms); });
  EXPECT_EQ(port_.Write(Bytes(block)), block.size());
  far.join();
  EXPECT_TRUE(received == block) << "received " << received.size() << " bytes";
  EXPECT_TRUE(port_.IsValid());
}

TEST(ComPortFlow, WriteHeldByXoffGivesUpAfterTheStallBoundAndResumesOnXon) {
  PtyPair pty;
  CComPort port;
  LineSettings xonXoff = kReaderLine;
  xonXoff.flowControl = 5;
  ASSERT_TRUE(port.Open(pty.SlavePath(), xonXoff)) << port.LastError();
  pty.Send("\x13");
  std::this_thread::sleep_for(50ms);

  const std::string block(4096, 'x');
  const auto start = Clock::now();
  const unsigned accepted = port.Write(Bytes(block));
  const long ms = MsSince(start);
  EXPECT_LT(accepted, block.size());
  EXPECT_GE(ms, static_cast<long>(kTimings.writeStallMs) - 50);
  EXPECT_LE(ms, static_cast<long>(kTimings.writeStallMs) + 1500);
  EXPECT_TRUE(port.IsValid()) << "a stalled line is not a lost device";

  pty.Send("\x11");
  EXPECT_EQ(port.Write(Bytes("OK")), 2u);
  EXPECT_EQ(pty.Receive(accepted + 2, 1000ms), std::string(accepted, 'x') + "OK");
}

TEST(ComPortLoss, FarEndClosingDuringAReadLosesTheDeviceUntilTheNextOpen) {
  CComPort port;
  {
    PtyPair pty;
    ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << port.LastError();
    std::thread far([&pty] {
      std::this_thread::sleep_for(100ms);
      pty.CloseMaster();
    });
    std::uint8_t buf[10];
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 2000), 0u);
    far.join();
    EXPECT_LT(MsSince(start), 1000) << "a hang-up must end the read, not the time-out";
    EXPECT_FALSE(port.IsValid());
    EXPECT_NE(port.LastError().find("lost"), std::string::npos) << port.LastError();
    EXPECT_EQ(port.Write(Bytes("Q/")), 0u);
    EXPECT_EQ(port.Read(buf, 1000), 0u);

    const auto closeStart = Clock::now();
    port.Close();
    EXPECT_LT(MsSince(closeStart), 100);
  }
  PtyPair fresh;
  ASSERT_TRUE(port.Open(fresh.SlavePath(), kReaderLine)) << port.LastError();
  EXPECT_TRUE(port.IsValid());
  EXPECT_EQ(port.LastError(), "");
  EXPECT_EQ(port.Write(Bytes("Q/")), 2u);
  EXPECT_EQ(fresh.Receive(2, 500ms), "Q/");
}

TEST(ComPortLoss, HangUpIsSeenBetweenCallsByTheThreadAndAtOnceByIsValid) {
  PtyPair pty;
  CComPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), kReaderLine)) << port.LastError();
  EXPECT_FALSE(port.Status().hangUp);
  pty.CloseMaster();
  // The line-event thread notices without any call on the port.
  const auto start = Clock::now();
  while (!port.Status().hangUp && MsSince(start) < 1000) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(port.Status().hangUp);
  EXPECT_FALSE(port.IsValid());
  EXPECT_NE(port.LastError().find("hang-up"), std::string::npos) << port.LastError();

  // Asked right after the hang-up, before the thread could have run, the port
  // already answers that the device is gone: the session decides from that
  // whether a new hand-shake is needed.
  PtyPair second;
  ASSERT_TRUE(port.Open(second.SlavePath(), kReaderLine)) << port.LastError();
  second.CloseMaster();
  EXPECT_FALSE(port.IsValid());
}

}  // namespace
}  // namespace markwire
