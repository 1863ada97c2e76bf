// The faults the simulated reader plays, each seen on the line.
#include <gtest/gtest.h>

#include <string>

#include "unit/sim_reader_fixture.h"

namespace markwire::sim {
namespace {

using namespace std::string_literals;
using Kind = Fault::Kind;

class ReaderFaultTest : public test_support::ReaderLineTest {
 protected:
  // An online reader with one card fed, playing `fault`.
  void MakeWith(Fault fault, ReaderConfig config = {}) {
    config.faults.push_back(std::move(fault));
    Make(std::move(config), {{"ABCDE", ""}, {"FGHIJ", ""}});
  }
};

TEST_F(ReaderFaultTest, CutShortRepliesHaveNoEffect) {
  // A refused feed moves no card: the next good "R/" still gets the first.
  MakeWith({Kind::Status, "R", "16", 1});
  GoOnline();
  EXPECT_EQ(Exchange("R/"), "R/16");
  EXPECT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(machine_->CurrentCard()->data, "ABCDE");

  MakeWith({Kind::WrongEcho, "R", "", 1});
  GoOnline();
  EXPECT_EQ(Exchange("R/"), "#/");
  EXPECT_EQ(machine_->Counters().cardsRead, 0u);

  MakeWith({Kind::NoAnswer, "Q", "", -1});
  GoOnline();
  EXPECT_EQ(Exchange("Q/"), "Q/");
  EXPECT_TRUE(machine_->Online());

  MakeWith({Kind::PartialEcho, "ONLINE", "", -1});
  EXPECT_EQ(Exchange("ONLINE/"), "ONL");
  EXPECT_FALSE(machine_->Online());

  // A status to the hand-shake keeps the reader off line.
  MakeWith({Kind::Status, "ONLINE", "03", -1});
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/03");
  EXPECT_FALSE(machine_->Online());
}

TEST_F(ReaderFaultTest, SilenceCountsDownItsTimes) {
  // Silent on the first two hand-shake attempts, as a slow-waking reader is.
  MakeWith({Kind::Silence, "ONLINE", "", 2});
  EXPECT_EQ(Exchange("ONLINE/"), "");
  EXPECT_EQ(Exchange("ONLINE/"), "");
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/EN");
  EXPECT_EQ(machine_->Counters().faultsFired, 2u);
  EXPECT_EQ(machine_->Commands().size(), 3u);  // silent, but it heard them
}

TEST_F(ReaderFaultTest, FaultsMatchThePrefixWithoutLeadingSpaces) {
  MakeWith({Kind::NoAnswer, "r A", "", -1});
  GoOnline();
  EXPECT_EQ(Exchange("  r A 0000 0010/"), "  r A 0000 0010/");
  EXPECT_EQ(Exchange("r/"), "r/EN    EN");
  EXPECT_EQ(Exchange("R/"), "R/ENEN");  // case matters

  // An empty command matches everything, the hand-shake included.
  MakeWith({Kind::ExtraBytes, "", "!", -1});
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/EN!");
  EXPECT_EQ(Exchange("X/"), "X/ENEN!");
}

TEST_F(ReaderFaultTest, FinalStatusReplacesOrAddsTheSecondAnswer) {
  Make({}, {{"ABCDE", ""}});
  GoOnline();
  machine_->AddFault({Kind::FinalStatus, "", "07", -1});
  EXPECT_EQ(Exchange("X/"), "X/EN07");
  // A feed that ends in a status moved no card.
  EXPECT_EQ(Exchange("R/"), "R/EN07");
  EXPECT_EQ(machine_->Counters().cardsRead, 0u);
  // Commands without a final status get one all the same.
  EXPECT_EQ(Exchange("-/"), "-/EN07");
}

TEST_F(ReaderFaultTest, BlockFaultsBreakOnlyTheDataBlock) {
  MakeWith({Kind::TruncateBlock, "r", "2", 1});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0005AB");
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0005ABCDE\0EN"s);

  // Half by default: of "ABCDE" and its NUL, three bytes.
  MakeWith({Kind::TruncateBlock, "", "", -1});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");  // not a read command: untouched
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0005ABC");
  EXPECT_EQ(Exchange("r/"), "r/ENAB");

  // A block without a length field has none to spoil, and the fault waits.
  MakeWith({Kind::GarbageLength, "r", "", 1});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(Exchange("r/"), "r/ENABCDEN");
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN12x4ABCDE\0EN"s);
  EXPECT_EQ(machine_->Counters().faultsFired, 1u);

  MakeWith({Kind::GarbageLength, "r", "9999", -1});
  GoOnline();
  EXPECT_EQ(Exchange("r 0 10/"), "r 0 10/EN9999\0EN"s);

  MakeWith({Kind::ExtraBytes, "r", "XYZ", -1});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0005ABCDE\0ENXYZ"s);
}

TEST_F(ReaderFaultTest, HangUpLosesTheDevice) {
  MakeWith({Kind::HangUp, "J", "", -1});
  GoOnline();
  EXPECT_EQ(Exchange("J/"), "J/");
  EXPECT_FALSE(link_->IsValid());
  EXPECT_FALSE(machine_->Online());  // a device plugged in again starts off line
  EXPECT_EQ(machine_->Counters().hangUps, 1u);

  // A read command: half-way through the data block.
  MakeWith({Kind::HangUp, "r", "", -1});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(Exchange("r A 0000 0010/X/"), "r A 0000 0010/EN0005ABC");
  EXPECT_FALSE(link_->IsValid());
  // The command after the hang-up in the same write never arrived.
  EXPECT_EQ(machine_->Commands().back(), "r A 0000 0010/");
  EXPECT_FALSE(machine_->CurrentCard());
}

TEST_F(ReaderFaultTest, SlowBytesPaceTheWholeReply) {
  MakeWith({Kind::SlowBytes, "r", "20", -1});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  const std::int64_t t0 = clock_.NowUs();
  Write("r/");
  // Echo 2, "EN", 4 data bytes, "EN": ten bytes, 20 ms apart.
  EXPECT_EQ(Read(10), "r/ENABCDEN");
  EXPECT_EQ(clock_.NowUs(), t0 + 9 * 20'000);
  // Other commands keep the configured pace (none), once the last slow byte
  // has had its 20 ms on the line.
  const std::int64_t t1 = clock_.NowUs();
  Write("X/");
  EXPECT_EQ(Read(6), "X/ENEN");
  EXPECT_EQ(clock_.NowUs(), t1 + 20'000);
}

TEST_F(ReaderFaultTest, SlowCombinesWithAShapingFault) {
  ReaderConfig config;
  config.faults.push_back({Kind::SlowBytes, "", "1", -1});
  MakeWith({Kind::Status, "X", "05", -1}, config);
  GoOnline();
  const std::int64_t t0 = clock_.NowUs();
  Write("X/");
  EXPECT_EQ(Read(4), "X/05");
  EXPECT_EQ(clock_.NowUs(), t0 + 3 * 1'000);
}

TEST_F(ReaderFaultTest, FaultsAddedWhileRunningTakeEffect) {
  Make();
  GoOnline();
  machine_->AddFault({Kind::Status, "X", "12", 1});
  EXPECT_EQ(Exchange("X/"), "X/12");
  EXPECT_EQ(Exchange("X/"), "X/ENEN");
  machine_->AddFault({Kind::NoAnswer, "", "", -1});
  machine_->ClearFaults();
  EXPECT_EQ(Exchange("X/"), "X/ENEN");
}

}  // namespace
}  // namespace markwire::sim
