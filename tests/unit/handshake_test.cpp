// The hand-shake that opens a session: "Q/", then up to five "ONLINE/".
#include "support/session_fixture.h"

namespace markwire::test {
namespace {

using Kind = sim::MemoryLink::EventKind;

int CountEvents(const sim::MemoryLink& link, Kind kind) {
  int n = 0;
  for (const auto& e : link.Events()) n += e.kind == kind;
  return n;
}

TEST_F(SessionTest, HandshakeSucceedsAndPausesBeforeAnythingElse) {
  reader.Expect("Q/");
  reader.Expect("ONLINE/").Reply(5, "ONLINE/").Reply(8, "EN");
  EXPECT_EQ(session->Open("mem"), 255);
  EXPECT_TRUE(session->IsOpen());
  EXPECT_EQ(link->Writes(), (std::vector<std::string>{"Q/", "ONLINE/"}));
  // "EN" arrives 8 ms in; nothing may be sent for 2500 ms after it.
  EXPECT_EQ(clock.NowUs(), 8'000 + 2'500'000);
  EXPECT_EQ(link->Settings().baud, 38400u);
  EXPECT_EQ(link->Settings().parity, 0);
  EXPECT_EQ(link->Settings().dataBits, 8);
}

TEST_F(SessionTest, HandshakeRetriesUntilTheEchoComesAndPurgesBetween) {
  reader.Expect("Q/");
  reader.Expect("ONLINE/");                  // silent
  reader.Expect("ONLINE/").Reply(0, "ONL");  // partial echo
  reader.Expect("ONLINE/").Answer("EN");
  EXPECT_EQ(session->Open("mem"), 255);
  EXPECT_EQ(link->Writes(), (std::vector<std::string>{"Q/", "ONLINE/", "ONLINE/", "ONLINE/"}));
  // One purge after "Q/", one after each failed attempt.
  EXPECT_EQ(CountEvents(*link, Kind::Purge), 3);
  // Two failed attempts: a full time-out, then a read cut by the gap and
  // the gap of quiet the line is given before its purge.
  EXPECT_EQ(clock.NowUs(), 1'000'000 + 100'000 + 100'000 + 2'500'000);
}

TEST_F(SessionTest, HandshakeEchoWithStatusFailsAtOnceAndClosesThePort) {
  reader.Expect("Q/");
  reader.Expect("ONLINE/").Answer("03");
  EXPECT_EQ(session->Open("mem"), 0);
  EXPECT_FALSE(session->IsOpen());
  EXPECT_FALSE(link->IsOpen());
  EXPECT_EQ(link->Writes().size(), 2u);  // no second attempt
  EXPECT_LT(clock.NowUs(), 1'000);
  // The error record is not touched by a hand-shake.
  EXPECT_EQ(session->Error().Code(), "00");
  EXPECT_FALSE(session->Error().Pending());
}

TEST_F(SessionTest, APortWithoutItsLineThreadSaysSoWhenItCloses) {
  OpenSession();
  link->FailLineThread();
  session->Close();
  EXPECT_EQ(notifier.messages, std::vector<std::string>{"CreateThread failed."});
}

TEST_F(SessionTest, SilentReaderFailsAfterFiveAttempts) {
  EXPECT_EQ(session->Open("mem"), 0);
  EXPECT_EQ(link->Writes(), (std::vector<std::string>{"Q/", "ONLINE/", "ONLINE/", "ONLINE/",
                                                      "ONLINE/", "ONLINE/"}));
  EXPECT_EQ(clock.NowUs(), 5'000'000);
  EXPECT_FALSE(link->IsOpen());
  EXPECT_FALSE(session->LastOpenError().empty());
}

TEST_F(SessionTest, DeviceThatCannotBeOpenedWritesNothing) {
  link->FailNextOpen("/dev/nothing: No such file or directory");
  EXPECT_EQ(session->Open("/dev/nothing"), 0);
  EXPECT_TRUE(link->Writes().empty());
  EXPECT_EQ(session->LastOpenError(), "/dev/nothing: No such file or directory");
  // A later hand-shake on a working device succeeds.
  reader.Expect("Q/");
  reader.Expect("ONLINE/").Answer("EN");
  EXPECT_EQ(session->Open("mem"), 255);
}

TEST_F(SessionTest, DeviceLostDuringHandshakeStopsTheAttempts) {
  reader.Expect("Q/");
  reader.Expect("ONLINE/").Reply(0, "ONLI").HangUp(10);
  EXPECT_EQ(session->Open("mem"), 0);
  EXPECT_EQ(link->Writes().size(), 2u);
  EXPECT_LT(clock.NowUs(), 200'000);
}

}  // namespace
}  // namespace markwire::test
