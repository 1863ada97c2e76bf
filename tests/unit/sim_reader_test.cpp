// The simulated reader over the in-memory line on virtual time: the exact
// bytes it sends, the faults it plays, their text syntax and its card files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "card_source.h"
#include "fault.h"
#include "memory_link.h"
#include "reader_machine.h"
#include "virtual_clock.h"

namespace markwire::sim {
namespace {

using namespace std::string_literals;
using Kind = Fault::Kind;

class SimReaderTest : public ::testing::Test {
 protected:
  void Make(ReaderConfig config = {}, std::vector<Card> cards = {{"ABCDE", ""}}) {
    link_.reset();
    machine_ = std::make_unique<ReaderMachine>(std::move(config),
                                               std::make_unique<ListCards>(std::move(cards)));
    link_ = std::make_unique<MemoryLink>(clock_, *machine_);
    ASSERT_TRUE(link_->Open("sim", kReaderLine));
  }

  void Write(std::string_view text) {
    link_->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  }

  // Up to `count` bytes; the clock then stands at the arrival of the last one.
  std::string Read(std::size_t count, unsigned timeoutMs = 60'000) {
    std::string bytes(count, '\0');
    bytes.resize(
        link_->Read({reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}, timeoutMs));
    return bytes;
  }

  // Everything the reader sends after `command`, however long it takes.
  std::string Exchange(std::string_view command) {
    Write(command);
    std::string all;
    for (std::string chunk; !(chunk = Read(4096)).empty();) all += chunk;
    return all;
  }

  void GoOnline() { ASSERT_EQ(Exchange("ONLINE/"), "ONLINE/EN"); }

  VirtualClock clock_;
  std::unique_ptr<ReaderMachine> machine_;
  std::unique_ptr<MemoryLink> link_;
};

TEST_F(SimReaderTest, OfflineItAnswersOnlyTheHandshakeAndQuitTakesItOffline) {
  Make();
  // An echo of the library's "Q/" before the hand-shake would land after its
  // purge and spoil the "ONLINE/" echo.
  EXPECT_EQ(Exchange("Q/"), "");
  EXPECT_EQ(Exchange("R/"), "");
  // Stray bytes in front of the hand-shake do not keep the reader off line.
  EXPECT_EQ(Exchange("\x7fONLINE/"), "\x7fONLINE/EN");
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/ENEN");  // on line, an ordinary command
  // Commands are cut at each "/", however the writes split them.
  EXPECT_EQ(Exchange("J 1"), "");
  EXPECT_EQ(Exchange("2/K/"), "J 12/ENENK/ENEN");
  EXPECT_EQ(Exchange("Q/"), "Q/EN");
  EXPECT_EQ(Exchange("R/"), "");
  EXPECT_EQ(machine_->Counters().cardsRead, 0u);
  GoOnline();
  EXPECT_EQ(Exchange("R/"), "R/ENEN");
}

// The library does not read what the length field announces: it clips to the
// command's limit (one byte more for option 1) and reads one byte past the
// length within the limit. Any other block leaves bytes behind or makes it wait.
TEST_F(SimReaderTest, DataBlocksLineUpWithTheLibrarysReads) {
  Make();
  GoOnline();
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  const struct {
    std::string command, block;
  } cases[] = {
      {"r A 0001 0003/", "0005ABCD"},      // clipped, one more for option 1
      {"r A 0000 0003/", "0005ABC"},       // clipped
      {"r A 0000 0010/", "0005ABCDE\0"s},  // within the limit: a NUL after the text
      {"r A 0001 0005/", "0005ABCDE\0"s},  // at the limit: within it
      {"r 1/", "0005ABCDE\0"s},            // one number: the receive buffer is the limit
      {"r A -001 0002/", "0005ABC"},       // "-" is no sign: option 1
      {"r/", "ABCD"},                      // no numbers: four bytes, no length field
  };
  for (const auto& c : cases) EXPECT_EQ(Exchange(c.command), c.command + "EN" + c.block + "EN");
  EXPECT_EQ(Exchange("-/"), "-/EN");
  // Without a card: an empty text, padded with spaces in a fixed block.
  EXPECT_EQ(Exchange("r A 0000 0010/"), "r A 0000 0010/EN0000\0EN"s);
  EXPECT_EQ(Exchange("r/"), "r/EN    EN");
  EXPECT_EQ(Exchange("R/"), "R/EN16");  // the hopper is empty
  EXPECT_EQ(machine_->Counters().noSheet, 1u);
}

TEST_F(SimReaderTest, EachFaultKindShapesTheReply) {
  const struct {
    Fault fault;
    std::string command, line;
    std::int64_t lastByteUs;
  } cases[] = {
      {{Kind::WrongEcho, "J", "", -1}, "J/", "#/", 0},
      {{Kind::Status, "R", "16", -1}, "R/", "R/16", 0},
      {{Kind::FinalStatus, "-", "07", -1}, "-/", "-/EN07", 0},  // added where there is none
      {{Kind::Silence, "J", "", -1}, "J/", "", 0},
      {{Kind::NoAnswer, "J", "", -1}, "J/", "J/", 0},
      {{Kind::SlowBytes, "J", "20", -1}, "J/", "J/ENEN", 5 * 20'000},
      {{Kind::TruncateBlock, "r", "2", -1}, "r 0 10/", "r 0 10/EN0005AB", 0},
      {{Kind::GarbageLength, "r", "", -1}, "r 0 10/", "r 0 10/EN12x4ABCDE\0EN"s, 0},
      {{Kind::ExtraBytes, "r", "XY", -1}, "r/", "r/ENABCDENXY", 0},
      {{Kind::PartialEcho, "ONLINE", "", -1}, "ONLINE/", "ONL", 0},
      // Half-way through the data block; the "X/" after it never arrives.
      {{Kind::HangUp, "r", "", -1}, "r 0 10/X/", "r 0 10/EN0005ABC", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FaultKindName(c.fault.kind));
    Make();
    GoOnline();
    ASSERT_EQ(Exchange("R/"), "R/ENEN");
    machine_->AddFault(c.fault);
    const std::int64_t start = clock_.NowUs();
    Write(c.command);
    EXPECT_EQ(Read(c.line.size()), c.line);
    if (!c.line.empty()) {
      EXPECT_EQ(clock_.NowUs() - start, c.lastByteUs);
    }
    EXPECT_EQ(Read(1, 1000), "");
    EXPECT_EQ(link_->IsValid(), c.fault.kind != Kind::HangUp);
  }
  // The last case hung up: plugged in again, the device starts off line.
  EXPECT_FALSE(machine_->Online());
  EXPECT_EQ(machine_->Commands().back(), "r 0 10/");
}

TEST_F(SimReaderTest, FaultsMatchTheirCommandAndCountDownAndCutShortRepliesChangeNothing) {
  ReaderConfig config;
  config.faults = {{Kind::Silence, "ONLINE", "", 2},
                   {Kind::Status, "R", "16", 1},
                   {Kind::NoAnswer, "Q", "", -1},
                   {Kind::FinalStatus, "R", "07", 1}};
  Make(config);
  // Silent on the first two hand-shakes, as a slow-waking reader is.
  EXPECT_EQ(Exchange("ONLINE/"), "");
  EXPECT_EQ(Exchange("ONLINE/"), "");
  GoOnline();
  EXPECT_EQ(Exchange("  R/"), "  R/16");  // leading spaces do not hide the command
  EXPECT_EQ(Exchange("R/"), "R/EN07");
  EXPECT_EQ(Exchange("Q/"), "Q/");
  EXPECT_TRUE(machine_->Online());
  EXPECT_EQ(machine_->Counters().cardsRead, 0u);
  EXPECT_EQ(Exchange("r/"), "r/EN    EN");  // "r" is not "R"
  ASSERT_EQ(Exchange("R/"), "R/ENEN");      // the first card is still there
  EXPECT_EQ(machine_->CurrentCard()->data, "ABCDE");
}

TEST(SimFaultSyntax, ReadsGoodTextsAndRefusesBadOnesWithAReason) {
  const struct {
    const char* text;
    Fault want;
    const char* refusal;  // part of the reason; null when the text is good
  } cases[] = {
      {"status:R=16", {Kind::Status, "R", "16", -1}, nullptr},
      {"silence:ONLINE*2", {Kind::Silence, "ONLINE", "", 2}, nullptr},
      {"slow=0.5", {Kind::SlowBytes, "", "0.5", -1}, nullptr},
      {"WrongEcho:X", {Kind::WrongEcho, "X", "", -1}, nullptr},
      {"no_answer:  r A 0001", {Kind::NoAnswer, "r A 0001", "", -1}, nullptr},
      {"truncate:r=7*3", {Kind::TruncateBlock, "r", "7", 3}, nullptr},
      {"garbage:r", {Kind::GarbageLength, "r", "", -1}, nullptr},
      {"extra:-=a*b", {Kind::ExtraBytes, "-", "a*b", -1}, nullptr},
      {"", {}, "unknown fault"},
      {"explode:R", {}, "known: wrong-echo"},
      {"status:R", {}, "needs '=value'"},
      {"final=123", {}, "two-character"},
      {"silence=3", {}, "takes no value"},
      {"extra:r=", {}, "empty value"},
      {"slow:r=0", {}, "milliseconds"},
      {"slow:r=fast", {}, "milliseconds"},
      {"truncate:r=x", {}, "byte count"},
      {"silence*0", {}, "from 1"},
      {"silence*99999999999", {}, "from 1"},
  };
  const auto fields = [](const Fault& f) { return std::tie(f.kind, f.command, f.value, f.times); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const FaultOrError got = ParseFault(c.text);
    if (const auto* reason = std::get_if<std::string>(&got)) {
      EXPECT_NE(c.refusal, nullptr) << *reason;
      if (c.refusal) {
        EXPECT_NE(reason->find(c.refusal), std::string::npos) << *reason;
      }
    } else {
      EXPECT_EQ(c.refusal, nullptr) << "accepted";
      EXPECT_EQ(fields(std::get<Fault>(got)), fields(c.want));
    }
  }
}

TEST(SimCardSource, FileGivesOneCardPerLineAndNamesAFileItCannotRead) {
  char path[] = "/tmp/markwire_cards_XXXXXX";
  ::close(::mkstemp(path));
  std::ofstream(path, std::ios::binary) << "12345678ABCD\n\n  AB\tbar-1\r\n\r\nlast\ta\tb";
  FileCards cards(path);
  std::remove(path);
  const std::vector<std::pair<std::string, std::string>> want = {
      {"12345678ABCD", ""}, {"  AB", "bar-1"}, {"last", "a\tb"}};
  for (const auto& [data, barcode] : want) {
    const auto card = cards.Next();
    ASSERT_TRUE(card);
    EXPECT_EQ(std::tie(card->data, card->barcode), std::tie(data, barcode));
  }
  EXPECT_FALSE(cards.Next());
  try {
    FileCards missing(path);
    ADD_FAILURE() << "a missing file was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path + "': No such file"s), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace markwire::sim
