// The session against the simulated reader, its replies corrupted on the
// way: the classic calls of a script (support/session_script.h) to a
// sim::ReaderMachine that plays faults the input chooses, behind a line that
// flips, drops, inserts and delays bytes as the input says
// (support/corrupting_peer.h), on virtual time.
//
// Input: the script's length (two bytes, little-endian), the script, then:
//   the reader's setup: one byte of switches (bit 0 a real reader's pace,
//   bit 1 no final statuses, bits 2-3 the printed wide:narrow ratio, bits
//   4-5 the optics, bit 6 a hopper of only as many cards as the next byte
//   says), the card seed, then a fault count (modulo 5) and per fault its
//   kind, command, value and count, each one byte;
//   then the line's edits.
//
// As in session_bytes, barcodes are read in the classic mode until the
// script asks for another: the second decoder is the barcode target's to
// fuzz, and at sanitizer speed its search through a long symbol takes
// seconds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "card_source.h"
#include "fault.h"
#include "reader_machine.h"
#include "support/corrupting_peer.h"
#include "support/session_script.h"

using namespace markwire;

namespace {

constexpr std::string_view kFaultKinds[] = {
    "wrong-echo", "status",    "final",  "silence",      "no-answer", "slow",        "truncate",
    "garbage",    "extra",     "partial-echo", "hangup", "short-block", "over-area", "stop-echo"};
constexpr std::string_view kFaultCommands[] = {"",   "R",   "r",  "-", "I 4", "I 1", "I 2",
                                               "I 6", "I 0", "I 3", "I 5", "PR", "S",  "f",
                                               "L",  "EN",  "ONLINE", "MO", "J", "T"};
constexpr std::string_view kFaultValues[] = {"16", "06", "1x",  "0",    "1",    "3",  "10", "200",
                                             "1100", "12x4", "99999", "XY", "EN", "0010", "-1", " 7"};
constexpr double kWideRatios[] = {2.5, 2.0, 3.0, 1.5};

sim::ReaderConfig Setup(fuzz::ByteReader& in, std::unique_ptr<sim::CardSource>& cards) {
  const std::uint8_t switches = in.Byte();
  sim::ReaderConfig config = (switches & 1) != 0 ? sim::ReaderConfig::Realistic() : sim::ReaderConfig{};
  config.sendFinalStatus = (switches & 2) == 0;
  config.barcodeWideRatio = kWideRatios[(switches >> 2) & 3];
  switch ((switches >> 4) & 3) {
    case 1:  // a poor sensor
      config.barcodeOptics.samplesPerModule = 1.5;
      config.barcodeOptics.blurModules = 0.8;
      config.barcodeOptics.noise = 10;
      break;
    case 2:  // a sharp one
      config.barcodeOptics.samplesPerModule = 6;
      config.barcodeOptics.blurModules = 0.1;
      config.barcodeOptics.noise = 0;
      break;
    case 3:  // a card that wanders
      config.barcodeOptics.speedJitter = 0.5;
      break;
    default:
      break;
  }
  const std::uint8_t seed = in.Byte();
  const std::size_t count = (switches & 0x40) != 0 ? in.Byte() : sim::GeneratedCards::kUnlimited;
  cards = std::make_unique<sim::GeneratedCards>(seed, count);
  const unsigned faults = in.Byte() % 5;
  for (unsigned i = 0; i < faults; ++i) {
    std::string text(kFaultKinds[in.Byte() % std::size(kFaultKinds)]);
    const std::string_view command = kFaultCommands[in.Byte() % std::size(kFaultCommands)];
    if (!command.empty()) text += ":" + std::string(command);
    text += "=" + std::string(kFaultValues[in.Byte() % std::size(kFaultValues)]);
    const unsigned times = in.Byte() % 4;
    if (times > 0) text += "*" + std::to_string(times);
    // Only what the simulator takes as a fault: a kind without a value
    // refuses "=value" and is tried without it.
    auto parsed = sim::ParseFault(text);
    if (auto* fault = std::get_if<sim::Fault>(&parsed)) {
      config.faults.push_back(*fault);
    } else {
      const std::string bare = text.substr(0, text.find('='));
      parsed = sim::ParseFault(bare + (times > 0 ? "*" + std::to_string(times) : ""));
      if (auto* f = std::get_if<sim::Fault>(&parsed)) config.faults.push_back(*f);
    }
  }
  return config;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietHandlers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in({data, size});
  fuzz::ByteReader script(in.Bytes(in.U16()));
  fuzz::ByteReader edits(in.Rest());
  std::unique_ptr<sim::CardSource> cards;
  sim::ReaderConfig config = Setup(edits, cards);
  sim::ReaderMachine machine(std::move(config), std::move(cards));
  fuzz::CorruptingPeer line(machine, edits);
  sim::VirtualClock clock;
  fuzz::InstalledSession session(clock, line);
  fuzz::ClassicScript(session.Link()).Run(script, 48, 0);
  return 0;
}
