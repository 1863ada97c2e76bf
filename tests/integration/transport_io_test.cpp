// The port wrapper over a real pseudo-terminal, in real time: writes, and the
// far end going away. The read, gap and purge cases every line shares are in
// the line contract test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "transport/com_port.h"

namespace markwire {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::MsSince;
using testing::PtyPair;
using Clock = std::chrono::steady_clock;

class ComPortIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.Open(pty_.SlavePath(), kReaderLine)) << port_.LastError();
  }

  // Reads as the session does; `ms` is how long the read took.
  std::string ReadText(std::size_t count, unsigned timeoutMs, long& ms) {
    std::vector<std::uint8_t> buf(count);
    const auto start = Clock::now();
    const unsigned n = port_.Read(buf, timeoutMs);
    ms = MsSince(start);
    return std::string(buf.begin(), buf.begin() + n);
  }

  PtyPair pty_;  // declared first: the port closes before its device goes
  CComPort port_;
  long ms_ = 0;
};

TEST_F(ComPortIo, WritesArriveWholeEvenWhenPurgedRightAfter) {
  // The hand-shake purges right after writing "Q/": the output side must survive.
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(port_.Write(Bytes("Q/")), 2u);
    port_.Purge();
    ASSERT_EQ(pty_.Receive(2, 500ms), "Q/") << "round " << i;
  }
  // More than the driver buffers: the write must wait for room, not stop short.
  std::string block(256 * 1024, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 23);
  std::string received;
  std::thread far([&] { received = pty_.Receive(block.size(), 5000ms); });
  EXPECT_EQ(port_.Write(Bytes(block)), block.size());
  far.join();
  EXPECT_TRUE(received == block) << "received " << received.size() << " bytes";
}

TEST_F(ComPortIo, FarEndClosingDuringAReadLosesTheDeviceUntilTheNextOpen) {
  std::thread far([this] {
    std::this_thread::sleep_for(100ms);
    pty_.CloseMaster();
  });
  EXPECT_EQ(ReadText(10, 2000, ms_), "");
  far.join();
  EXPECT_LT(ms_, 1000) << "a hang-up must end the read, not the time-out";
  EXPECT_FALSE(port_.IsValid());
  EXPECT_NE(port_.LastError().find("lost"), std::string::npos) << port_.LastError();
  EXPECT_EQ(ReadText(10, 1000, ms_), "");
  EXPECT_LT(ms_, 5) << "the port stays lost";

  PtyPair fresh;
  ASSERT_TRUE(port_.Open(fresh.SlavePath(), kReaderLine)) << port_.LastError();
  EXPECT_TRUE(port_.IsValid());
  EXPECT_EQ(port_.LastError(), "");
}

TEST_F(ComPortIo, HangUpIsSeenBetweenCallsByTheThreadAndAtOnceByIsValid) {
  pty_.CloseMaster();
  // The line-event thread notices without any call on the port.
  const auto start = Clock::now();
  while (!port_.Status().hangUp && MsSince(start) < 1000) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(port_.Status().hangUp);
  EXPECT_NE(port_.LastError().find("hang-up"), std::string::npos) << port_.LastError();

  // Asked right after a hang-up, before the thread can have run, the port
  // already answers that the device is gone.
  PtyPair second;
  ASSERT_TRUE(port_.Open(second.SlavePath(), kReaderLine)) << port_.LastError();
  second.CloseMaster();
  EXPECT_FALSE(port_.IsValid());
}

}  // namespace
}  // namespace markwire
