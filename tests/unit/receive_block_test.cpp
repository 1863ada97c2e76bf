// Receiving a data block within the limits of the last read command.
#include <cstring>

#include "support/session_fixture.h"

namespace markwire::test {
namespace {

using Kind = sim::MemoryLink::EventKind;

class ReceiveTest : public SessionTest {
 protected:
  // Sends a read command answered with "EN"; the block follows `blockAfterMs`
  // later.
  void ReadCommand(const std::string& cmd, const std::string& block, std::int64_t afterMs = 5) {
    reader.Expect(cmd).Answer("EN").Reply(afterMs, block);
    ASSERT_EQ(session->SendCommand(cmd.c_str()), 255);
  }
  // Bytes the last data read asked for.
  unsigned AskedByRead(int fromEnd) const {
    int seen = 0;
    const auto& ev = link->Events();
    for (auto it = ev.rbegin(); it != ev.rend(); ++it)
      if (it->kind == Kind::Read && seen++ == fromEnd) return it->asked;
    return 0;
  }
  char buffer[4096];
};

TEST_F(ReceiveTest, BlockWithoutReadLimitIsTakenAsAnnounced) {
  OpenSession();
  reader.Expect("MO 1/").Answer("EN").Reply(0, "EN").Reply(10, "0005ABCDEEN");
  ASSERT_EQ(session->SendCommand("MO 1/"), 255);
  EXPECT_EQ(session->ReceiveBlock(buffer), 5);
  EXPECT_STREQ(buffer, "ABCDE");
}

// An area test takes the place of the read limit with its point count: a
// block read after it, while the read command's limit is still active, is
// clipped to the area, not to the read's limit.
TEST_F(ReceiveTest, AnAreaTestInBetweenSetsTheLimitOfTheNextBlock) {
  OpenSession();
  reader.Expect("r A 0000 0010/").Answer("EN");
  ASSERT_EQ(session->SendCommand("r A 0000 0010/"), 255);
  reader.Expect("I 1 000 00 005 04/")
      .Answer("\xFC\xFC")
      .Reply(0, "\xFF\xFF" "0000EN")
      .Reply(20, "0100" + std::string(20, 'A') + "EN");
  ASSERT_EQ(session->SendCommand("I 1 000 00 005 04/"), 255);
  EXPECT_EQ(session->ReceiveBlock(buffer), 100);
  EXPECT_EQ(std::string(buffer), std::string(20, 'A'));  // |4 - 0| x |5 - 0|
}

TEST_F(ReceiveTest, ReadCommandsDecideHowManyBytesAreTaken) {
  struct Case {
    const char* command;
    std::string block;  // what the reader sends after "EN"
    unsigned asked;     // data bytes the library reads
    int result;
    const char* text;
  } cases[] = {
      // Clipped to the limit, one byte more with option 1 ...
      {"r A 0001 0003/", "0005ABCDEN", 4, 5, "ABCD"},
      {"r A 0000 0003/", "0005ABCEN", 3, 5, "ABC"},
      // ... and within the limit, one byte past the announced length.
      {"r A 0000 0010/", std::string("0005ABCDE\0EN", 12), 6, 5, "ABCDE"},
      // No numbers: four bytes and no length field.
      {"r/", "WXYZEN", 4, 4, "WXYZ"},
  };
  OpenSession();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ReadCommand(c.command, c.block);
    EXPECT_EQ(session->ReceiveBlock(buffer), c.result);
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(AskedByRead(1), c.asked);  // the data read; the end mark read is last
    const OmrInfo::BlockRules& next = session->NextBlock();  // all used up
    EXPECT_FALSE(next.extraByte || next.limited || next.fixedReply);
  }
}

TEST_F(ReceiveTest, PendingCodeIsDeliveredOnceThenTheLineIsRead) {
  OpenSession();
  reader.Expect("R/").Answer("03");
  EXPECT_EQ(session->SendCommand("R/"), 0);
  const auto before = link->Events().size();
  EXPECT_EQ(session->ReceiveBlock(buffer), 255);
  EXPECT_STREQ(buffer, "03");
  EXPECT_EQ(link->Events().size(), before);
  // The second receive reads the line (nothing comes: code "14").
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_GT(link->Events().size(), before);
  EXPECT_EQ(session->Error().Code(), "14");
}

TEST_F(ReceiveTest, BrokenEndMarkFailsAndPurges) {
  OpenSession();
  ReadCommand("r A 0000 0010/", std::string("0003ABC\0E", 9));
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(link->Events().back().kind, Kind::Purge);
  EXPECT_FALSE(session->Error().Pending());
}

TEST_F(ReceiveTest, MissingBlockLeavesBarcodeErrorAfterTwoTimeouts) {
  OpenSession();
  reader.Expect("r A 0000 0010/").Answer("EN");
  ASSERT_EQ(session->SendCommand("r A 0000 0010/"), 255);
  clock0 = clock.NowUs();
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_EQ(session->Error().Code(), "14");
  EXPECT_TRUE(session->Error().Pending());
  // Length field, data twice, end mark: four time-outs of 1000 ms.
  EXPECT_DOUBLE_EQ(ElapsedMs(), 4000);
  EXPECT_EQ(session->ReceiveBlock(buffer), 255);
  EXPECT_STREQ(buffer, "14");
}

TEST_F(ReceiveTest, DamagedLengthFieldIsRefusedAndTheRestDiscarded) {
  OpenSession();
  ReadCommand("r A 0000 0100/", "12x4" + std::string(300, 'D') + "EN");
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_EQ(session->Error().Code(), "10");
  EXPECT_EQ(link->PendingBytes(), 0u);
  // The next exchange is not confused by the leftovers.
  reader.Expect("-/").Answer("EN");
  EXPECT_EQ(session->SendCommand("-/"), 255);

  ReadCommand("r A 0000 0100/", "12");  // two bytes and silence
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_EQ(session->Error().Code(), "10");
}

TEST_F(ReceiveTest, BlockLargerThanTheReceiveBufferIsRefused) {
  OpenSession();
  ReadCommand("r A 0000 9999/", "2049" + std::string(2050, 'D') + "EN");
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_EQ(session->Error().Code(), "02");
  EXPECT_EQ(link->PendingBytes(), 0u);
}

TEST_F(ReceiveTest, LargestBlockFitsWithItsExtraByte) {
  OpenSession();
  const std::string data(2048, 'M');
  ReadCommand("r A 0000 9999/", "2048" + data + "!" + "EN");
  EXPECT_EQ(session->ReceiveBlock(buffer), 2048);
  EXPECT_EQ(std::strlen(buffer), 2049u);  // the byte past the length is data too
  EXPECT_EQ(buffer[2048], '!');
}

TEST_F(ReceiveTest, ShortBlockDoesNotShowTheEndOfAnEarlierOne) {
  OpenSession();
  ReadCommand("r A 0000 0010/", std::string("0008ABCDEFGH\0EN", 15));
  EXPECT_EQ(session->ReceiveBlock(buffer), 8);
  // Announces 8, sends 2, then goes quiet: the gap ends the read.
  ReadCommand("r A 0000 0010/", "0008XY");
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_STREQ(session->ReceiveBuffer(), "XY");
}

TEST_F(ReceiveTest, HangUpInTheMiddleOfABlockLosesThePortForTheNextCall) {
  OpenSession();
  reader.Expect("r A 0000 0100/").Answer("EN").Reply(5, "0050ABCDEFGHIJ").HangUp(6);
  ASSERT_EQ(session->SendCommand("r A 0000 0100/"), 255);
  EXPECT_EQ(session->ReceiveBlock(buffer), 0);
  EXPECT_EQ(session->ReceiveBlock(buffer), -1);
  EXPECT_FALSE(session->IsOpen());
  // The application re-opens: the hand-shake runs again on a fresh device.
  OpenSession();
  EXPECT_TRUE(session->IsOpen());
}

}  // namespace
}  // namespace markwire::test
