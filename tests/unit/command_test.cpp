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
  EXPECT_EQ(session->error.Code(), "07");
  EXPECT_TRUE(session->error.Pending());
  char buffer[16] = "xxxxxxxx";
  const auto before = link->Events().size();
  EXPECT_EQ(session->ReceiveBlock(buffer), 255);
  EXPECT_STREQ(buffer, "07");
  EXPECT_EQ(link->Events().size(), before);  // nothing read or sent
  EXPECT_FALSE(session->error.Pending());
}

TEST_F(SessionTest, WrongPartialOrMissingEchoIsACommunicationErrorAndPurges) {
  OpenSession();
  reader.Expect("J 01 02/").Reply(0, "J 01 03/EN");
  EXPECT_EQ(session->SendCommand("J 01 02/"), 0);
  EXPECT_EQ(session->error.Code(), "10");
  EXPECT_EQ(link->Events().back().kind, Kind::Purge);
  EXPECT_EQ(link->PendingBytes(), 0u);  // the "EN" went with the purge: no answer read
  reader.Expect("MO 1/").Reply(0, "MO");
  EXPECT_EQ(session->SendCommand("MO 1/"), 0);
  EXPECT_EQ(session->error.Code(), "10");
  EXPECT_DOUBLE_EQ(ElapsedMs(), 100);  // cut by the gap after "MO"
  reader.Expect("MO 2/");
  EXPECT_EQ(session->SendCommand("MO 2/"), 0);
  EXPECT_DOUBLE_EQ(ElapsedMs(), 1100);
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
  EXPECT_EQ(session->error.Code(), "00");
  EXPECT_FALSE(session->error.Pending());
  EXPECT_DOUBLE_EQ(ElapsedMs(), 0);  // no final status awaited
}

TEST_F(SessionTest, FinalStatusDecidesTheResult) {
  OpenSession();
  reader.Expect("MO 5/").Answer("EN").Reply(300, "EN");
  EXPECT_EQ(session->SendCommand("MO 5/"), 255);
  reader.Expect("MO 6/").Answer("EN").Reply(300, "16");
  EXPECT_EQ(session->SendCommand("MO 6/"), 0);
  EXPECT_EQ(session->error.Code(), "16");
  // An answer that is neither keeps the exchange's result.
  reader.Expect("MO 7/").Reply(0, "MO 7/").Reply(1200, "xy");
  EXPECT_EQ(session->SendCommand("MO 7/"), OmrInfo::kAccepted);
  // A later status resets the record: only the last command counts.
  reader.Expect("MO 8/").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(session->SendCommand("MO 8/"), 255);
  EXPECT_EQ(session->error.Code(), "00");
}

TEST_F(SessionTest, OnlyWellFormedCommandsReachTheLineAndOnlyUpToTheirSlash) {
  OpenSession();
  const std::string ninetyNine = std::string(98, 'x') + "/";
  const std::string hundred = std::string(99, 'x') + "/";
  for (const char* bad : {"R", "", "      ", hundred.c_str(), "r A 123456 0001/",
                          "I 1 1 1 1 1234567/", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(bad == nullptr ? "(null)" : bad);
    EXPECT_EQ(session->SendCommand(bad), 0);
    EXPECT_EQ(session->error.Code(), "06");
  }
  EXPECT_TRUE(WritesSinceOpen().empty());
  EXPECT_FALSE(session->readLimitActive);
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
  EXPECT_TRUE(session->isOpen);
  EXPECT_EQ(session->ExchangeCommand("MO 1/"), -1);
  EXPECT_FALSE(session->isOpen);
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
  EXPECT_EQ(session->ClassifyCommand("r A 0001 0100/"), 'r');
  EXPECT_TRUE(session->readLimitActive);
  EXPECT_TRUE(session->readExtraByte);
  EXPECT_FALSE(session->fixedBlockReply);
  EXPECT_EQ(session->readLimit, 100u);

  EXPECT_EQ(session->ClassifyCommand("r/"), 'r');
  EXPECT_TRUE(session->fixedBlockReply);
  EXPECT_EQ(session->readLimit, 10u);

  // Leading spaces are skipped; digits are read commands too; a minus sign is
  // not part of a number.
  session->readExtraByte = false;
  EXPECT_EQ(session->ClassifyCommand("  r A -005 0007/"), 'r');
  EXPECT_EQ(session->readLimit, 7u);
  EXPECT_FALSE(session->readExtraByte);
  EXPECT_EQ(session->ClassifyCommand("1 0020/"), '1');
  EXPECT_EQ(session->readLimit, 20u);
  EXPECT_TRUE(session->readExtraByte);
  // One number leaves no limit but the receive buffer.
  EXPECT_EQ(session->ClassifyCommand("r 7/"), 'r');
  EXPECT_EQ(session->readLimit, OmrInfo::kMaxBlock);

  EXPECT_EQ(session->ClassifyCommand("   "), 'e');
  EXPECT_EQ(session->ClassifyCommand(""), 'e');
  EXPECT_EQ(session->ClassifyCommand("  ONLINE/"), 'O');
}

TEST_F(SessionTest, TestCommandsRecordTheirArguments) {
  session->ClassifyCommand("r A 0000 0010/");
  EXPECT_EQ(session->ClassifyCommand("I 1 001 01 010 48/"), 'I');
  EXPECT_TRUE(session->pendingArea);
  EXPECT_EQ(session->areaArgs, (std::array<int, 5>{1, 1, 1, 10, 48}));
  EXPECT_EQ(session->ClassifyCommand("I 2 010 48 001 01/"), 'I');
  EXPECT_EQ(session->readLimit, 10u);  // an area leaves the read limit alone

  EXPECT_EQ(session->ClassifyCommand("I 0 12 34/"), 'I');
  EXPECT_TRUE(session->pendingSetTest);
  EXPECT_EQ(session->setTestArgs, (std::array<int, 2>{12, 34}));
  EXPECT_EQ(session->ClassifyCommand("I 5 07 08/"), 'I');
  EXPECT_EQ(session->i5Args, (std::array<int, 2>{7, 8}));
  EXPECT_EQ(session->ClassifyCommand("I 6 3/"), 'I');
  EXPECT_EQ(session->i6Arg, 3);
  EXPECT_EQ(session->ClassifyCommand("I/"), 'e');
  EXPECT_EQ(session->ClassifyCommand("I 123456/"), OmrInfo::kUnclassifiable);
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
