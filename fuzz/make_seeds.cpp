// Writes seed inputs for the fuzz targets into DIR/<target>/, and into
// DIR/barcode_candidates/ the 10,000 random waveforms the barcode tests once
// ran, for a merge to pick from (scripts/fuzz.sh seeds does all of it).
//
//   barcode_decode   symbols of every symbology rendered by the simulator's
//                    optics (sharp, blurred, noisy, reversed, too short), in
//                    each mode, on lines of the right and of wrong numbers
//   format_text      the sample card format and texts that bend its rules
//   session_bytes    scripts of classic calls with the simulated reader's own
//                    replies, recorded, so that mutations start deep in the
//                    protocol
//   session_sim      the same scripts against the simulator, with faults and
//                    line edits
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "barcode_card.h"
#include "card_source.h"
#include "fault.h"
#include "reader_machine.h"
#include "support/byte_reader.h"
#include "support/reply_peer.h"
#include "support/session_script.h"

namespace fs = std::filesystem;
using namespace markwire;
using namespace markwire::fuzz;

namespace {

void Write(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// ---- barcode_decode ----------------------------------------------------------

std::vector<std::uint8_t> BarcodeInput(int symbology, int earlier, bool reversed, int length,
                                       int mode, const std::vector<std::uint8_t>& samples) {
  ByteWriter w;
  w.Byte(static_cast<std::uint8_t>(symbology)).Byte(static_cast<std::uint8_t>(earlier));
  // second > third: the samples are in reading order as they come.
  w.Byte(reversed ? 0 : 1).Byte(reversed ? 1 : 0);
  w.U16(static_cast<std::uint16_t>(length)).Byte(static_cast<std::uint8_t>(mode));
  std::vector<std::uint8_t> s = samples;
  if (reversed) std::reverse(s.begin(), s.end());
  w.Bytes(s);
  return w.Data();
}

void BarcodeSeeds(const fs::path& dir) {
  struct Symbol {
    int symbology;
    std::string text;
    int length;
  };
  const Symbol symbols[] = {{3, "AB12-$9", 7}, {2, "12345678", 8}, {1, "0123456789", 10},
                            {3, "Z", 1},       {2, "90", 2},       {1, "42", 2}};
  struct Optics {
    const char* name;
    double samplesPerModule, blur, noise, jitter;
  };
  const Optics optics[] = {{"sharp", 4, 0.2, 1, 0.0},
                           {"blurred", 2, 0.65, 4, 0.02},
                           {"poor", 1.5, 0.8, 10, 0.05}};
  int n = 0;
  for (const auto& symbol : symbols) {
    for (const auto& o : optics) {
      sim::OpticsOptions options;
      options.samplesPerModule = o.samplesPerModule;
      options.blurModules = o.blur;
      options.noise = o.noise;
      options.speedJitter = o.jitter;
      options.quietModules = 6;
      options.seed = static_cast<std::uint64_t>(++n);
      const std::array<long, 5> line{symbol.symbology, 10, 20, 1, symbol.length};
      const auto samples = sim::SampleCardBarcode(line, symbol.text, options, 2.5);
      const int mode = n % 3;
      const bool reversed = n % 2 == 0;
      Write(dir, "symbol" + std::to_string(n) + "-" + std::to_string(symbol.symbology) + "-" + o.name + "-mode" +
                     std::to_string(mode),
            BarcodeInput(symbol.symbology, symbol.symbology, reversed, symbol.length, mode, samples));
    }
  }
  // The same Code 128 symbol on lines that do not fit it: another symbology
  // number (the Code 128 path with what the index kept), a length of 200
  // (read as 123), a negative length.
  sim::OpticsOptions sharp;
  sharp.samplesPerModule = 3;
  const auto code128 = sim::SampleCardBarcode({1, 10, 20, 1, 10}, "0123456789", sharp, 2.5);
  Write(dir, "other-symbology-0", BarcodeInput(0, 3, false, 10, 2, code128));
  Write(dir, "other-symbology-minus1", BarcodeInput(-1, 1, false, 10, 0, code128));
  Write(dir, "length-200", BarcodeInput(1, 1, false, 200, 2, code128));
  Write(dir, "length-negative", BarcodeInput(3, 2, true, -5, 1, code128));
  const auto code39 = sim::SampleCardBarcode({3, 10, 20, 1, 8}, "12345678", sharp, 2.0);
  Write(dir, "code39-wrong-length", BarcodeInput(3, 3, false, 9, 2, code39));
  Write(dir, "code39-as-i2of5", BarcodeInput(2, 3, false, 8, 2, code39));
  Write(dir, "empty", BarcodeInput(1, 0, false, 8, 2, {}));
}

// The random waveforms the barcode tests ran through every symbology path,
// drawn as they were drawn there: empty, tiny, flat, saturated, spikes,
// square waves of random periods, plain noise.
std::vector<std::uint8_t> RandomWaveform(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> kind(0, 7), byte(0, 255), len(0, 1200);
  std::vector<std::uint8_t> w(static_cast<std::size_t>(kind(rng) == 0 ? byte(rng) % 4 : len(rng)));
  const int shape = kind(rng);
  const int period = 1 + byte(rng) % 12;
  for (std::size_t i = 0; i < w.size(); ++i) {
    switch (shape) {
      case 0: w[i] = 0; break;
      case 1: w[i] = 255; break;
      case 2: w[i] = 128; break;
      case 3: w[i] = static_cast<std::uint8_t>(i % 97 == 0 ? 255 : 10); break;
      case 4: w[i] = static_cast<std::uint8_t>((i / period) % 2 ? 220 : 30); break;
      case 5: w[i] = static_cast<std::uint8_t>(((i / period) % 2 ? 200 : 50) + byte(rng) % 20); break;
      default: w[i] = static_cast<std::uint8_t>(byte(rng)); break;
    }
  }
  return w;
}

void BarcodeCandidates(const fs::path& dir) {
  std::mt19937_64 rng(20261205);
  const int symbologies[] = {1, 2, 3, 0, 4, -1};
  std::uniform_int_distribution<int> length(-5, 200), pick(0, 5), order(0, 1);
  int earlier = 0;
  for (int i = 0; i < 10'000; ++i) {
    const int symbology = symbologies[pick(rng)];
    const int second = order(rng), third = order(rng);
    const int len = length(rng);
    const auto bytes = RandomWaveform(rng);
    ByteWriter w;
    w.Byte(static_cast<std::uint8_t>(symbology)).Byte(static_cast<std::uint8_t>(earlier));
    w.Byte(static_cast<std::uint8_t>(second)).Byte(static_cast<std::uint8_t>(third));
    w.U16(static_cast<std::uint16_t>(len)).Byte(2).Bytes(bytes);
    Write(dir, "random-" + std::to_string(i), w.Data());
    earlier = symbology;
  }
}

// ---- format_text -------------------------------------------------------------

void FormatSeeds(const fs::path& dir, const fs::path& sample) {
  std::ifstream in(sample, std::ios::binary);
  const std::string card((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto bytes = [](std::string_view t) { return std::vector<std::uint8_t>(t.begin(), t.end()); };
  Write(dir, "card-fmt", bytes(card));
  Write(dir, "crlf-quotes-ff", bytes("\"L 044/\"\r\n\xFF\xFF T/\r\n  f 1 020 010 03 08/\r\n"));
  Write(dir, "comment-inside-command", bytes("F 001 08 ; a comment\n 000 10 01 1 ID/\nG 1/ ; x/y\n"));
  Write(dir, "short-field-skips-line", bytes("F 1/ G 2/ H 3/\nF 001 08 000 10 01 1 ID/ K/\n"));
  Write(dir, "long-command", bytes("L 012/ X " + std::string(97, 'y') + "/ Z " +
                                   std::string(96, 'z') + "/ trailing text"));
  Write(dir, "numbers", bytes("f 3 123456 020 01 08/ L -2147483649/ L +77/ F 0x1 00 000 10 01/ "
                              "r A 99999 00000 100000/ \t\v\f 12/"));
  Write(dir, "no-slash", bytes("just text ; and a comment without end"));
}

// ---- session scripts -----------------------------------------------------------

using Line = ScriptWriter::Line;

std::vector<std::pair<std::string, ScriptWriter>> Scripts() {
  std::vector<std::pair<std::string, ScriptWriter>> scripts;
  const auto add = [&](const std::string& name) -> ScriptWriter& {
    scripts.emplace_back(name, ScriptWriter{});
    return scripts.back().second;
  };
  add("handshake").Error();

  add("code39-cards")
      .Format({{FormatLine::kSync, {44}},
               {FormatLine::kField, {1, 8, 0, 10, 1}},
               {FormatLine::kBarcode, {3, 10, 20, 1, 8}}})
      .ReadOneCard(0, 2000)
      .Error()
      .ReadOneCard(1, 100)
      .Receive();

  add("code128-after-first-byte")
      .BarcodeMode(1)
      .Format({{FormatLine::kAfterFirstByte},
               {FormatLine::kSync, {12}},
               {FormatLine::kBarcode, {1, 20, 10, 3, 10}}})
      .Send(Command::kFeed)
      .Send(Command::kRead, {1, 100})
      .Receive()
      .Send(Command::kRelease)
      .Error();

  add("i2of5-classic")
      .BarcodeMode(0)
      .Format({{FormatLine::kBarcode, {2, 10, 20, 1, 8}}})
      .ReadOneCard(0, 2048)
      .BarcodeMode(2)
      .ReadOneCard(0, 30)
      .Error();

  add("long-barcode")
      .Format({{FormatLine::kBarcode, {3, 10, 20, 1, 124}}})
      .ReadOneCard(0, 2000)
      .Format({{FormatLine::kBarcode, {1, 10, 20, 1, 200}}, {FormatLine::kSync, {3}}})
      .ReadOneCard(0, 0);

  add("test-readouts")
      .SetTest(12, 3)
      .Send(Command::kArea, {1, 1, 1, 10, 4})
      .ReadOut(Op::kGetOriOrGray, 'A')
      .ReadOut(Op::kGetOriOrGray, 'B')
      .Send(Command::kArea, {2, 1, 1, 20, 8})
      .ReadOut(Op::kGetOriOrGray, 'B')
      .Send(Command::kValues)
      .ReadOut(Op::kGetValue, 'A')
      .ReadOut(Op::kGetValue, 'B')
      .Send(Command::kCurve, {3})
      .ReadOut(Op::kGetCurve, 'A')
      .Send(Command::kPair, {4, 5})
      .PassOneCard(7, 8)
      .Send(Command::kPoint, {5, 6})
      .Send(Command::kTest, {9})
      .Error();

  add("big-area-and-values")
      .Send(Command::kArea, {1, 0, 0, 200, 99})
      .Send(Command::kArea, {1, 0, 0, 99, 99})
      .ReadOut(Op::kGetOriOrGray, 'A')
      .Send(Command::kValues)
      .ReadOut(Op::kGetValue, 'A');

  add("adjust-and-refusals")
      .Adjust(0, 3, 4)
      .Adjust(1, 120, 7)
      .Adjust(2, 5, 0)
      .Adjust(3, -5, 0)
      .Adjust(4, 12, 0)
      .SendRaw("R")
      .SendRaw("r A 123456 0001/")
      .SendRaw(std::string(120, 'x') + "/")
      .SendRaw("I 1 1 1 1234567 1/")
      .Send(Command::kMotor, {1})
      .Send(Command::kGray, {1, 2})
      .Send(Command::kFormatFile)
      .Send(Command::kProgramFile)
      .BarcodeMode(7)
      .Error();

  add("format-text-and-reads")
      .FormatText("L 040/ T/ f 3 010 020 01 08/")
      .Send(Command::kReadFixed)
      .Receive()
      .Send(Command::kDigitRead, {0, 200})
      .Receive()
      .Send(Command::kReadOne, {5})
      .Receive()
      .Send(Command::kWaveform)
      .Receive()
      .Error();

  add("formats-refused")
      .Format({{FormatLine::kBarcode, {1, 10, 20, 1, 10}}, {FormatLine::kTooLong}})
      .Format({})
      .Format({{FormatLine::kOther, {1}}, {FormatLine::kBarcode, {3, 123456, 20, 1, 8}}})
      .ReadOneCard(0, 500)
      .Send(Command::kEnd)
      .Send(Command::kOnline)
      .Send(Command::kQuit)
      .Op(Op::kInit)
      .ReadOneCard(0, 500);
  return scripts;
}

// Records what the simulated reader answers to each write, as reply records.
class RecordingPeer final : public sim::Peer, private sim::PeerOutput {
 public:
  RecordingPeer(sim::Peer& reader, ByteWriter& records) : reader_(reader), records_(records) {}
  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs,
                 sim::PeerOutput& out) override {
    out_ = &out;
    ReplyRecord record;
    record_ = &record;
    reader_.OnReceive(bytes, nowUs, *this);
    record_ = nullptr;
    if (!record.AppendTo(records_)) std::cerr << "a reply too long to record\n";
  }

 private:
  void Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
            std::int64_t byteTimeUs) override {
    if (record_ != nullptr) record_->Raw(bytes);
    out_->Send(atUs, bytes, byteTimeUs);
  }
  void HangUp(std::int64_t atUs) override {
    if (record_ != nullptr) record_->HangUp();
    out_->HangUp(atUs);
  }
  std::int64_t LineFreeAt() const override { return out_->LineFreeAt(); }
  void WakeAt(std::int64_t atUs) override { out_->WakeAt(atUs); }

  sim::Peer& reader_;
  ByteWriter& records_;
  sim::PeerOutput* out_ = nullptr;
  ReplyRecord* record_ = nullptr;
};

std::vector<std::uint8_t> WithScript(const ScriptWriter& script, const std::vector<std::uint8_t>& rest) {
  ByteWriter w;
  w.U16(static_cast<std::uint16_t>(script.Data().size())).Bytes(script.Data()).Bytes(rest);
  return w.Data();
}

std::vector<sim::Fault> Faults(std::initializer_list<const char*> texts) {
  std::vector<sim::Fault> faults;
  for (const char* t : texts) faults.push_back(std::get<sim::Fault>(sim::ParseFault(t)));
  return faults;
}

void SessionBytesSeeds(const fs::path& dir) {
  const std::vector<std::pair<std::string, std::vector<sim::Fault>>> readers = {
      {"", {}},
      {"-faults", Faults({"status:R=16*1", "garbage:r*1", "truncate:I 4=3", "hangup:PR*1"})},
      {"-shortblocks", Faults({"short-block:I 1=5", "over-area:I 2", "extra:I 6=XY", "final:-=07"})},
  };
  for (const auto& [name, script] : Scripts()) {
    for (const auto& [suffix, faults] : readers) {
      sim::ReaderConfig config;
      config.faults = faults;
      sim::ReaderMachine machine(config, std::make_unique<sim::GeneratedCards>(7));
      ByteWriter records;
      RecordingPeer recorder(machine, records);
      sim::VirtualClock clock;
      {
        InstalledSession session(clock, recorder);
        ByteReader in(script.Data());
        ClassicScript(session.Link()).Run(in, 64, 0);
      }
      Write(dir, name + suffix, WithScript(script, records.Data()));
    }
  }
}

void SessionSimSeeds(const fs::path& dir) {
  struct Variant {
    std::string suffix;
    std::vector<std::uint8_t> setup;  // switches, seed, [count], faults...
    std::vector<std::uint8_t> edits;
  };
  const std::vector<Variant> variants = {
      {"", {0, 7, 0}, {}},
      // A real reader's pace, a poor sensor, a hopper of two cards, and a
      // "status" fault on "R" once.
      {"-paced", {0x01 | 0x10 | 0x40, 9, 2, 1, 1, 1, 0, 1}, {}},
      // No final statuses; wide:narrow 2.0; sharp optics; the line flips a
      // bit of the third chunk and drops the start of the fifth.
      {"-edits", {0x02 | 0x04 | 0x20, 3, 0}, {0, 0, 0x01, 2, 0, 0x40, 0, 0x02, 0, 0, 3}},
  };
  for (const auto& [name, script] : Scripts())
    for (const auto& v : variants) {
      std::vector<std::uint8_t> rest = v.setup;
      rest.insert(rest.end(), v.edits.begin(), v.edits.end());
      Write(dir, name + v.suffix, WithScript(script, rest));
    }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: fuzz_make_seeds OUTPUT_DIR SAMPLE_FORMAT\n";
    return 64;
  }
  QuietHandlers();
  const fs::path out = argv[1];
  BarcodeSeeds(out / "barcode_decode");
  BarcodeCandidates(out / "barcode_candidates");
  FormatSeeds(out / "format_text", argv[2]);
  SessionBytesSeeds(out / "session_bytes");
  SessionSimSeeds(out / "session_sim");
  return 0;
}
