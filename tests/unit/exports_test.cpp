// The exported C functions on the process's one session, here standing on an
// in-memory reader.
#include <gtest/gtest.h>

#include "api/app.h"
#include "commands/families.h"
#include "markwire.h"
#include "memory_link.h"
#include "support/scripted_reader.h"
#include "virtual_clock.h"

namespace markwire::test {
namespace {

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto owned = std::make_unique<sim::MemoryLink>(clock, reader);
    link = owned.get();
    App().ReplaceSession(std::make_unique<OmrInfo>(std::move(owned), clock, App().Handlers(), Families()));
  }
  void TearDown() override {
    // Back to a closed session on the real ports, so nothing outlives the
    // reader and clock of this test.
    App().ReplaceSession(App().MakeDefaultSession());
    OmrSetTraceHandler(nullptr, nullptr);
    EXPECT_TRUE(reader.Mismatches().empty());
  }
  void Open() {
    reader.Expect("Q/");
    reader.Expect("ONLINE/").Answer("EN");
    ASSERT_EQ(OmrInitDevice("mem"), 255);
  }

  sim::VirtualClock clock;
  ScriptedReader reader;
  sim::MemoryLink* link = nullptr;
};

TEST_F(ExportsTest, EverythingThatTalksToTheReaderIsGuardedBeforeInit) {
  char buf[64] = {};
  int values[8] = {};
  EXPECT_EQ(OmrS("R/"), -1);
  EXPECT_EQ(OmrG(buf), -1);
  EXPECT_EQ(OmrSetTest(1, 2), -1);
  EXPECT_EQ(OmrGetValue('A', values), -1);
  EXPECT_EQ(OmrGetOriOrGray('A', values), -1);
  EXPECT_EQ(OmrGetCurve('A', values), -1);
  EXPECT_EQ(ReadOneCard(1, 200, buf), -1);
  EXPECT_EQ(DownLoadFormatFile("a.txt"), -1);
  EXPECT_EQ(PassOneCard(1, 2, buf), -1);
  EXPECT_EQ(AdjustGrayInfo(1, 2), -1);
  EXPECT_EQ(AdjustCardInfo(1, 2), -1);
  EXPECT_EQ(AdjustMota(1), -1);
  EXPECT_EQ(AdjustForeTime(1), -1);
  EXPECT_EQ(AdjustBehindTime(1), -1);
  EXPECT_TRUE(link->Events().empty());
  // The unguarded ones work in every state.
  EXPECT_EQ(OmrClose(), 255);
  EXPECT_EQ(OmrGetError(buf), 255);
  EXPECT_STREQ(buf, "00");
  EXPECT_EQ(OmrGetErrorStr(buf), 255);
  EXPECT_STREQ(buf, "Have no error");
  EXPECT_EQ(OmrGetSync(), 0);
}

TEST_F(ExportsTest, SecondInitAndCloseLeaveTheOpenSessionAlone) {
  Open();
  const auto before = link->Events().size();
  EXPECT_EQ(OmrInit(7), 255);
  EXPECT_EQ(OmrInitDevice("/dev/other"), 255);
  EXPECT_EQ(OmrClose(), 255);
  EXPECT_EQ(link->Events().size(), before);
  reader.Expect("MO 1/").Answer("EN").Reply(0, "EN");
  EXPECT_EQ(OmrS("MO 1/"), 255);
}

TEST_F(ExportsTest, PortNumberNamesTheSerialDevice) {
  EXPECT_EQ(OmrInit(3), 0);  // the scripted reader stays silent
  ASSERT_FALSE(link->Events().empty());
  EXPECT_EQ(link->Events().front().bytes, "/dev/ttyS2");
  const auto before = link->Events().size();
  EXPECT_EQ(OmrInit(0), 0);  // names no port
  EXPECT_EQ(OmrInitDevice(nullptr), 0);
  EXPECT_EQ(link->Events().size(), before);
}

TEST_F(ExportsTest, StatusOfACommandReachesTheApplicationThreeWays) {
  Open();
  reader.Expect("R/").Answer("16");
  EXPECT_EQ(OmrS("R/"), 0);
  char buf[64];
  EXPECT_EQ(OmrGetError(buf), 255);
  EXPECT_STREQ(buf, "16");
  EXPECT_EQ(OmrGetErrorStr(buf), 255);
  EXPECT_STREQ(buf, "No sheet");
  // Fetching cleared the pending mark: OmrG reads the line again.
  reader.Expect("R/").Answer("03");
  EXPECT_EQ(OmrS("R/"), 0);
  EXPECT_EQ(OmrG(buf), 255);
  EXPECT_STREQ(buf, "03");
}

TEST_F(ExportsTest, TraceHandlerSeesEveryWireTransfer) {
  std::vector<std::string> lines;
  OmrSetTraceHandler(
      [](const char* line, void* user) {
        static_cast<std::vector<std::string>*>(user)->push_back(line);
      },
      &lines);
  // The in-memory session was built without the tracing link; a default one
  // has it, so trace a failing open on a port that does not exist.
  App().ReplaceSession(App().MakeDefaultSession());
  EXPECT_EQ(OmrInitDevice("/nonexistent/device"), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find("open"), std::string::npos);
  EXPECT_NE(lines.front().find("/nonexistent/device"), std::string::npos);
}

TEST_F(ExportsTest, BarcodeModeIsTheSessionsAndAModeThatDoesNotExistChangesNothing) {
  OmrInfo& s = *App().Session();
  EXPECT_EQ(s.BarcodeMode(), barcode::BarcodeMode::kGuardedSecondDecoder);
  EXPECT_EQ(OmrSetBarcodeMode(0), 255);  // also before OmrInit: it is a setting
  EXPECT_EQ(s.BarcodeMode(), barcode::BarcodeMode::kClassic);
  EXPECT_EQ(OmrSetBarcodeMode(3), 0);
  EXPECT_EQ(OmrSetBarcodeMode(-1), 0);
  EXPECT_EQ(s.BarcodeMode(), barcode::BarcodeMode::kClassic);
  EXPECT_EQ(OmrSetBarcodeMode(1), 255);
  EXPECT_EQ(s.BarcodeMode(), barcode::BarcodeMode::kGuarded);
}

}  // namespace
}  // namespace markwire::test
