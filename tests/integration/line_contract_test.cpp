// What every line under the session must do alike, run against each of them:
// the termios port on a pseudo-terminal in real time, and the in-memory link
// the protocol tests use on virtual time. A read ends when its count is met,
// at the 100 ms gap after a byte, or at the caller's time-out (dropping what
// it took); a purge drops what came and says how much. If the in-memory link
// drifted from the real port, the protocol tests would prove nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "memory_link.h"
#include "pty_pair.h"
#include "transport/com_port.h"
#include "virtual_clock.h"

namespace markwire {
namespace {

using namespace std::chrono_literals;

// The termios port on a pseudo-terminal; the test plays the far end.
class PtyLine {
 public:
  PtyLine() { opened_ = port_.Open(pty_.SlavePath(), kReaderLine); }
  ~PtyLine() { Wait(); }
  bool Opened() const { return opened_; }
  PortLink& Port() { return port_; }
  std::int64_t NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // The far end starts sending `text` now, a byte every `gapMs` (all at once
  // for 0).
  void Sends(const std::string& text, int gapMs) {
    if (gapMs == 0) {
      pty_.Send(text);
      return;
    }
    senders_.emplace_back([this, text, gapMs] {
      for (char c : text) {
        pty_.Send(std::string(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
      }
    });
  }
  void Pass(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  // Real time wobbles: a scheduler may be late, and the driver's gap timer
  // counts in tenths of a second from a byte that came a little before.
  static constexpr long kSlackMs = 200;
  static constexpr long kEarlyMs = 10;

 private:
  void Wait() {
    for (auto& t : senders_) t.join();
    senders_.clear();
  }
  testing::PtyPair pty_;  // declared first: the port closes before its device goes
  CComPort port_;
  std::vector<std::thread> senders_;
  bool opened_ = false;
};

// The in-memory link on virtual time, with a silent reader behind it.
class MemoryLine {
 public:
  MemoryLine() { opened_ = link_.Open("memory", kReaderLine); }
  bool Opened() const { return opened_; }
  PortLink& Port() { return link_; }
  std::int64_t NowMs() const { return clock_.NowUs() / 1000; }
  void Sends(const std::string& text, int gapMs) {
    const std::int64_t now = clock_.NowUs();
    for (std::size_t i = 0; i < text.size(); ++i)
      link_.FarEnd().Send(now + static_cast<std::int64_t>(i) * gapMs * 1000, text.substr(i, 1));
  }
  void Pass(int ms) { clock_.SleepMs(static_cast<unsigned>(ms)); }
  // Virtual time is exact.
  static constexpr long kSlackMs = 0;
  static constexpr long kEarlyMs = 0;

 private:
  struct Silent final : sim::Peer {
    void OnReceive(std::span<const std::uint8_t>, std::int64_t, sim::PeerOutput&) override {}
  };
  sim::VirtualClock clock_;
  Silent reader_;
  sim::MemoryLink link_{clock_, reader_};
  bool opened_ = false;
};

template <typename Line>
class LineContract : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(line_.Opened()) << line_.Port().LastError(); }

  // Reads as the session does; `ms` is how long the read took.
  std::string Read(std::size_t count, unsigned timeoutMs, long& ms) {
    std::vector<std::uint8_t> buf(count);
    const std::int64_t start = line_.NowMs();
    const unsigned n = line_.Port().Read(buf, timeoutMs);
    ms = static_cast<long>(line_.NowMs() - start);
    return std::string(buf.begin(), buf.begin() + n);
  }
  // `ms` lies in [low, high], give or take what the line cannot help.
  static void ExpectWithin(long ms, long low, long high, const char* what) {
    EXPECT_GE(ms, low - Line::kEarlyMs) << what;
    EXPECT_LE(ms, high + Line::kSlackMs) << what;
  }

  Line line_;
  long ms_ = 0;
};

using Lines = ::testing::Types<PtyLine, MemoryLine>;
TYPED_TEST_SUITE(LineContract, Lines);

TYPED_TEST(LineContract, ReadEndsWhenItsCountIsMetOrAtTheGapAfterTheLastByte) {
  this->line_.Sends("ABCDEFG", 0);
  EXPECT_EQ(this->Read(7, 1000, this->ms_), "ABCDEFG");
  this->ExpectWithin(this->ms_, 0, 0, "a complete read must not wait for the gap");

  this->line_.Sends("EN", 0);
  EXPECT_EQ(this->Read(7, 1000, this->ms_), "EN");
  this->ExpectWithin(this->ms_, 100, 100, "a short reply ends 100 ms after its last byte");

  // Bytes 60 ms apart never leave a 100 ms gap: one read takes them all.
  this->line_.Sends("abcde", 60);
  EXPECT_EQ(this->Read(7, 2000, this->ms_), "abcde");
  this->ExpectWithin(this->ms_, 4 * 60 + 100, 4 * 60 + 100, "the gap after the fifth byte");

  // Bytes 150 ms apart: each read ends at the gap after its one byte, and
  // the next byte waits for the next read.
  this->line_.Sends("xy", 150);
  EXPECT_EQ(this->Read(7, 2000, this->ms_), "x");
  this->ExpectWithin(this->ms_, 100, 100, "the gap after the first byte");
  EXPECT_EQ(this->Read(7, 2000, this->ms_), "y");
  this->ExpectWithin(this->ms_, 150 - 100, 150 - 100 + 100, "the second byte and its gap");
}

TYPED_TEST(LineContract, TimeOutDropsWhatTheReadTookAndLateBytesWaitForTheNextRead) {
  EXPECT_EQ(this->Read(7, 300, this->ms_), "");
  this->ExpectWithin(this->ms_, 300, 300, "nothing came: the caller's time-out");

  this->line_.Sends("EN", 0);
  EXPECT_EQ(this->Read(2, 500, this->ms_), "EN");

  // Still collecting when the time-out ends: what the read took is dropped.
  this->line_.Sends(std::string(12, 'z'), 40);
  EXPECT_EQ(this->Read(64, 300, this->ms_), "");
  this->ExpectWithin(this->ms_, 300, 300, "bytes coming do not stretch the time-out");
}

TYPED_TEST(LineContract, PurgeDropsWhatCameAndSaysHowMuch) {
  this->line_.Sends("XYZ", 0);
  this->line_.Pass(50);
  // The session tells a stray reply by the count.
  EXPECT_EQ(this->line_.Port().Purge(), 3u);
  EXPECT_EQ(this->Read(2, 200, this->ms_), "") << "a purge must discard what arrived unread";
  EXPECT_EQ(this->line_.Port().Purge(), 0u);
}

}  // namespace
}  // namespace markwire
