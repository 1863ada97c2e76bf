// The work the guard and the second decoder spend on one waveform is counted
// and bounded: no waveform, however long or hostile, takes more than the
// budget (and a read that runs out is refused, never accepted), the count is
// the same on every run, and real symbols of the longest lengths a format
// gives are read well within it. Work is counted, not timed: these tests
// hold on any machine under any load.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/synthesis/synthesis.h"
#include "barcode_encoder.h"
#include "waveform_model.h"

namespace markwire::barcode {
namespace {

using synthesis::kWorkBudget;
using synthesis::SymbolReader;

// A budget is checked between a search's characters, the test's characters
// and a refit's trials, after framing: the framing of both directions and
// what one character costs may come on top of it.
constexpr long kOvershoot = kWorkBudget / 20;

std::vector<double> Render(int symbology, const std::string& text, double samples, double blur,
                           double noise, std::uint64_t seed) {
  const auto widths = std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text));
  double modules = 0;
  for (const double w : widths) modules += w;
  sim::OpticsOptions optics;
  optics.quietModules = 10;
  optics.samplesPerModule = samples / (modules + 20);
  optics.blurModules = blur;
  optics.noise = noise;
  optics.seed = seed;
  const auto bytes = sim::RenderWaveform(widths, optics);
  return {bytes.begin(), bytes.end()};
}

std::string Digits(int n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string text;
  for (int i = 0; i < n; ++i) text += static_cast<char>('0' + rng() % 10);
  return text;
}

TEST(Work, NoWaveformTakesMoreThanTheBudgetAndTheCountRepeats) {
  // Noise and square waves between stretches of paper (else no symbol is
  // looked for: its ends and quiet zones would not be in the samples).
  std::vector<std::vector<double>> hostile;
  std::mt19937_64 rng(17);
  const auto paper = [](std::size_t i) { return i < 300 || i >= 9999 - 300; };
  for (int i = 0; i < 2; ++i) {
    std::vector<double> noise(9999);
    for (std::size_t j = 0; j < noise.size(); ++j)
      noise[j] = paper(j) ? 220 : static_cast<double>(rng() % 256);
    hostile.push_back(noise);
  }
  for (const std::size_t period : {3u, 7u, 16u}) {
    std::vector<double> square(9999);
    for (std::size_t i = 0; i < square.size(); ++i)
      square[i] = paper(i) || (i / period) % 2 ? 210 : 40;
    hostile.push_back(square);
  }
  const PatternList patterns(64, "0000");
  int exhausted = 0;
  for (const auto& samples : hostile) {
    for (const int symbology : {kCode39, kInterleaved2of5, kCode128}) {
      const int count = symbology == kCode39 ? 123 : symbology == kInterleaved2of5 ? 122 : 61;
      const SymbolReader reader(samples, symbology, count);
      const auto decoded = reader.Decode();
      const auto confirmed = reader.Confirm(patterns);
      EXPECT_FALSE(decoded.accepted || confirmed.accepted);
      EXPECT_LE(reader.WorkSpent(), kWorkBudget + kOvershoot)
          << samples.size() << " samples, symbology " << symbology;
      if (decoded.gaveUp) {
        ++exhausted;
        EXPECT_NE(decoded.explanation.find("gave up"), std::string::npos);
      }
      const SymbolReader again(samples, symbology, count);
      again.Decode();
      again.Confirm(patterns);
      EXPECT_EQ(again.WorkSpent(), reader.WorkSpent());
    }
  }
  // The corpus must reach the bound, or it tests nothing.
  EXPECT_GT(exhausted, 0);
}

TEST(Work, ReadsThatRunOutAreRefusedNeverAccepted) {
  // Blurred past the classic decoder: the second decoder reads it.
  const auto samples = Render(kCode39, "WORK2026", 1000, 0.8, 3.0, 4);
  const SymbolReader ample(samples, kCode39, 8);
  const auto read = ample.Decode();
  ASSERT_TRUE(read.accepted) << read.explanation;
  const long needed = ample.WorkSpent();
  for (const long budget : {needed / 10, needed / 2, needed - needed / 20}) {
    const SymbolReader starved(samples, kCode39, 8, budget);
    const auto verdict = starved.Decode();
    EXPECT_FALSE(verdict.accepted) << budget;
    EXPECT_TRUE(verdict.gaveUp) << budget;
    EXPECT_LE(starved.WorkSpent(), budget + kOvershoot);
  }
  const SymbolReader enough(samples, kCode39, 8, needed + 1);
  EXPECT_TRUE(enough.Decode().accepted);
}

// ... with two fifths of the budget to spare.
TEST(Work, LongSymbolsAreReadWellWithinTheBudget) {
  struct Long {
    int symbology;
    std::string text;
    double samples;
  };
  // The benchmark's long symbols: 40 Code 39 characters on 3,754 samples,
  // 122 digits on 2,200 (Code 128) and 3,000 (Interleaved 2 of 5).
  const Long cases[] = {{kCode39, "MARKWIRE 2026 LONG CODE 39 SYMBOL$/+%.AB", 3754},
                        {kCode128, Digits(122, 128), 2200},
                        {kInterleaved2of5, Digits(122, 25), 3000}};
  for (const Long& c : cases) {
    const int length = static_cast<int>(c.text.size());
    const BarcodeLine line{c.symbology, 2, 1, 0, length};
    // Sharp: the classic decoder or the guard's own symbol reads it. Blurred
    // past the classic decoder: only the second decoder reads it (not
    // Interleaved 2 of 5 this long).
    for (const double blur : {0.3, 0.8}) {
      if (blur > 0.5 && c.symbology == kInterleaved2of5) continue;
      for (const std::uint64_t seed : {1u, 2u, 3u}) {
        const auto samples = Render(c.symbology, c.text, c.samples, blur, 4.0, seed);
        SymbolTables tables;
        IgnoredReadEvents events;
        const auto read = [&](BarcodeMode mode) {
          return DecodeSamples(samples, line, tables, events, mode);
        };
        const auto result = read(BarcodeMode::kGuardedSecondDecoder);
        EXPECT_EQ(result.text, c.text)
            << c.symbology << " blur " << blur << " seed " << seed << ": " << result.explanation;
        // The work the read spent: the guard's test of the classic reading
        // and, where that fails, the second decoder's search.
        const auto classic = read(BarcodeMode::kClassic);
        const SymbolReader reader(samples, c.symbology, ExpectedCount(line));
        if (classic.text != c.text || !reader.Confirm(classic.patterns).accepted) {
          EXPECT_TRUE(reader.Decode().accepted);
        }
        EXPECT_LT(reader.WorkSpent(), kWorkBudget * 3 / 5)
            << c.symbology << " blur " << blur << " seed " << seed;
      }
    }
  }
}

}  // namespace
}  // namespace markwire::barcode
