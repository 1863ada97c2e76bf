// The barcode read's guard and second decoder on waveforms of the simulated
// optics: what the classic decoder misreads never comes back in the guarded
// modes, what it cannot read the second decoder does, and the read's reports
// (full stops, "14", the trace line) follow the outcome in every mode.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/synthesis/synthesis.h"
#include "barcode_encoder.h"
#include "waveform_model.h"

namespace markwire::barcode {
namespace {

class RecordedEvents final : public ReadEvents {
 public:
  void ClearPending() override {}
  void SetError(std::string_view code) override { errors += std::string(code) + " "; }
  void Trace(std::string_view line) override { traces.emplace_back(line); }
  std::string errors;
  std::vector<std::string> traces;
};

struct Optics {
  double spm, blur, noise, wide = 2.5, gap = 1.0, quiet = 10.0;
};

std::vector<double> Widths(int symbology, const std::string& text, const Optics& o) {
  sim::EncodeOptions encode;
  encode.wideRatio = o.wide;
  encode.gapModules = o.gap;
  return std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text, encode));
}

std::vector<std::uint8_t> Render(const std::vector<double>& widths, const Optics& o,
                                 std::uint64_t seed) {
  sim::OpticsOptions optics;
  optics.samplesPerModule = o.spm;
  optics.blurModules = o.blur;
  optics.noise = o.noise;
  optics.quietModules = o.quiet;
  optics.seed = seed;
  return sim::RenderWaveform(widths, optics);
}

// `cut` elements are left off the symbol's end, `cutFront` off its start.
std::vector<std::uint8_t> Render(int symbology, const std::string& text, const Optics& o,
                                 std::uint64_t seed, std::size_t cut = 0,
                                 std::size_t cutFront = 0) {
  const auto widths = Widths(symbology, text, o);
  return Render({widths.begin() + static_cast<long>(cutFront), widths.end() - static_cast<long>(cut)},
                o, seed);
}

DecodeResult Read(const std::vector<std::uint8_t>& bytes, const BarcodeLine& line, BarcodeMode mode,
                  RecordedEvents& events) {
  SymbolTables tables;
  return DecodeSamples(SamplesInReadingOrder(bytes, line), line, tables, events, mode);
}

DecodeResult Read(const std::vector<std::uint8_t>& bytes, const BarcodeLine& line, BarcodeMode mode) {
  RecordedEvents events;
  return Read(bytes, line, mode, events);
}

std::vector<double> AsSamples(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

TEST(SecondDecoder, ReadsBlurredSymbolsOfEverySymbologyInBothDirections) {
  const struct {
    int symbology;
    std::string text;
    double wide;
  } cases[] = {{kCode39, "AB12CD34", 2.0}, {kInterleaved2of5, "20261205", 2.5},
               {kCode128, "31415926", 2.5}};
  for (const auto& c : cases) {
    // Blur 0.8 modules: one-module elements keep a few percent of their contrast.
    const auto bytes = Render(c.symbology, c.text, {3.0, 0.8, 2.0, c.wide}, 7);
    for (const bool reversedLine : {false, true}) {
      const BarcodeLine line{c.symbology, reversedLine ? 1 : 2, reversedLine ? 2 : 1, 0, 8};
      // A line that says "reversed" reads the samples last first: the
      // symbol then lies backwards, which the second decoder must notice.
      EXPECT_NE(Read(bytes, line, BarcodeMode::kClassic).text, c.text) << c.symbology;
      const auto result = Read(bytes, line, BarcodeMode::kGuardedSecondDecoder);
      EXPECT_EQ(result.text, c.text) << c.symbology << " " << result.explanation;
      EXPECT_TRUE(result.decoded && result.bySecondDecoder);
    }
  }
}

TEST(Guard, WhatTheClassicDecoderMisreadsComesBackAsFullStopsOrTheTruth) {
  // Blurred, noisy or with short quiet zones, and narrow elements at 2:1:
  // waveforms on which a wrong symbol (the classic decoder's misread, or the
  // second decoder's best guess) is explained down to the paper's noise, so
  // that only the margin by which the right one fits better refuses it.
  const struct {
    int symbology;
    std::string text;
    Optics optics;
    std::uint64_t seed;
    bool classicMisreads;  // else the classic decoder finds no symbol
  } cases[] = {
      {kCode39, "K7X7Q2MZ", {2.0, 0.5, 4.0, 2.0}, 77, true},
      {kCode39, "K9X7Q2MB", {2.0, 0.5, 4.0, 2.0}, 209, true},
      {kCode39, "VT8PG86B", {3.0, 0.5, 4.0, 2.0}, 25, true},
      {kCode39, "AZLCWC61", {3.0, 0.5, 10.0, 2.0, 1.0, 3.0}, 11, true},
      {kInterleaved2of5, "72539138", {1.5, 0.5, 10.0, 2.0}, 2, true},
      {kCode39, "OOPV9HOM", {2.0, 0.5, 10.0, 2.0}, 23, false},
      {kCode39, "C5S5W4E8", {1.5, 0.5, 10.0, 2.0}, 32, false},
      {kInterleaved2of5, "47071188", {1.5, 0.8, 10.0, 2.0}, 9, false},
  };
  const std::string stops(8, '.');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto bytes = Render(c.symbology, c.text, c.optics, c.seed);
    const BarcodeLine line{c.symbology, 2, 1, 0, 8};
    const auto classic = Read(bytes, line, BarcodeMode::kClassic).text;
    EXPECT_EQ(classic != c.text && classic != stops, c.classicMisreads) << classic;
    for (const auto mode : {BarcodeMode::kGuarded, BarcodeMode::kGuardedSecondDecoder}) {
      const auto guarded = Read(bytes, line, mode);
      EXPECT_TRUE(guarded.text == c.text || guarded.text == stops)
          << "mode " << static_cast<int>(mode) << " " << guarded.text << ": "
          << guarded.explanation;
    }
  }
}

TEST(Guard, SymbolsWhoseStartOrStopIsAnotherCharacterAreRefused) {
  const Optics sharp{3.0, 0.3, 1.0};
  const std::string stops(9, '.');
  const BarcodeLine line{kCode39, 2, 1, 0, 9};
  ASSERT_EQ(Read(Render(kCode39, "ABCDEFGHI", sharp, 5), line, BarcodeMode::kClassic).text,
            "ABCDEFGHI");
  // Code 39: the nine characters with another character where the stop
  // belongs (its gap and the stop's nine elements left off), or where the
  // start belongs. "X", "0" and " " are drawn much like "*".
  for (const char other : {'-', 'J', 'X', '0', ' '}) {
    const auto noStop = Render(kCode39, std::string("ABCDEFGHI") + other, sharp, 5, 10);
    const auto noStart = Render(kCode39, other + std::string("ABCDEFGHI"), sharp, 5, 0, 10);
    for (const auto mode : {BarcodeMode::kGuarded, BarcodeMode::kGuardedSecondDecoder}) {
      const auto stop = Read(noStop, line, mode);
      EXPECT_EQ(stop.text, stops) << "stop \"" << other << "\" mode " << static_cast<int>(mode)
                                  << ": " << stop.explanation;
      const auto start = Read(noStart, line, mode);
      EXPECT_EQ(start.text, stops) << "start \"" << other << "\" mode "
                                   << static_cast<int>(mode) << ": " << start.explanation;
    }
  }
  // Code 128: another character in place of START C ("00", "19", START B),
  // or of the stop's first eleven modules ("32", "74"; its bar of two
  // behind).
  const BarcodeLine line128{kCode128, 2, 1, 0, 8};
  const std::vector<double> code128 = Widths(kCode128, "31415926", sharp);
  ASSERT_EQ(Read(Render(code128, sharp, 5), line128, BarcodeMode::kClassic).text, "31415926");
  const auto replaced = [&](std::size_t at, std::string_view pattern) {
    std::vector<double> widths = code128;
    for (std::size_t i = 0; i < pattern.size(); ++i) widths[at + i] = pattern[i] - '0';
    return Render(widths, sharp, 5);
  };
  const std::size_t stopAt = code128.size() - 7;
  for (const auto& bytes : {replaced(0, "212222"), replaced(0, "221132"), replaced(0, "211214"),
                            replaced(stopAt, "232121"), replaced(stopAt, "142211")}) {
    for (const auto mode : {BarcodeMode::kGuarded, BarcodeMode::kGuardedSecondDecoder}) {
      const auto result = Read(bytes, line128, mode);
      EXPECT_EQ(result.text, std::string(8, '.'))
          << "mode " << static_cast<int>(mode) << ": " << result.explanation;
    }
  }
}

TEST(Guard, LongCode128WithCompensatingWrongCharactersIsRefused) {
  // Waveforms on which a symbol with two or more wrong characters whose
  // check character still matches was accepted: the classic reading (40
  // digits) or the second decoder's (122 digits; with CODEB first, 121
  // characters of other text).
  const struct {
    std::string text;
    Optics optics;
    std::uint64_t seed;
  } cases[] = {
      {"8503377813271825058781364767577090823007", {1.5, 0.3, 10.0}, 3112563787769733899u},
      {"93733206361776265642129681150687009450132272724988093396326196965091939233680670957994"
       "397659274861149041100571662343857436",
       {2.5, 0.8, 0.0},
       14257198756920348831u},
      {"70419243485228205941016896551726217363604143977780197003516096665185503219885796172275"
       "843980787039953423746141870132356058",
       {3.0, 0.8, 4.0},
       11758569778248376508u},
  };
  for (const auto& c : cases) {
    const int length = static_cast<int>(c.text.size());
    const BarcodeLine line{kCode128, 2, 1, 0, length};
    const auto bytes = Render(kCode128, c.text, c.optics, c.seed);
    for (const auto mode : {BarcodeMode::kGuarded, BarcodeMode::kGuardedSecondDecoder}) {
      const auto result = Read(bytes, line, mode);
      EXPECT_TRUE(result.text == c.text || result.text == std::string(c.text.size(), '.'))
          << length << " digits, mode " << static_cast<int>(mode) << ": " << result.text << ": "
          << result.explanation;
    }
  }
}

TEST(Guard, ConfirmsTheRightSymbolAndNamesTheCharacterOfAWrongOne) {
  const auto samples = AsSamples(Render(kCode39, "HELLO123", {3.0, 0.4, 2.0}, 3));
  const auto star = std::string(SymbolRows(kCode39)[39].pattern);  // "*"
  ASSERT_EQ(SymbolRows(kCode39)[39].symbol, "*");
  const auto pattern = [](char c) {
    for (const auto& row : SymbolRows(kCode39))
      if (row.symbol == std::string(1, c)) return std::string(row.pattern);
    return std::string();
  };
  PatternList patterns = {star};
  for (const char c : std::string("HELLO123")) patterns.push_back(pattern(c));
  patterns.push_back(star);
  const auto right = synthesis::ConfirmPatterns(samples, kCode39, 8, patterns);
  EXPECT_TRUE(right.accepted) << right.explanation;

  patterns[4] = pattern('C');  // "HELCO123"
  const auto wrong = synthesis::ConfirmPatterns(samples, kCode39, 8, patterns);
  EXPECT_FALSE(wrong.accepted);
  EXPECT_NE(wrong.explanation.find("character 4"), std::string::npos) << wrong.explanation;

  patterns.pop_back();  // no stop: not a symbol of eight characters
  EXPECT_FALSE(synthesis::ConfirmPatterns(samples, kCode39, 8, patterns).accepted);
}

TEST(Guard, Code128ReportsFollowTheFinalOutcome) {
  // Blurred past what the classic decoder reads.
  const auto bytes = Render(kCode128, "55667788", {3.0, 0.8, 1.0}, 11);
  const BarcodeLine line{kCode128, 2, 1, 0, 8};

  RecordedEvents classic;
  EXPECT_EQ(Read(bytes, line, BarcodeMode::kClassic, classic).text, std::string(8, '.'));
  EXPECT_NE(classic.errors.find("14"), std::string::npos);

  RecordedEvents guarded;
  EXPECT_EQ(Read(bytes, line, BarcodeMode::kGuarded, guarded).text, std::string(8, '.'));
  EXPECT_NE(guarded.errors.find("14"), std::string::npos);
  if (!guarded.traces.empty()) {
    EXPECT_EQ(guarded.traces.back(), "successFlag: 0");
  }

  RecordedEvents second;
  EXPECT_EQ(Read(bytes, line, BarcodeMode::kGuardedSecondDecoder, second).text, "55667788");
  EXPECT_EQ(second.errors.find("14"), std::string::npos);
  ASSERT_FALSE(second.traces.empty());
  EXPECT_EQ(second.traces.back(), "successFlag: 1");
}

TEST(Guard, Code39WithWideCharacterGapsIsConfirmedAndRead) {
  // The space between Code 39 characters is the printer's choice; the
  // guard must not refuse a right reading for it, nor the second decoder
  // miss the symbol.
  for (const double gap : {2.5, 4.0}) {
    const BarcodeLine line{kCode39, 2, 1, 0, 8};
    const auto sharp = Render(kCode39, "GAP2026X", {3.0, 0.3, 2.0, 2.5, gap}, 9);
    ASSERT_EQ(Read(sharp, line, BarcodeMode::kClassic).text, "GAP2026X");
    EXPECT_EQ(Read(sharp, line, BarcodeMode::kGuarded).text, "GAP2026X") << gap;
    const auto blurred = Render(kCode39, "GAP2026X", {3.0, 0.75, 2.0, 2.5, gap}, 9);
    EXPECT_EQ(Read(blurred, line, BarcodeMode::kGuardedSecondDecoder).text, "GAP2026X") << gap;
  }
}

TEST(Guard, ClearReadsPassUnchangedInEveryMode) {
  for (const int symbology : {3, 2, 1}) {
    const auto bytes = Render(symbology, "12345678", {4.0, 0.3, 1.0}, 5);
    const BarcodeLine line{symbology, 2, 1, 0, 8};
    for (const auto mode : {BarcodeMode::kClassic, BarcodeMode::kGuarded,
                            BarcodeMode::kGuardedSecondDecoder}) {
      const auto result = Read(bytes, line, mode);
      EXPECT_EQ(result.text, "12345678") << symbology << " " << result.explanation;
      EXPECT_FALSE(result.bySecondDecoder);
    }
  }
}

}  // namespace
}  // namespace markwire::barcode
