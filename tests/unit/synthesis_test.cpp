// The barcode read's guard and second decoder on waveforms of the simulated
// optics: what the classic decoder misreads never comes back in the guarded
// modes, what it cannot read the second decoder does, and the read's reports
// (full stops, "14", the trace line) follow the outcome in every mode.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(Guard, SymbolsWhoseEndsOrQuietZonesLieOutsideTheSamplesAreRefused) {
  const std::string stops(8, '.');
  const auto refused = [&](const std::vector<std::uint8_t>& bytes, const BarcodeLine& line,
                           const std::string& what) {
    for (const auto mode : {BarcodeMode::kGuarded, BarcodeMode::kGuardedSecondDecoder}) {
      const auto result = Read(bytes, line, mode);
      EXPECT_EQ(result.text, stops)
          << what << " mode " << static_cast<int>(mode) << ": " << result.explanation;
    }
  };
  // A reader's waveform of "45052074" in Interleaved 2 of 5, last sample
  // first, cut off inside the symbol's start. It was read as "65260494": the
  // stop read backwards taken for the start, the stop placed behind the
  // samples.
  const std::vector<std::uint8_t> truncated = {
      224, 223, 219, 227, 227, 225, 224, 224, 226, 226, 222, 222, 224, 224, 226, 220, 225, 223,
      225, 227, 226, 223, 228, 224, 228, 225, 223, 227, 228, 213, 157, 80,  58,  97,  175, 208,
      163, 84,  43,  37,  35,  31,  34,  59,  123, 196, 223, 224, 219, 220, 214, 179, 102, 51,
      34,  36,  36,  36,  50,  105, 178, 204, 157, 84,  42,  35,  31,  36,  39,  61,  134, 202,
      225, 220, 224, 223, 218, 173, 93,  52,  89,  161, 207, 179, 98,  53,  76,  154, 207, 181,
      108, 54,  75,  151, 201, 186, 114, 49,  38,  32,  33,  35,  48,  99,  177, 216, 221, 224,
      225, 223, 196, 120, 63,  62,  130, 199, 227, 222, 225, 221, 216, 171, 89,  53,  89,  169,
      210, 169, 95,  46,  34,  32,  36,  31,  58,  123, 195, 198, 136, 65,  60,  125, 198, 194,
      133, 65,  60,  124, 195, 203, 128, 59,  39,  35,  35,  37,  45,  92,  170, 216, 223, 226,
      222, 222, 190, 122, 55,  35,  35,  34,  37,  49,  106, 184, 206, 150, 73,  57,  112, 191,
      222, 227, 227, 225, 218, 172, 96,  52,  86,  172, 204, 166, 88,  45,  37,  32,  32,  35,
      67,  140, 199, 186, 114, 55,  75,  149, 212, 225, 224, 222, 221, 207, 147, 67,  39,  34,
      32,  40,  45,  83,  164, 204, 168, 89,  54,  92,  170, 217, 224, 222, 221, 221, 197, 117,
      56,  68};
  refused(truncated, {kInterleaved2of5, 1, 2, 0, 8}, "recorded");
  // The same on rendered waveforms.
  for (const std::uint64_t seed : {2u, 3u, 4u}) {
    auto bytes = Render(kInterleaved2of5, "63460700", {3.0, 0.3, 2.0}, seed);
    bytes.erase(bytes.begin(), bytes.begin() + 43);
    refused(bytes, {kInterleaved2of5, 2, 1, 0, 8}, "seed " + std::to_string(seed));
  }
  // Every symbology, cut at either end: two modules of the quiet zone left,
  // none, three modules of the symbol gone. With quiet zones of six modules
  // the symbols still read.
  const struct {
    int symbology;
    std::string text;
  } symbols[] = {{kCode39, "AB12CD34"}, {kInterleaved2of5, "20261205"}, {kCode128, "31415926"}};
  for (const auto& c : symbols) {
    const Optics sharp{3.0, 0.3, 2.0};
    const auto bytes = Render(c.symbology, c.text, sharp, 8);
    for (const bool reversedLine : {false, true}) {
      const BarcodeLine line{c.symbology, reversedLine ? 1 : 2, reversedLine ? 2 : 1, 0, 8};
      const auto inLine = [&](std::vector<std::uint8_t> samples) {
        if (reversedLine) std::reverse(samples.begin(), samples.end());
        return samples;
      };
      ASSERT_EQ(Read(inLine(bytes), line, BarcodeMode::kGuardedSecondDecoder).text, c.text);
      for (const long modules : {8, 10, 13}) {
        const long cut = modules * 3;
        refused(inLine({bytes.begin() + cut, bytes.end()}), line,
                c.text + " start cut " + std::to_string(modules));
        refused(inLine({bytes.begin(), bytes.end() - cut}), line,
                c.text + " stop cut " + std::to_string(modules));
      }
      Optics narrowQuiet = sharp;
      narrowQuiet.quiet = 6;
      const auto narrow = inLine(Render(c.symbology, c.text, narrowQuiet, 8));
      for (const auto mode : {BarcodeMode::kGuarded, BarcodeMode::kGuardedSecondDecoder})
        EXPECT_EQ(Read(narrow, line, mode).text, c.text) << "quiet zones of 6 modules";
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
