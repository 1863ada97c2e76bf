// A card pulled through by rollers: its speed ramps and wanders along the
// symbol, the light fades from one end to the other, a void sits in a bar.
// The second decoder and the guard follow the card, and following it never
// bends a wrong symbol onto the samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/synthesis/synthesis.h"
#include "barcode_encoder.h"

namespace markwire::barcode {
namespace {

struct Motion {
  double ramp = 0;      // speed from 1 - ramp at the first module to 1 + ramp at the last
  double wander = 0;    // sine of this amplitude, period 40 modules
  double fade = 0;      // the light falls by this share from the first sample to the last
  bool void_ = false;   // a white void of 0.3 module in the middle of the third bar
  double spm = 3;
};

// Samples taken at equal times of a card moving at the given speed, under a
// Gaussian spot of 0.35 module, noise of 2 gray values.
std::vector<std::uint8_t> Pulled(int symbology, const std::string& text, const Motion& m,
                                 std::uint64_t seed) {
  const auto widths = std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text));
  std::vector<double> edges{10.0};
  for (const double w : widths) edges.push_back(edges.back() + w);
  if (m.void_) {
    const double middle = 0.5 * (edges[4] + edges[5]);
    edges.insert(edges.begin() + 5, {middle - 0.15, middle + 0.15});
  }
  const double length = edges.back() + 10;
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> noise(0, 2);
  std::vector<double> at;
  for (double u = 0; u < length;) {
    at.push_back(u);
    u += (1 + m.ramp * (2 * u / length - 1) + m.wander * std::sin(u * 2 * M_PI / 40)) / m.spm;
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t k = 0; k < at.size(); ++k) {
    double dark = 0;
    for (std::size_t e = 0; e + 1 < edges.size(); e += 2)
      dark += 0.5 * (std::erf((at[k] - edges[e]) / (0.35 * M_SQRT2)) -
                     std::erf((at[k] - edges[e + 1]) / (0.35 * M_SQRT2)));
    const double light = 1 - m.fade * static_cast<double>(k) / static_cast<double>(at.size());
    bytes.push_back(static_cast<std::uint8_t>(
        std::clamp(std::lround(light * (210 - 170 * dark) + noise(rng)), 0L, 255L)));
  }
  return bytes;
}

struct Case {
  int symbology;
  std::string text;
  int count;  // data characters as the read counts them
};

const Case kCases[] = {{kCode39, "MARK42", 6},
                       {kInterleaved2of5, "20261206", 8},
                       {kCode128, "73914526", 4}};

synthesis::Verdict Decoded(const std::vector<std::uint8_t>& bytes, const Case& c) {
  const std::vector<double> samples(bytes.begin(), bytes.end());
  return synthesis::DecodeBySynthesis(samples, c.symbology, c.count);
}

TEST(CardMotion, RampsWanderFadingLightAndVoidsAreFollowedAndRead) {
  const Motion motions[] = {{.ramp = 0.12},
                            {.ramp = -0.15, .spm = 2.5},
                            {.wander = 0.08},
                            {.fade = 0.35, .spm = 4.5},
                            {.ramp = 0.08, .fade = 0.15, .void_ = true}};
  int followed = 0;
  for (const Case& c : kCases) {
    for (const Motion& m : motions) {
      for (std::uint64_t seed = 1; seed <= 2; ++seed) {
        const auto bytes = Pulled(c.symbology, c.text, m, seed);
        const synthesis::Verdict verdict = Decoded(bytes, c);
        EXPECT_TRUE(verdict.accepted) << c.text << " ramp " << m.ramp << " wander " << m.wander
                                      << " fade " << m.fade << ": " << verdict.explanation;
        // The read says when following the card made the difference.
        followed += verdict.explanation.find("followed the card") != std::string::npos;
        // Through the whole read, in the default mode.
        const BarcodeLine line{c.symbology, 2, 1, 0, static_cast<int>(c.text.size())};
        SymbolTables tables;
        IgnoredReadEvents events;
        EXPECT_EQ(DecodeSamples(SamplesInReadingOrder(bytes, line), line, tables, events,
                                BarcodeMode::kGuardedSecondDecoder)
                      .text,
                  c.text);
      }
    }
  }
  EXPECT_GE(followed, 12);
  // An even card is read on the straight frame, without following it.
  for (const Case& c : kCases) {
    const synthesis::Verdict verdict = Decoded(Pulled(c.symbology, c.text, {}, 3), c);
    EXPECT_TRUE(verdict.accepted) << verdict.explanation;
    EXPECT_EQ(verdict.explanation.find("followed"), std::string::npos) << verdict.explanation;
  }
}

TEST(CardMotion, FollowingTheCardNeverConfirmsAWrongSymbol) {
  // The patterns of a symbol one character away, as a classic decoder
  // misreading it would write them, against the samples of the true one.
  const struct {
    Case truth;
    std::string wrong;
  } pairs[] = {{kCases[0], "MARK43"}, {kCases[0], "NARK42"}, {kCases[1], "20261208"},
               {kCases[2], "73914626"}};
  for (const auto& [truth, wrong] : pairs) {
    for (const Motion& m : {Motion{.ramp = 0.12}, Motion{.wander = 0.08, .fade = 0.2}}) {
      const auto bytes = Pulled(truth.symbology, truth.text, m, 7);
      const std::vector<double> samples(bytes.begin(), bytes.end());
      const synthesis::Verdict right = Decoded(bytes, truth);
      ASSERT_TRUE(right.accepted) << right.explanation;
      EXPECT_TRUE(
          synthesis::ConfirmPatterns(samples, truth.symbology, truth.count, right.patterns)
              .accepted);
      const synthesis::Verdict other = Decoded(Pulled(truth.symbology, wrong, {}, 8), truth);
      ASSERT_TRUE(other.accepted) << other.explanation;
      const synthesis::Verdict refused =
          synthesis::ConfirmPatterns(samples, truth.symbology, truth.count, other.patterns);
      EXPECT_FALSE(refused.accepted) << wrong << ": " << refused.explanation;
    }
  }
}

}  // namespace
}  // namespace markwire::barcode
