// The "I" test commands and the read-outs of their value blocks.
#include "markwire.h"
#include "api/app.h"
#include "support/session_fixture.h"

namespace markwire::test {
namespace {

const std::string kAck = "\xFC\xFC";
const std::string kDone = "\xFF\xFF";

std::string Values(std::size_t n, char first = 0) {
  std::string v(n, '\0');
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<char>(first + static_cast<char>(i));
  return v;
}

// The read-outs are exports: this fixture makes the test's session the
// process's one session.
class ReadoutTest : public SessionTest {
 protected:
  void SetUp() override {
    App().ReplaceSession(std::move(session));
    session.reset();
    OpenSession();
  }
  void TearDown() override {
    App().ReplaceSession(App().MakeDefaultSession());
    SessionTest::TearDown();
  }
  void OpenSession() {
    reader.Expect("Q/");
    reader.Expect("ONLINE/").Answer("EN");
    ASSERT_EQ(OmrInitDevice("mem"), 255);
  }
  OmrInfo& S() { return *App().Session(); }
  std::string Code() {
    char c[4];
    OmrGetError(c);
    return c;
  }
};

TEST_F(ReadoutTest, TestPointAndTestPairAnswers) {
  reader.Expect("I 0 005 03/").Answer(kAck).Reply(0, kDone);
  EXPECT_EQ(OmrSetTest(5, 3), 255);
  reader.Expect("I 0 005 03/").Answer(kAck).Reply(0, "04");
  EXPECT_EQ(OmrSetTest(5, 3), 0);
  EXPECT_EQ(Code(), "04");
  reader.Expect("I 0 012 34/").Answer("07");  // refused at the acknowledgement
  EXPECT_EQ(OmrS("I 0 12 34/"), 0);           // the library composes the command
  EXPECT_EQ(Code(), "07");

  reader.Expect("I 5 01 02/").Answer(kAck).Reply(0, kDone);
  EXPECT_EQ(OmrS("I 5 1 2/"), 255);
  reader.Expect("I 5 01 02/").Answer(kAck).Reply(0, "09");
  EXPECT_EQ(OmrS("I 5 1 2/"), 0);
  EXPECT_EQ(Code(), "09");
  reader.Expect("I 5 01 02/").Answer(kAck).Reply(0, "??");
  EXPECT_EQ(OmrS("I 5 1 2/"), 0);
}

TEST_F(ReadoutTest, AreaReadFillsBothSidesAndKeepsTheSecondWhenOnlyOneComes) {
  std::vector<int> a(1000, -1), b(1000, -1);
  // 10 x 48 points; the reader sends both sides.
  reader.Expect("I 1 001 01 010 48/").Answer(kAck).Reply(0, kDone + "0960" + Values(960) + "EN");
  EXPECT_EQ(OmrS("I 1 1 1 10 48/"), 255);
  EXPECT_EQ(OmrGetOriOrGray('A', a.data()), 480);
  EXPECT_EQ(OmrGetOriOrGray('B', b.data()), 480);
  EXPECT_EQ(a[479], 479 % 256);
  EXPECT_EQ(b[0], 480 % 256);
  EXPECT_EQ(a[480], -1);  // nothing past the block

  // Reversed corners: |(1 - 10 + 1) x (1 - 48 + 1)| = 368 points. The reader
  // sends fewer values than that: the rest are 0, and side B stays.
  reader.Expect("I 2 010 48 001 01/").Answer(kAck).Reply(0, kDone + "0100" + Values(100, 1) + "EN");
  EXPECT_EQ(OmrS("I 2 10 48 1 1/"), 255);
  EXPECT_EQ(OmrGetOriOrGray('A', a.data()), 368);
  EXPECT_EQ(a[99], 100);
  EXPECT_EQ(a[100], 0);
  EXPECT_EQ(OmrGetOriOrGray('B', b.data()), 480);
  EXPECT_EQ(OmrGetOriOrGray('C', b.data()), 0);

  // A refused exchange drops both blocks; a status after the acknowledgement
  // keeps them.
  reader.Expect("I 1 001 01 001 02/").Answer(kAck).Reply(0, "05");
  EXPECT_EQ(OmrS("I 1 1 1 1 2/"), 255);
  EXPECT_EQ(Code(), "05");
  EXPECT_EQ(OmrGetOriOrGray('A', a.data()), 368);
  reader.Expect("I 1 001 01 001 02/").Reply(0, "I 1 001 01 001 02/03");
  EXPECT_EQ(OmrS("I 1 1 1 1 2/"), 255);
  EXPECT_EQ(OmrGetOriOrGray('A', a.data()), 0);
  EXPECT_EQ(OmrGetOriOrGray('B', a.data()), 0);
}

TEST_F(ReadoutTest, AreaReadStaysInsideItsBlocksWhateverTheReaderAnnounces) {
  std::vector<int> a(100, -1), b(100, -1);
  // Two points, but the reader announces and sends 14 values: two per side
  // are kept, the rest read off the line.
  reader.Expect("I 2 001 01 001 02/").Answer(kAck).Reply(0, kDone + "0014" + Values(14, 10) + "EN");
  EXPECT_EQ(OmrS("I 2 1 1 1 2/"), 255);
  EXPECT_EQ(OmrGetOriOrGray('A', a.data()), 2);
  EXPECT_EQ(OmrGetOriOrGray('B', b.data()), 2);
  EXPECT_EQ(b[1], 13);
  EXPECT_EQ(b[2], -1);
  EXPECT_EQ(link->PendingBytes(), 0u);

  // More points than a block can announce: not asked for.
  const auto before = link->Writes().size();
  EXPECT_EQ(OmrS("I 1 1 1 100 100/"), 255);
  EXPECT_EQ(Code(), "06");
  EXPECT_EQ(link->Writes().size(), before);

  // A count that is not four digits: no values are taken, "10" is left.
  reader.Expect("I 1 001 01 001 02/").Answer(kAck).Reply(0, kDone + "0x02" + "ab" + "EN");
  EXPECT_EQ(OmrS("I 1 1 1 1 2/"), 255);
  EXPECT_EQ(Code(), "10");
  EXPECT_EQ(OmrGetOriOrGray('A', a.data()), 2);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(link->PendingBytes(), 0u);
}

TEST_F(ReadoutTest, ValueBlockHalvesAndCurve) {
  std::vector<int> v(200, -1);
  EXPECT_EQ(OmrGetCurve('A', v.data()), 0);  // nothing read yet
  reader.Expect("I 4/").Answer(kAck).Reply(0, "0096" + Values(96) + "EN");
  EXPECT_EQ(OmrS("I 4/"), 255);
  EXPECT_EQ(OmrGetValue('A', v.data()), 96);
  EXPECT_EQ(v[47], 47);
  EXPECT_EQ(v[48], -1);
  EXPECT_EQ(OmrGetValue('B', v.data()), 96);
  EXPECT_EQ(v[0], 48);
  EXPECT_EQ(v[47], 95);
  v.assign(200, -1);
  EXPECT_EQ(OmrGetValue('Z', v.data()), 96);
  EXPECT_EQ(v[0], -1);
  // Refused at the acknowledgement: the reader's code is pending, and the
  // values read before stay.
  char code[8];
  reader.Expect("I 4/").Answer("07");
  EXPECT_EQ(OmrS("I 4/"), 255);
  EXPECT_EQ(OmrG(code), 255);
  EXPECT_STREQ(code, "07");
  EXPECT_EQ(OmrGetValue('A', v.data()), 96);
  EXPECT_EQ(v[47], 47);

  // Fewer than 96 values: "A" copies all of them, "B" the upper half; values
  // that did not arrive are 0.
  reader.Expect("I 4/").Answer(kAck).Reply(0, "0095" + Values(60, 1));
  EXPECT_EQ(OmrS("I 4/"), 255);
  EXPECT_EQ(OmrGetValue('A', v.data()), 95);
  EXPECT_EQ(v[59], 60);
  EXPECT_EQ(v[60], 0);
  EXPECT_EQ(v[94], 0);
  EXPECT_EQ(OmrGetValue('B', v.data()), 95);
  EXPECT_EQ(v[0], 48);

  reader.Expect("I 6 3/").Answer(kAck).Reply(0, "0005" + Values(5, 7) + "EN");
  EXPECT_EQ(OmrS("I 6 3/"), 255);
  EXPECT_EQ(OmrGetCurve('x', v.data()), 5);
  EXPECT_EQ(v[4], 11);
  reader.Expect("I 6 4/").Answer("05");
  EXPECT_EQ(OmrS("I 6 4/"), 255);
  EXPECT_EQ(OmrG(code), 255);
  EXPECT_STREQ(code, "05");
  EXPECT_EQ(OmrGetCurve('x', v.data()), 5);
}

}  // namespace
}  // namespace markwire::test
