// Sending commands: echo, answer, final status, classification, refusals.
#include "session/command_text.h"
#include "support/session_fixture.h"

namespace markwire::test {
namespace {

using Kind = sim::MemoryLink::EventKind;

TEST_F(SessionTest, ReadStartPausesThenTakesItsFinalStatus) {
  OpenSession();
  // Echo, no answer within 1000 ms, then "EN" within the next 3000 ms.
  reader.Expect("R/").Reply(0, "R/").Reply(2500, "EN");
  EXPECT_EQ(session->SendCommand("R/"), 255);
  EXPECT_DOUBLE_EQ(ElapsedMs(), 2500);
  // "EN" at once and no final status: 50 ms pause, then the full 3000 ms.
  reader.Expect("R/").Answer("EN");
  EXPECT_EQ(session->SendCommand("R/"), 255);
  EXPECT_DOUBLE_EQ(ElapsedMs(), 2500 + 3050);
}

TEST_F(SessionTest, QuitWithoutAnswerIsAcceptedAndAwaitsNoFinalStatus) {
  OpenSession();
  reader.Expect("Q/").Reply(0, "Q/");
  const int r = session->SendCommand("Q/");
  EXPECT_GT(r, 0);
  EXPECT_NE(r, 255);
  EXPECT_DOUBLE_EQ(ElapsedMs(), 1000);
}

TEST_F(SessionTest, StatusAnswerFailsTheCommandAndStaysPendingForTheNextReceive) {
  OpenSession();
  reader.Expect("MO 5/").Answer("07");
  EXPECT_EQ(session->SendCommand("MO 5/"), 0);
  EXPECT_EQ(session->Error().Code(), "07");
  EXPECT_TRUE(session->Error().Pending());
  char buffer[16] = "xxxxxxxx";
  const auto before = link->Events().size();
  EXPECT_EQ(session->ReceiveBlock(buffer), 255);
  EXPECT_STREQ(buffer, "07");
  EXPECT_EQ(link->Events().size(), before);  // nothing read or sent
  EXPECT_FALSE(session->Error().Pending());
}

TEST_F(SessionTest, WrongPartialOrMissingEchoIsACommunicationErrorAndPurges) {
  OpenSession();
  // A wrong echo: the line is let fall quiet for the gap, then purged.
  reader.Expect("J 01 02/").Reply(0, "J 01 03/EN");
  EXPECT_EQ(session->SendCommand("J 01 02/"), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  EXPECT_EQ(link->Events().back().kind, Kind::Purge);
  EXPECT_EQ(link->PendingBytes(), 0u);  // the "EN" went: no answer read
  EXPECT_DOUBLE_EQ(ElapsedMs(), 100);
  // A partial echo, cut by the gap after "MO". Settled again before any
  // echo came right, the line is given twice as long to fall quiet: it may
  // be trickling slower than the gap.
  reader.Expect("MO 1/").Reply(0, "MO");
  EXPECT_EQ(session->SendCommand("MO 1/"), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  EXPECT_DOUBLE_EQ(ElapsedMs(), 100 + 100 + 200);
  // No echo at all: the line was quiet all along, and is purged at once.
  reader.Expect("MO 2/");
  EXPECT_EQ(session->SendCommand("MO 2/"), 0);
  EXPECT_DOUBLE_EQ(ElapsedMs(), 400 + 1000);
  EXPECT_EQ(link->Events().back().kind, Kind::Purge);
}

TEST_F(SessionTest, BytesAfterTheEndOfAReplyDoNotReachTheNextCommand) {
  OpenSession();
  reader.Expect("MO 1/").Answer("EN").Reply(0, "ENjunk");
  EXPECT_EQ(session->SendCommand("MO 1/"), 255);
  reader.Expect("MO 2/").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand("MO 2/"), 255);  // the purge before it took "junk"
  reader.Expect("r A 0000 0010/").Answer("EN").Reply(0, std::string("0002AB\0ENjunk", 12));
  ASSERT_EQ(session->SendCommand("r A 0000 0010/"), 255);
  char buffer[64];
  EXPECT_EQ(session->ReceiveBlock(buffer), 2);
  EXPECT_EQ(link->PendingBytes(), 0u);  // the block's own purge took it
}

TEST_F(SessionTest, EndOfCardDropsItsStatus) {
  OpenSession();
  reader.Expect("-/").Answer("03");
  EXPECT_EQ(session->SendCommand("-/"), 0);
  EXPECT_EQ(session->Error().Code(), "00");
  EXPECT_FALSE(session->Error().Pending());
  EXPECT_DOUBLE_EQ(ElapsedMs(), 0);  // no final status awaited
}

TEST_F(SessionTest, FinalStatusDecidesTheResult) {
  OpenSession();
  reader.Expect("MO 5/").Answer("EN").Reply(300, "EN");
  EXPECT_EQ(session->SendCommand("MO 5/"), 255);
  reader.Expect("MO 6/").Answer("EN").Reply(300, "16");
  EXPECT_EQ(session->SendCommand("MO 6/"), 0);
  EXPECT_EQ(session->Error().Code(), "16");
  // An answer that is neither keeps the exchange's result.
  reader.Expect("MO 7/").Reply(0, "MO 7/").Reply(1200, "xy");
  EXPECT_EQ(session->SendCommand("MO 7/"), OmrInfo::kAccepted);
  // A later status resets the record: only the last command counts.
  reader.Expect("MO 8/").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand("MO 8/"), 255);
  EXPECT_EQ(session->Error().Code(), "00");
}

TEST_F(SessionTest, OnlyWellFormedCommandsReachTheLineAndOnlyUpToTheirSlash) {
  OpenSession();
  const std::string ninetyNine = std::string(98, 'x') + "/";
  const std::string hundred = std::string(99, 'x') + "/";
  for (const char* bad : {"R", "", "      ", hundred.c_str(), "r A 123456 0001/",
                          "I 1 1 1 1 1234567/", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(bad == nullptr ? "(null)" : bad);
    EXPECT_EQ(session->SendCommand(bad), 0);
    EXPECT_EQ(session->Error().Code(), "06");
  }
  EXPECT_TRUE(WritesSinceOpen().empty());
  EXPECT_FALSE(session->NextBlock().limited);
  // The longest command the reader takes, spaces before a "/", and text after
  // the "/" (not sent) all go through.
  reader.Expect(ninetyNine).Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand(ninetyNine.c_str()), 255);
  reader.Expect("   /").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand("   /"), 255);
  reader.Expect("r A 0001 0200/").Answer("EN");
  EXPECT_EQ(session->SendCommand("r A 0001 0200/ trailing text"), 255);
  EXPECT_EQ(WritesSinceOpen(), (std::vector<std::string>{ninetyNine, "   /", "r A 0001 0200/"}));
}

TEST_F(SessionTest, LostPortGivesMinusOneAndKeepsTheFlag) {
  OpenSession();
  reader.Expect("MO 1/").HangUp(0);
  EXPECT_EQ(session->SendCommand("MO 1/"), 0);  // the echo never came
  EXPECT_EQ(session->SendCommand("MO 1/"), -1);
  EXPECT_TRUE(session->IsOpen());
  EXPECT_EQ(session->ExchangeCommand("MO 1/"), -1);
  EXPECT_FALSE(session->IsOpen());
}

TEST_F(SessionTest, TestCommandsWithoutAnAnnouncedOperationArePlainExchanges) {
  OpenSession();
  // A first number outside 0..6, or none: the exchange and a final status.
  reader.Expect("I 9/").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand("I 9/"), 255);
  reader.Expect("I/").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand("I/"), 255);
}

// ---- Classification and number extraction: pure, no line. ----

TEST_F(SessionTest, ReadCommandsSetTheLimitsOfTheNextBlock) {
  struct Case {
    const char* command;
    char key;
    bool fixedReply, limited, extraByte;
    std::uint32_t limit;
  } cases[] = {
      {"r A 0001 0100/", 'r', false, true, true, 100},
      {"r/", 'r', true, false, false, 10},  // four bytes, no length field
      // Leading spaces are skipped; a minus sign is not part of a number.
      {"  r A -005 0007/", 'r', false, true, false, 7},
      {"1 0020/", '1', false, true, true, 20},  // digits are read commands too
      // One number leaves no limit but the receive buffer.
      {"r 7/", 'r', false, true, false, OmrInfo::kMaxBlock},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    OmrInfo fresh(nullptr, clock, notifier, Families());  // nothing set yet
    EXPECT_EQ(fresh.ClassifyCommand(c.command), c.key);
    const OmrInfo::BlockRules& next = fresh.NextBlock();
    EXPECT_EQ(next.fixedReply, c.fixedReply);
    EXPECT_EQ(next.limited, c.limited);
    EXPECT_EQ(next.extraByte, c.extraByte);
    EXPECT_EQ(next.limit, c.limit);
  }

  EXPECT_EQ(session->ClassifyCommand("   "), 'e');
  EXPECT_EQ(session->ClassifyCommand(""), 'e');
  EXPECT_EQ(session->ClassifyCommand("  ONLINE/"), 'O');
}

TEST(ExtractNumbers, CountsRunsStoresTheFirstAndRefusesLongOnes) {
  std::array<int, 2> n{-1, -1};
  EXPECT_EQ(ExtractNumbers("r A 0001 0200/", n, 5), 2);
  EXPECT_EQ(n, (std::array<int, 2>{1, 200}));
  EXPECT_EQ(ExtractNumbers("a1b22c333", n, 5), 3);  // the third only counted
  EXPECT_EQ(n, (std::array<int, 2>{1, 22}));
  EXPECT_EQ(ExtractNumbers("no digits", n, 5), 0);
  EXPECT_EQ(ExtractNumbers("12345 123456", n, 5), -1);
  EXPECT_EQ(ExtractNumbers("99999999999999999999", n, 30), 1);
  EXPECT_EQ(n[0], std::numeric_limits<int>::max());  // clamped, not wrapped
}

TEST(CommandUpToSlash, BoundedScan) {
  EXPECT_EQ(CommandUpToSlash("R/xyz"), "R/");
  EXPECT_EQ(CommandUpToSlash("R"), std::nullopt);
  EXPECT_EQ(CommandUpToSlash(nullptr), std::nullopt);
  // No NUL within reach: the scan stops at the longest command.
  std::array<char, 200> noNul;
  noNul.fill('x');
  EXPECT_EQ(CommandUpToSlash(noNul.data()), std::nullopt);
}

}  // namespace
}  // namespace markwire::test
