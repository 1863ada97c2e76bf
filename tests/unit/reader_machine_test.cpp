// The simulated reader over the in-memory line on virtual time: exact bytes
// and exact arrival times of everything it sends.
#include "reader_machine.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "data_block.h"
#include "unit/sim_reader_fixture.h"

namespace markwire::sim {
namespace {

using namespace std::string_literals;

using ReaderMachineTest = test_support::ReaderLineTest;

TEST_F(ReaderMachineTest, OfflineReaderAnswersOnlyTheHandshake) {
  Make();
  // The library's "Q/" before the hand-shake must stay unanswered, or its echo
  // would land after the library's purge and spoil the "ONLINE/" echo.
  EXPECT_EQ(Exchange("Q/"), "");
  EXPECT_EQ(Exchange("R/"), "");
  EXPECT_EQ(Exchange(" ONLINE"), "");  // no "/" yet: not a command
  EXPECT_FALSE(machine_->Online());
  EXPECT_EQ(Exchange("/"), " ONLINE/EN");
  EXPECT_TRUE(machine_->Online());
  EXPECT_EQ(machine_->Commands(), (std::vector<std::string>{"Q/", "R/", " ONLINE/"}));
  EXPECT_EQ(machine_->Counters().ignored, 2u);

  // Stray bytes in front of the hand-shake do not keep the reader off line.
  Make();
  EXPECT_EQ(Exchange("\x7f"
                     "ONLINE/"),
            "\x7f"
            "ONLINE/EN");
  EXPECT_TRUE(machine_->Online());
}

TEST_F(ReaderMachineTest, OnlineCommandsGetEchoAnswerAndFinalStatus) {
  Make();
  GoOnline();
  EXPECT_EQ(Exchange("J 12 34/"), "J 12 34/ENEN");
  EXPECT_EQ(Exchange("123/"), "123/ENEN");  // a digit key is no read command here
  EXPECT_EQ(Exchange("  /"), "  /ENEN");
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/ENEN");
  EXPECT_EQ(Exchange("-/"), "-/EN");
  // Without final statuses only "R/" keeps its second answer.
  ReaderConfig quiet;
  quiet.sendFinalStatus = false;
  Make(quiet, {{"ABCDE", ""}});
  GoOnline();
  EXPECT_EQ(Exchange("J 12 34/"), "J 12 34/EN");
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/EN");
  EXPECT_EQ(Exchange("R/"), "R/ENEN");
}

TEST_F(ReaderMachineTest, QuitTakesTheReaderOffline) {
  Make({}, {{"ABCDE", ""}});
  GoOnline();
  EXPECT_EQ(Exchange("Q/"), "Q/EN");
  EXPECT_FALSE(machine_->Online());
  EXPECT_EQ(Exchange("R/"), "");
  EXPECT_EQ(machine_->Counters().cardsRead, 0u);
  GoOnline();
}

TEST_F(ReaderMachineTest, FeedTakesCardsUntilTheHopperIsEmpty) {
  Make({}, {{"first", "1"}, {"second", "2"}});
  GoOnline();
  EXPECT_EQ(Exchange("R/"), "R/ENEN");
  ASSERT_TRUE(machine_->CurrentCard());
  EXPECT_EQ(machine_->CurrentCard()->data, "first");
  EXPECT_EQ(Exchange("-/"), "-/EN");
  EXPECT_FALSE(machine_->CurrentCard());
  EXPECT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(machine_->CurrentCard()->barcode, "2");
  EXPECT_EQ(Exchange("R/"), "R/EN16");
  const ReaderCounters counters = machine_->Counters();
  EXPECT_EQ(counters.cardsRead, 2u);
  EXPECT_EQ(counters.noSheet, 1u);

  // A reader without any card source has an empty hopper.
  link_.reset();
  machine_ = std::make_unique<ReaderMachine>();
  link_ = std::make_unique<MemoryLink>(clock_, *machine_);
  ASSERT_TRUE(link_->Open("sim", kReaderLine));
  GoOnline();
  EXPECT_EQ(Exchange("R/"), "R/EN16");
}

TEST_F(ReaderMachineTest, DataBlocksLineUpWithTheLibrarysReads) {
  Make({}, {{"ABCDE", ""}});
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  // Clipped to 3, one more for option 1.
  EXPECT_EQ(Exchange("r A 0001 0003/"), "r A 0001 0003/EN0005ABCDEN");
  EXPECT_EQ(Exchange("r A 0000 0003/"), "r A 0000 0003/EN0005ABCEN");
  // Within the limit: one byte past the announced length, a NUL.
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0005ABCDE\0EN"s);
  EXPECT_EQ(Exchange("r A 0001 0005/"), "r A 0001 0005/EN0005ABCDE\0EN"s);
  // A single number: the limit is the library's receive buffer.
  EXPECT_EQ(Exchange("r 1/"), "r 1/EN0005ABCDE\0EN"s);
  // "-" in front of a number is no sign: "-001" is option 1.
  EXPECT_EQ(Exchange("r A -001 0002/"), "r A -001 0002/EN0005ABCEN");
  // No numbers: four bytes, no length field.
  EXPECT_EQ(Exchange("r/"), "r/ENABCDEN");
  EXPECT_EQ(Exchange("-/"), "-/EN");
  // No card: an empty one, padded with spaces in a fixed block.
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0000\0EN"s);
  EXPECT_EQ(Exchange("r/"), "r/EN    EN");
}

// Against the library's own rule for how many data bytes it reads, over many
// lengths and limits: a block of any other size would leave bytes behind or
// make the library wait for bytes that never come.
TEST(DataBlockTest, SizeMatchesWhatTheLibraryReads) {
  for (std::size_t length : {0u, 1u, 4u, 5u, 9u, 100u, 2048u, 2049u}) {
    const std::string text(length, 'x');
    for (long option : {0L, 1L, 2L}) {
      for (long limit : {0L, 1L, 3L, 5L, 100L, 2048L}) {
        const std::string command =
            "r A " + std::to_string(option) + " " + std::to_string(limit) + "/";
        const DataBlock block = BuildDataBlock(command, text);
        ASSERT_EQ(block.lengthField.size(), 4u);
        const unsigned long announced = std::stoul(block.lengthField);
        EXPECT_EQ(announced, length);
        const unsigned long reads = announced > static_cast<unsigned long>(limit)
                                        ? static_cast<unsigned long>(limit) + (option == 1)
                                        : announced + 1;
        EXPECT_EQ(block.data.size(), reads) << command << " length " << length;
        EXPECT_EQ(block.data.substr(0, std::min<std::size_t>(length, reads)),
                  text.substr(0, std::min<std::size_t>(length, reads)));
      }
    }
  }
}

TEST_F(ReaderMachineTest, UnbuiltFamiliesAnswerParameterError) {
  Make();
  GoOnline();
  for (const char* command : {"S a.txt/", "W 1.hex/", "I 3/", "PR/", "  I 0 012 34/"}) {
    EXPECT_EQ(Exchange(command), std::string(command) + "06") << command;
  }
  // Other "P" commands are ordinary ones.
  EXPECT_EQ(Exchange("P 1/"), "P 1/ENEN");
}

TEST_F(ReaderMachineTest, CommandsAreCutAtEachSlash) {
  Make({}, {{"ABCDE", ""}});
  GoOnline();
  // Two commands in one write: the second reply follows the first.
  EXPECT_EQ(Exchange("R/r A 0000 0010/"), "R/ENENr A 0000 0010/EN0005ABCDE\0EN"s);
  // One command over two writes.
  EXPECT_EQ(Exchange("r A 00"), "");
  EXPECT_EQ(Exchange("01 0002/"), "r A 0001 0002/EN0005ABCEN");
  EXPECT_EQ(machine_->Commands().back(), "r A 0001 0002/");
}

TEST_F(ReaderMachineTest, OverlongTextIsDroppedUpToItsSlash) {
  Make();
  GoOnline();
  const std::string longest(ReaderMachine::kLongestCommand, 'x');
  EXPECT_EQ(Exchange(longest + "/"), longest + "/ENEN");
  EXPECT_EQ(Exchange(longest + "y"), "");
  EXPECT_EQ(Exchange(std::string(5000, 'z')), "");
  EXPECT_EQ(Exchange("tail/X/"), "X/ENEN");  // the junk's own "/" ends it
  EXPECT_EQ(machine_->Counters().discarded, 1u);
}

TEST_F(ReaderMachineTest, TimesFollowTheConfiguredDelays) {
  ReaderConfig config;
  config.answerDelayUs = 1'000;
  config.finalStatusDelayUs = 50'000;
  config.cardDelayUs = 300'000;
  Make(config, {{"ABCDE", ""}});
  GoOnline();
  const std::int64_t t0 = clock_.NowUs() + 1'000'000;
  clock_.AdvanceTo(t0);
  Write("J/");
  EXPECT_EQ(Read(2), "J/");
  EXPECT_EQ(clock_.NowUs(), t0);
  EXPECT_EQ(Read(2), "EN");
  EXPECT_EQ(clock_.NowUs(), t0 + 1'000);
  EXPECT_EQ(Read(2), "EN");
  EXPECT_EQ(clock_.NowUs(), t0 + 51'000);

  const std::int64_t t1 = t0 + 1'000'000;
  clock_.AdvanceTo(t1);
  Write("R/");
  EXPECT_EQ(Read(4), "R/EN");
  EXPECT_EQ(clock_.NowUs(), t1 + 1'000);
  // The library sleeps 50 ms and then waits up to 3000 ms: the card's travel
  // must fit in there.
  EXPECT_EQ(Read(2, 3000), "EN");
  EXPECT_EQ(clock_.NowUs(), t1 + 301'000);
}

TEST_F(ReaderMachineTest, PacedBytesLeaveOneByteTimeApart) {
  ReaderConfig config;
  config.byteTimeUs = kPacedByteTimeUs;
  config.answerDelayUs = 700;
  Make(config);
  const std::int64_t b = kPacedByteTimeUs;
  Write("ONLINE/");
  EXPECT_EQ(Read(1), "O");
  EXPECT_EQ(clock_.NowUs(), 0);
  EXPECT_EQ(Read(6), "NLINE/");
  EXPECT_EQ(clock_.NowUs(), 6 * b);
  // The echo's last byte has left at 7 byte times; then the answer delay.
  EXPECT_EQ(Read(1), "E");
  EXPECT_EQ(clock_.NowUs(), 7 * b + 700);
  EXPECT_EQ(Read(1), "N");
  EXPECT_EQ(clock_.NowUs(), 8 * b + 700);

  // A second command written while a reply is still on the line waits for it.
  clock_.AdvanceTo(1'000'000);
  Write("A/B/");
  EXPECT_EQ(Read(8),
            "A/ENEN"
            "B/");
  // A/: echo 2, delay, EN 2, final 2 (no delay); then B/ echo 2.
  EXPECT_EQ(clock_.NowUs(), 1'000'000 + 7 * b + 700);
}

}  // namespace
}  // namespace markwire::sim
