// Program download, the one-call card reading and passing, and the
// calibration commands, through the exports as an application calls them.
#include <unistd.h>

#include <cstdint>
#include <fstream>

#include "api/app.h"
#include "commands/families.h"
#include "commands/program_download.h"
#include "markwire.h"
#include "support/session_fixture.h"

namespace markwire::test {
namespace {

// A reader taking a program: "A a.hex/" answered with its echo and `ready`,
// then every two-byte command echoed (its byte and `echoEnd`), "EN/"
// `confirmMs` after `expected` bytes came (never when negative). It stops
// echoing after `echoLimit` bytes.
class ProgramReader final : public sim::Peer {
 public:
  explicit ProgramReader(std::size_t expected, std::size_t echoLimit = SIZE_MAX,
                         std::string ready = "RD", std::int64_t confirmMs = 0, char echoEnd = '/')
      : expected_(expected), echoLimit_(echoLimit), ready_(std::move(ready)),
        confirmMs_(confirmMs), echoEnd_(echoEnd) {}
  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t now,
                 sim::PeerOutput& out) override {
    for (std::uint8_t b : bytes) {
      pending_ += static_cast<char>(b);
      if (!started_) {
        if (pending_ == "A a.hex/") {
          out.Send(now, pending_ + ready_);
          started_ = true;
          pending_.clear();
          if (expected_ == 0) out.Send(now, "EN/");
        }
        continue;
      }
      if (pending_.size() < 2) continue;
      received_ += pending_[0];
      if (received_.size() <= echoLimit_) out.Send(now, std::string{pending_[0], echoEnd_});
      if (received_.size() == expected_ && confirmMs_ >= 0)
        out.Send(now + confirmMs_ * 1000, "EN/");
      pending_.clear();
    }
  }
  std::string received_;

 private:
  std::size_t expected_, echoLimit_;
  std::string ready_, pending_;
  std::int64_t confirmMs_;
  char echoEnd_;
  bool started_ = false;
};

// Puts a peer that is no reader on line: "Q/" goes unanswered, "ONLINE/" is
// echoed with "EN", and what comes after the hand-shake goes to the peer.
class OnLine final : public sim::Peer {
 public:
  explicit OnLine(sim::Peer& peer) : peer_(peer) {}
  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t now,
                 sim::PeerOutput& out) override {
    while (!online_ && !bytes.empty()) {
      heard_ += static_cast<char>(bytes.front());
      bytes = bytes.subspan(1);
      if (heard_.ends_with("ONLINE/")) {
        out.Send(now, "ONLINE/EN");
        online_ = true;
      }
    }
    if (!bytes.empty()) peer_.OnReceive(bytes, now, out);
  }
  void OnWake(std::int64_t now, sim::PeerOutput& out) override { peer_.OnWake(now, out); }

 private:
  sim::Peer& peer_;
  std::string heard_;
  bool online_ = false;
};

class CallsTest : public ::testing::Test {
 protected:
  // The session is the process's one session; the peers it talked to live
  // until the test ends, so that ending a session never reaches a dead one.
  template <typename P, typename... Args>
  P& Use(Args&&... args) {
    peers.push_back(std::make_unique<P>(std::forward<Args>(args)...));
    sim::Peer& peer = *peers.back();
    peers.push_back(std::make_unique<OnLine>(peer));
    auto owned = std::make_unique<sim::MemoryLink>(clock, *peers.back());
    link = owned.get();
    App().ReplaceSession(std::make_unique<OmrInfo>(std::move(owned), clock, notifier, Families()));
    EXPECT_EQ(App().Session()->Open("mem"), 255);
    return static_cast<P&>(peer);
  }
  void TearDown() override { App().ReplaceSession(App().MakeDefaultSession()); }
  std::string File(const std::string& bytes) {
    // One file per test and process: ctest runs tests side by side.
    const std::string path = ::testing::TempDir() + "markwire_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             "_" + std::to_string(getpid()) + ".hex";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  sim::VirtualClock clock;
  RecordingNotifier notifier;
  std::vector<std::unique_ptr<sim::Peer>> peers;
  sim::MemoryLink* link = nullptr;
};

TEST_F(CallsTest, ProgramIsSentByteByByteEachEchoed) {
  const std::string program = std::string(":10/00\0\r\n", 9) + std::string(300, 'x');
  Use<ProgramReader>(program.size());
  EXPECT_EQ(OmrS(("W " + File(program) + "/").c_str()), 0);  // a "/" in the path cuts it
  EXPECT_EQ(notifier.messages.back(), "程序装载失败！");

  auto& reader = Use<ProgramReader>(program.size());
  const std::string path = File(program);
  const auto slash = path.rfind('/');
  ASSERT_EQ(chdir(path.substr(0, slash).c_str()), 0);
  EXPECT_EQ(OmrS(("W " + path.substr(slash + 1) + "/").c_str()), 255);
  EXPECT_EQ(reader.received_, program);
  EXPECT_EQ(link->Writes()[6], "//");  // a "/" byte is "//" (after the hand-shake's two)
  // At most once per 1 %, always at the end.
  const auto& progress = notifier.progress;
  ASSERT_FALSE(progress.empty());
  EXPECT_LE(progress.size(), 101u);
  EXPECT_EQ(progress.back(), std::make_pair(309u, 309u));
  EXPECT_EQ(App().Session()->Error().Code(), "00");  // a download leaves no code
}

TEST_F(CallsTest, ProgramDownloadFailsAtEachBrokenStepAndAwaitsTheConfirmation) {
  const std::string program = "0123456789";
  struct Case {
    const char* what;
    std::size_t echoLimit;
    std::string ready;
    std::string file;
    char echoEnd = '/';
  } cases[] = {
      {"the reader stops echoing", 4, "RD", File(program)},
      {"each byte echoed without its \"/\"", SIZE_MAX, "RD", File(program), '.'},
      {"no RD", SIZE_MAX, "NO", File(program)},
      {"no such file", SIZE_MAX, "RD", "/nonexistent.hex"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& reader = Use<ProgramReader>(program.size(), c.echoLimit, c.ready, 0, c.echoEnd);
    EXPECT_EQ(SendProgramFile(*App().Session(), c.file), 0);
    EXPECT_LE(reader.received_.size(), 5u);
  }
  // The reader confirms the program up to 6 s after its last byte.
  for (const std::int64_t confirmMs : {5900, -1}) {  // -1: never
    Use<ProgramReader>(program.size(), SIZE_MAX, "RD", confirmMs);
    const std::int64_t start = clock.NowUs();
    EXPECT_EQ(SendProgramFile(*App().Session(), File(program)), confirmMs < 0 ? 0 : 255);
    EXPECT_EQ(clock.NowUs() - start, (confirmMs < 0 ? 6000 : confirmMs) * 1000);
  }
  // A file larger than one piece of the streamed read arrives whole.
  std::string large(70'000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  auto& big = Use<ProgramReader>(large.size());
  EXPECT_EQ(SendProgramFile(*App().Session(), File(large)), 255);
  EXPECT_EQ(big.received_, large);

  // An empty file: "A a.hex/", "RD", then only the wait for "EN".
  Use<ProgramReader>(std::size_t{0});
  EXPECT_EQ(SendProgramFile(*App().Session(), File("")), 255);
  EXPECT_EQ(ProgramFileName("W C:\\FW\\NEW.HEX/"), "C:\\F\\NE.HEX");
  EXPECT_EQ(ProgramFileName("W C:\\fw\\reader.hex/ more"), "C:\\fw\\reader.hex");
}

TEST_F(CallsTest, ReadOneCardComposesTheApplicationsSequence) {
  auto& reader = Use<ScriptedReader>();
  char data[4096];
  reader.Expect("R/").Answer("EN").Reply(0, "EN");
  reader.Expect("r A 0001 0200/").Answer("EN").Reply(0, std::string("0003XYZ\0EN", 10));
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(ReadOneCard(1, 200, data), 3);
  EXPECT_STREQ(data, "XYZ");

  // A negative option prints with its sign; only digit runs count, so -1
  // reads one extra byte as 1 would.
  reader.Expect("R/").Answer("EN").Reply(0, "EN");
  reader.Expect("r A -001 0002/").Answer("EN").Reply(0, "0003XYZEN");
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(ReadOneCard(-1, 2, data), 3);
  EXPECT_STREQ(data, "XYZ");

  // "R/" refused: the code comes back in the buffer, nothing else is sent.
  reader.Expect("R/").Answer("08");
  EXPECT_EQ(ReadOneCard(1, 200, data), 0);
  EXPECT_STREQ(data, "08");
  EXPECT_EQ(reader.StepsLeft(), 0u);
  EXPECT_TRUE(reader.Unexpected().empty());
}

TEST_F(CallsTest, ReadOneCardReportsOnlyCardsWhoseDataArrived) {
  auto& reader = Use<ScriptedReader>();
  char data[4096];
  char code[3];
  // "R/" echoed but never answered, or answered with something that is
  // neither "EN" nor a status: the reader may have fed nothing, and an empty
  // block is then no card. The code outlives the closing "-/".
  for (const char* unconfirmed : {"R/", "R/ENxy"}) {
    SCOPED_TRACE(unconfirmed);
    reader.Expect("R/").Reply(0, unconfirmed);
    reader.Expect("r A 0000 2000/").Answer("EN").Reply(0, std::string("0000\0EN", 7));
    reader.Expect("-/").Answer("EN");
    EXPECT_EQ(ReadOneCard(0, 2000, data), 0);
    EXPECT_STREQ(data, "");
    OmrGetError(code);
    EXPECT_STREQ(code, "14");
  }
  // The same with data: the card is this read's, as the reader confirmed the
  // end of the last one.
  reader.Expect("R/").Reply(0, "R/");
  reader.Expect("r A 0000 2000/").Answer("EN").Reply(0, std::string("0003XYZ\0EN", 10));
  reader.Expect("-/").Reply(0, "-/");  // the end of this card is not confirmed
  EXPECT_EQ(ReadOneCard(0, 2000, data), 3);
  EXPECT_STREQ(data, "XYZ");
  // Now the reader may still hold "XYZ": an unconfirmed feed that brings data
  // may bring that card again.
  reader.Expect("R/").Reply(0, "R/");
  reader.Expect("r A 0000 2000/").Answer("EN").Reply(0, std::string("0003XYZ\0EN", 10));
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(ReadOneCard(0, 2000, data), 0);
  OmrGetError(code);
  EXPECT_STREQ(code, "14");
  // A confirmed feed reads as always.
  reader.Expect("R/").Answer("EN").Reply(0, "EN");
  reader.Expect("r A 0000 2000/").Answer("EN").Reply(0, std::string("0003UVW\0EN", 10));
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(ReadOneCard(0, 2000, data), 3);
  EXPECT_STREQ(data, "UVW");
  EXPECT_EQ(reader.StepsLeft(), 0u);
}

TEST_F(CallsTest, ReadOneCardWhoseBlockNeverCameFailsEvenWhenItsEndMarkDid) {
  auto& reader = Use<ScriptedReader>();
  char data[4096] = "untouched";
  reader.Expect("R/").Answer("EN").Reply(0, "EN");
  // The length field, then nothing for two reads of the data, then "EN".
  reader.Expect("r A 0000 2000/").Answer("EN").Reply(0, "0005").Reply(2500, "EN");
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(ReadOneCard(0, 2000, data), 0);
  EXPECT_STREQ(data, "untouched");
  // "-/" reset the record, but the failed read's code is still pending.
  EXPECT_EQ(OmrG(data), 255);
  EXPECT_STREQ(data, "14");
  EXPECT_EQ(reader.StepsLeft(), 0u);
}

TEST_F(CallsTest, PassOneCardSetsTheTestPointThenPasses) {
  auto& reader = Use<ScriptedReader>();
  char data[16] = "untouched";
  reader.Expect("I 0 001 02/").Answer("\xFC\xFC").Reply(0, "\xFF\xFF");
  reader.Expect("I 3/").Answer("\xFC\xFC");  // no status within 3000 ms: passed
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(PassOneCard(1, 2, data), 255);
  EXPECT_STREQ(data, "untouched");

  reader.Expect("I 0 001 02/").Answer("\xFC\xFC").Reply(0, "\xFF\xFF");
  reader.Expect("I 3/").Answer("\xFC\xFC").Reply(500, "16");
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(PassOneCard(1, 2, data), 0);
  EXPECT_STREQ(data, "16");

  reader.Expect("I 0 001 02/").Answer("03");  // test point refused: nothing more
  EXPECT_EQ(PassOneCard(1, 2, data), -1);
  EXPECT_EQ(reader.StepsLeft(), 0u);
  EXPECT_TRUE(reader.Unexpected().empty());
}

TEST_F(CallsTest, AdjustmentsSendTheirCommandsAndTakeTheirStatusByKind) {
  auto& reader = Use<ScriptedReader>();
  struct Case {
    int (*call)();
    const char* command;
  } cases[] = {
      {[] { return AdjustGrayInfo(1, 2); }, "J 02 01/"},  // the second argument first
      {[] { return AdjustCardInfo(1, 2); }, "J 001 02/"},
      {[] { return AdjustMota(5); }, "MO 5/"},
      {[] { return AdjustForeTime(-3); }, "m 3 S/"},
      {[] { return AdjustBehindTime(4); }, "M 4/"},
  };
  for (const auto& c : cases) {
    reader.Expect(c.command).Answer("EN").Reply(0, "EN");
    EXPECT_EQ(c.call(), 255) << c.command;
  }
  // Refused: the gray and card adjustments leave the code pending for the
  // next OmrG; the motor and timing ones take it off themselves.
  reader.Expect("J 02 01/").Answer("06");
  EXPECT_EQ(AdjustGrayInfo(1, 2), 0);
  EXPECT_TRUE(App().Session()->Error().Pending());
  reader.Expect("m 3 S/").Answer("06");
  EXPECT_EQ(AdjustForeTime(-3), 0);
  EXPECT_FALSE(App().Session()->Error().Pending());
  EXPECT_EQ(App().Session()->Error().Code(), "06");
  EXPECT_TRUE(reader.Mismatches().empty());
}

}  // namespace
}  // namespace markwire::test
