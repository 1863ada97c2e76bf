// The simulated reader over the in-memory line on virtual time: the exact
// bytes it sends, the faults it plays and their syntax, its downloads and
// test read-outs. tests/integration/library_test.cpp drives it end to end.
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

TEST_F(SimReaderTest, OfflineItAnswersOnlyTheHandshakeAndQuitTakesItOffline) {
  Make();
  // Off line, an echo of the library's "Q/" would land after its purge.
  EXPECT_EQ(Exchange("Q/"), "");
  EXPECT_EQ(Exchange("R/"), "");
  EXPECT_EQ(Exchange("\x7fONLINE/"), "\x7fONLINE/EN");  // stray bytes in front
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/ENEN");        // on line, an ordinary command
  EXPECT_EQ(Exchange("J 1"), "");                       // cut at each "/", however split
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

// The library reads only the echo and two bytes per format command and sends
// the next one at once: a single byte more would be taken as the next answer.
TEST_F(SimReaderTest, FormatDownloadAnswersEchoAndTwoBytesOnlyAndKeepsTheFormat) {
  Make();
  GoOnline();
  machine_->AddFault({Kind::Status, "G", "06", 1});
  EXPECT_EQ(Exchange("S a.txt/"), "S a.txt/EN");
  EXPECT_EQ(Exchange("F 001 01\r\n  000 01 01 1/"), "F 001 01\r\n  000 01 01 1/EN");
  EXPECT_EQ(Exchange("G 1 2/"), "G 1 2/06");  // refused: not part of the format
  EXPECT_EQ(Exchange("f 1 010 020 03 08/"), "f 1 010 020 03 08/EN");
  EXPECT_EQ(Exchange("R/"), "R/EN");  // inside a format even "R/" is only a format command
  EXPECT_EQ(Exchange("EN/"), "EN/EN");
  EXPECT_EQ(machine_->Format().commands,
            (std::vector<std::string>{"F 001 01\r\n  000 01 01 1/", "f 1 010 020 03 08/", "R/"}));
  EXPECT_EQ(machine_->Format().barcode, (std::array<long, 5>{1, 10, 20, 3, 8}));
  EXPECT_EQ(machine_->Counters().cardsRead, 0u);
  EXPECT_EQ(Exchange("R/"), "R/ENEN");  // the download is over
}

// Everything after the echo of a test command, by the exact bytes the
// library reads: acknowledgement, "done" or status, length field, values and
// the two closing bytes.
TEST_F(SimReaderTest, TestCommandsSendTheFramingTheLibraryReads) {
  const std::string ack = "\xFC\xFC", done = "\xFF\xFF";
  const struct {
    std::optional<Fault> fault;
    std::string command, head;
    std::size_t values;  // after the head, followed by "EN"; 0: nothing follows
  } cases[] = {
      {{}, "I 0 005 03/", ack + done, 0},
      {{}, "I 1 001 01 010 48/", ack + done + "0480", 480},
      {{}, "I 2 010 48 001 01/", ack + done + "0736", 736},  // |(-8) x (-46)| per side
      {{}, "I 1 001 01 200 48/", ack + done + "9600", 9600},
      {{}, "I 2 001 01 200 48/", "06", 0},  // 19200 values do not fit four digits
      {{}, "I 1 001 01/", "06", 0},
      {{}, "I 4/", ack + "0096", 96},
      {{}, "I 6 3/", ack + "0256", 256},
      {{}, "I 3/", ack + done, 0},
      {{}, "I 3/", ack + "16", 0},  // the hopper is empty
      {{}, "I 9/", "ENEN", 0},      // no test the reader knows: an ordinary command
      {Fault{Kind::Status, "I 0", "03", 1}, "I 0 007 04/", "03", 0},
      {Fault{Kind::FinalStatus, "I 1", "04", 1}, "I 1 001 01 002 04/", ack + "04", 0},
      {Fault{Kind::OverArea, "I", "", 1}, "I 1 001 01 002 04/", ack + done + "0026", 26},
      {Fault{Kind::ShortBlock, "I 4", "10", 1}, "I 4/", ack + "0096", 10},
  };
  Make({}, {{"1A", ""}});
  GoOnline();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    if (c.fault) machine_->AddFault(*c.fault);
    const std::string reply = Exchange(c.command);
    ASSERT_TRUE(reply.starts_with(c.command + c.head));
    EXPECT_EQ(reply.size(), c.command.size() + c.head.size() + c.values + (c.values ? 2 : 0));
    EXPECT_TRUE(!c.values || reply.ends_with("EN"));
  }
  EXPECT_EQ(machine_->Tests().point, (NumberPair{5, 3}));  // not 7, 4: that one was refused
  EXPECT_EQ(machine_->Counters().cardsPassed, 1u);
}

// Every byte comes as the byte and "/", "/" and NUL included, and is echoed;
// the reader confirms once the line has stayed quiet.
TEST_F(SimReaderTest, ProgramDownloadEchoesEveryByteAndConfirmsAfterTheQuietTime) {
  const std::string program = "a/\0\r\n\xFF/"s;
  Make();
  GoOnline();
  Write("A a.hex/");
  ASSERT_EQ(Read(10), "A a.hex/RD");
  for (const char byte : program) {
    const std::string pair{byte, '/'};
    Write(pair);
    EXPECT_EQ(Read(2, 1000), pair);
  }
  const std::int64_t lastUs = clock_.NowUs();
  EXPECT_EQ(Read(3, 6000), "EN/");
  EXPECT_EQ(clock_.NowUs() - lastUs, ReaderConfig{}.programIdleEndUs);
  EXPECT_EQ(machine_->Program().bytes, program);
  EXPECT_TRUE(machine_->Program().confirmed);
  EXPECT_EQ(Exchange("R/"), "R/ENEN");  // back to commands
  // A reader that stops echoing confirms nothing; nor does one whose download
  // the library's hand-shake cuts short.
  machine_->AddFault({Kind::StopEcho, "A", "2", 1});
  EXPECT_EQ(Exchange("A a.hex/x/y/z/"), "A a.hex/RDx/y/");
  EXPECT_FALSE(machine_->Program().confirmed);
  Write("A a.hex/x/");
  ASSERT_EQ(Read(12), "A a.hex/RDx/");
  EXPECT_EQ(Exchange("ONLINE/"), "ONLINE/ENEN");
  EXPECT_FALSE(machine_->Program().receiving || machine_->Program().confirmed);
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
    }
  }
}

}  // namespace
}  // namespace markwire::sim
