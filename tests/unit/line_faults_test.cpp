// A line that misbehaves: whatever comes late, or where nothing was due, is
// let pass before the next command, so that it cannot become that command's
// answer.
#include <algorithm>
#include <cstring>

#include "support/session_fixture.h"

namespace markwire::test {
namespace {

// `count` bytes of `fill`, sent in pieces of ten every 20 ms from `fromMs`
// on: a reply that keeps coming, never pausing for the 100 ms gap.
void Stream(ScriptedReader::Step& step, std::int64_t fromMs, std::size_t count, char fill = 'D') {
  for (std::size_t sent = 0; sent < count; sent += 10)
    step.Reply(fromMs + static_cast<std::int64_t>(sent / 10) * 20,
               std::string(std::min<std::size_t>(10, count - sent), fill));
}

class LineFaultTest : public SessionTest {
 protected:
  // What the fault left on its way is gone once the call that met it
  // returns, not only when the next command purges.
  void ExpectLineLetPass() { EXPECT_EQ(link->PendingBytes(), 0u); }
  // The next command is answered cleanly: nothing of the fault is left.
  void ExpectCleanExchange() {
    reader.Expect("MO 9/").Answer("EN").Reply(0, "EN");
    EXPECT_EQ(session->SendCommand("MO 9/"), 255);
    EXPECT_EQ(link->PendingBytes(), 0u);
  }
};

TEST_F(LineFaultTest, RestOfAConfusedReplyIsLetPassBeforeThePurge) {
  OpenSession();
  // A stray byte in front of the echo, then the rest of the reply for a
  // second: a purge at once would leave most of it for the next command.
  auto& step = reader.Expect("r A 0000 0100/").Reply(0, "Xr A 0000 0100/EN0990");
  Stream(step, 1, 990);
  EXPECT_EQ(session->SendCommand("r A 0000 0100/"), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  ExpectLineLetPass();
  ExpectCleanExchange();
}

TEST_F(LineFaultTest, LateFinalStatusOfACommandWithAGarbledEchoIsNotTheNextEcho) {
  OpenSession();
  // A late "EN" of something earlier spoils the echo of "R/"; the reader
  // still feeds, and says so after the card's travel, 300 ms on.
  reader.Expect("R/").Reply(0, "ENR/EN").Reply(300, "EN");
  EXPECT_EQ(session->SendCommand("R/"), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  EXPECT_FALSE(session->FeedConfirmed());
  ExpectLineLetPass();
  ExpectCleanExchange();
}

TEST_F(LineFaultTest, StrayBytesBeforeACommandAreLetPassBeforeItIsSent) {
  OpenSession();
  reader.Expect("MO 1/").Answer("EN").Reply(0, "EN").Reply(10, "XY").Reply(60, "ZW");
  EXPECT_EQ(session->SendCommand("MO 1/"), 255);
  clock.SleepMs(20);  // "XY" has come, "ZW" is on its way
  ExpectCleanExchange();
  EXPECT_EQ(WritesSinceOpen().back(), "MO 9/");
}

TEST_F(LineFaultTest, CommandIsNotSentIntoALineThatDoesNotFallQuiet) {
  OpenSession();
  auto& step = reader.Expect("MO 1/").Answer("EN").Reply(0, "EN");
  Stream(step, 10, 3000);  // six seconds of bytes nobody asked for
  EXPECT_EQ(session->SendCommand("MO 1/"), 255);
  clock.SleepMs(20);
  // "R/" would feed a card whose data could not be told from the stream.
  EXPECT_EQ(session->SendCommand("R/"), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  EXPECT_EQ(WritesSinceOpen(), std::vector<std::string>{"MO 1/"});
  // Once the stream has ended the line is quiet again and commands go out.
  clock.SleepMs(6000);
  ExpectCleanExchange();
}

TEST_F(LineFaultTest, LineTricklingSlowerThanTheGapIsNotTakenForQuiet) {
  OpenSession();
  // A byte every 150 ms for 20 s: each pause looks like the end of a reply.
  auto& step = reader.Expect("MO 1/").Answer("EN").Reply(0, "EN");
  for (int i = 0; i < 134; ++i) step.Reply(10 + i * 150, "D");
  EXPECT_EQ(session->SendCommand("MO 1/"), 255);
  clock.SleepMs(20);
  // The first "R/" still goes out into it; once the line has needed
  // settling twice without a right echo between, no other does.
  reader.Expect("R/");
  while (ElapsedMs() < 16'000) EXPECT_EQ(session->SendCommand("R/"), 0);
  const auto writes = WritesSinceOpen();
  EXPECT_EQ(std::count(writes.begin(), writes.end(), "R/"), 1);
  clock.SleepMs(5000);
  ExpectCleanExchange();
}

TEST_F(LineFaultTest, RefusedBlockIsLetPassToItsLateEnd) {
  OpenSession();
  // A length field that cannot be trusted, and a tail far longer than one
  // read's worth, still coming after a second.
  auto& step = reader.Expect("r A 0000 0100/").Answer("EN").Reply(5, "12x4");
  Stream(step, 6, 1000);
  ASSERT_EQ(session->SendCommand("r A 0000 0100/"), 255);
  char buffer[64] = "untouched";
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  EXPECT_STREQ(buffer, "untouched");
  ExpectLineLetPass();
  ExpectCleanExchange();
}

TEST_F(LineFaultTest, BlockThatRunsPastItsLengthIsLetPassToItsEnd) {
  OpenSession();
  auto& step = reader.Expect("r A 0000 0010/").Answer("EN").Reply(5, std::string("0002AB\0XX", 9));
  Stream(step, 6, 600);
  ASSERT_EQ(session->SendCommand("r A 0000 0010/"), 255);
  char buffer[64];
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  ExpectLineLetPass();
  ExpectCleanExchange();
}

}  // namespace
}  // namespace markwire::test
