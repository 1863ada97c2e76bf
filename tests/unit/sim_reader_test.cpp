// The simulated reader over the in-memory line on virtual time: the data
// blocks and the faults the library is tested against, and the faults'
// syntax. tests/integration/library_test.cpp and the fault soak drive it end
// to end.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "calibration.h"  // NumberPair
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
    bytes.resize(link_->Read({reinterpret_cast<std::uint8_t*>(bytes.data()), count}, timeoutMs));
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
      {{Kind::SlowBytes, "J", "20", -1}, "J/", "J/ENEN", 6 * 20'000},  // the 6th ends at 120 ms
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
    EXPECT_EQ(clock_.NowUs() - start, c.lastByteUs);
    EXPECT_EQ(Read(1, 1000), "");
    EXPECT_EQ(link_->IsValid(), c.fault.kind != Kind::HangUp);
  }
  // The last case hung up: plugged in again, the device starts off line.
  EXPECT_FALSE(machine_->Online());
}

TEST(SimFaultSyntax, ReadsGoodTextsAndRefusesBadOnesWithAReason) {
  const struct {
    const char* text;
    Fault want;
    const char* refusal;  // part of the reason; null when the text is good
  } cases[] = {
      {"status:R=16", {Kind::Status, "R", "16", -1}, nullptr},
      {"slow=0.5", {Kind::SlowBytes, "", "0.5", -1}, nullptr},
      {"WrongEcho:X", {Kind::WrongEcho, "X", "", -1}, nullptr},
      {"no_answer:  r A 0001", {Kind::NoAnswer, "r A 0001", "", -1}, nullptr},
      {"short-block:I 4=0*1", {Kind::ShortBlock, "I 4", "0", 1}, nullptr},
      {"extra:-=a*b", {Kind::ExtraBytes, "-", "a*b", -1}, nullptr},
      {"", {}, "unknown fault"},
      {"explode:R", {}, "known: wrong-echo"},
      {"status:R", {}, "needs '=value'"},
      {"final=123", {}, "two-character"},
      {"silence=3", {}, "takes no value"},
      {"extra:r=", {}, "empty value"},
      {"slow:r=0", {}, "milliseconds"},
      {"truncate:r=x", {}, "needs a count"},
      {"silence*0", {}, "from 1"},
      {"silence*99999999999", {}, "from 1"},
  };
  const auto fields = [](const Fault& f) { return std::tie(f.kind, f.command, f.value, f.times); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const FaultOrError got = ParseFault(c.text);
    if (const auto* reason = std::get_if<std::string>(&got)) {
      ASSERT_NE(c.refusal, nullptr) << *reason;
      EXPECT_NE(reason->find(c.refusal), std::string::npos) << *reason;
    } else {
      ASSERT_EQ(c.refusal, nullptr) << "accepted";
      EXPECT_EQ(fields(std::get<Fault>(got)), fields(c.want));
      // Its text, as the fault soak logs it, reads back into the same fault.
      const std::string text = FormatFault(std::get<Fault>(got));
      const FaultOrError again = ParseFault(text);
      ASSERT_TRUE(std::holds_alternative<Fault>(again)) << text;
      EXPECT_EQ(fields(std::get<Fault>(again)), fields(c.want)) << text;
    }
  }
}

}  // namespace
}  // namespace markwire::sim
