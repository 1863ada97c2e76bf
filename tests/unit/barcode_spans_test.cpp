// Where a read says its characters lie in the samples, and the symbol the
// second decoder rendered over them: against where the simulated card put
// each character, whichever decoder read it, whichever way round the
// samples came, and on a card whose speed and light changed along it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/synthesis/synthesis.h"
#include "barcode_encoder.h"

namespace markwire::barcode {
namespace {

constexpr double kQuiet = 10.0;

// A card pulled past the sensor: samples at equal times of a card whose
// speed goes from 1 - ramp to 1 + ramp and whose light fades by `fade`.
// `edges`: where each element begins and the last ends, in modules from
// the first sample; `at`: where each sample was taken, in modules.
struct Card {
  std::vector<double> edges, at, samples;
};

Card Pull(int symbology, const std::string& text, double spm, double blur, double ramp, double fade,
          std::uint64_t seed) {
  sim::EncodeOptions encode;
  encode.wideRatio = 2.5;
  const auto widths = std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text, encode));
  Card card;
  card.edges.push_back(kQuiet);
  for (double w : widths) card.edges.push_back(card.edges.back() + w);
  const double length = card.edges.back() + kQuiet;
  for (double u = 0; u < length;) {
    card.at.push_back(u);
    u += (1 + ramp * (2 * u / length - 1)) / spm;
  }
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> noise(0, 1.5);
  for (std::size_t k = 0; k < card.at.size(); ++k) {
    double dark = 0;
    for (std::size_t e = 0; e + 1 < card.edges.size(); e += 2)
      dark += 0.5 * (std::erf((card.at[k] - card.edges[e]) / (blur * M_SQRT2)) -
                     std::erf((card.at[k] - card.edges[e + 1]) / (blur * M_SQRT2)));
    const double light = 1 - fade * static_cast<double>(k) / static_cast<double>(card.at.size());
    card.samples.push_back(
        std::clamp(std::round(light * (210 - 170 * dark) + noise(rng)), 0.0, 255.0));
  }
  return card;
}

// The sample (fractional) where the card stood at module u.
double SampleAt(const Card& card, double u) {
  const auto it = std::lower_bound(card.at.begin(), card.at.end(), u);
  const auto k = static_cast<std::size_t>(
      std::clamp<long>(it - card.at.begin(), 1, static_cast<long>(card.at.size() - 1)));
  return static_cast<double>(k - 1) + (u - card.at[k - 1]) / (card.at[k] - card.at[k - 1]);
}

// Each text character's first and last element: Code 39 one character of
// nine elements and a gap after the start; Interleaved 2 of 5 a pair of ten
// after a start of four; Code 128 a pair of six after Start C and FNC1.
std::pair<std::size_t, std::size_t> Elements(int symbology, std::size_t character) {
  if (symbology == kCode39) return {10 * (character + 1), 10 * (character + 1) + 8};
  const std::size_t pair = character / 2;
  if (symbology == kInterleaved2of5) return {4 + 10 * pair, 13 + 10 * pair};
  return {6 * (pair + 2), 6 * (pair + 2) + 5};
}

struct Read {
  DecodeResult result;
  std::vector<double> given;  // the samples in reading order, as the read got them
};

Read Decode(const Card& card, int symbology, int length, bool reversedLine) {
  std::vector<std::uint8_t> bytes(card.samples.begin(), card.samples.end());
  const BarcodeLine line{symbology, reversedLine ? 1 : 2, reversedLine ? 2 : 1, 0, length};
  SymbolTables tables;
  IgnoredReadEvents events;
  Read read;
  read.given = SamplesInReadingOrder(bytes, line);
  read.result = DecodeSamples(read.given, line, tables, events, BarcodeMode::kGuardedSecondDecoder);
  return read;
}

// Every character of the text has a span, in text order, lying where the
// card put it (within `slack` modules at either end).
void ExpectSpansOnTheCard(const Card& card, const Read& read, int symbology, bool reversedLine,
                          double spm, double slack, const std::string& what) {
  const auto& r = read.result;
  ASSERT_TRUE(r.decoded) << what << ": " << r.explanation;
  std::size_t covered = 0;
  const double last = static_cast<double>(card.samples.size() - 1);
  for (const TextSpan& span : r.spans) {
    EXPECT_EQ(span.offset, covered) << what;
    covered += span.length;
    ASSERT_LE(span.first, span.last) << what;
    const auto [from, to] = Elements(symbology, span.offset);
    // The classic decoders know the elements' centres, and a span reaches
    // halfway to the next element's; the second decoder knows its bars, and
    // a span ends with the last (bars: even elements).
    const std::size_t end = r.bySecondDecoder && to % 2 == 1 ? to : to + 1;
    double a = SampleAt(card, card.edges[from]), b = SampleAt(card, card.edges[end]);
    if (reversedLine) std::tie(a, b) = std::pair(last - b, last - a);
    EXPECT_NEAR(span.first, a, slack * spm) << what << " character " << span.offset;
    EXPECT_NEAR(span.last, b, slack * spm) << what << " character " << span.offset;
  }
  EXPECT_EQ(covered, r.text.size()) << what;
}

// How far a rendered symbol lies from the samples (linear between them:
// a followed card's points fall between samples), root mean square.
double Misfit(const std::vector<std::pair<double, double>>& rendered,
              const std::vector<double>& samples) {
  double sum = 0;
  for (const auto& [at, level] : rendered) {
    const auto i =
        static_cast<std::size_t>(std::clamp(at, 0.0, static_cast<double>(samples.size() - 2)));
    const double t = at - static_cast<double>(i);
    const double d = samples[i] + t * (samples[i + 1] - samples[i]) - level;
    sum += d * d;
  }
  return std::sqrt(sum / std::max<double>(1, static_cast<double>(rendered.size())));
}

const struct {
  int symbology;
  std::string text;
} kSymbols[] = {{kCode39, "AB12CD34"}, {kInterleaved2of5, "20261205"}, {kCode128, "31415926"}};

TEST(TextSpans, ClassicReadingsPlaceEachCharacterWhereTheCardHasIt) {
  for (const auto& s : kSymbols)
    for (const bool reversedLine : {false, true}) {
      const Card card = Pull(s.symbology, s.text, 3.0, 0.3, 0, 0, 5);
      const Read read = Decode(card, s.symbology, 8, reversedLine);
      EXPECT_EQ(read.result.text, s.text);
      EXPECT_FALSE(read.result.bySecondDecoder) << s.text;
      EXPECT_TRUE(read.result.fitted.empty());
      ExpectSpansOnTheCard(card, read, s.symbology, reversedLine, 3.0, 1.5,
                           s.text + (reversedLine ? " reversed" : ""));
    }
}

TEST(TextSpans, TheSecondDecodersSymbolIsPlacedAndRenderedOverTheSamples) {
  // Blur 0.8 modules: the classic decoders see no symbol.
  for (const auto& s : kSymbols)
    for (const bool reversedLine : {false, true}) {
      const Card card = Pull(s.symbology, s.text, 3.0, 0.8, 0, 0, 7);
      const Read read = Decode(card, s.symbology, 8, reversedLine);
      const std::string what = s.text + (reversedLine ? " reversed" : "");
      EXPECT_TRUE(read.result.bySecondDecoder) << what << ": " << read.result.explanation;
      ExpectSpansOnTheCard(card, read, s.symbology, reversedLine, 3.0, 1.0, what);
      ASSERT_FALSE(read.result.fitted.empty()) << what;
      EXPECT_LT(Misfit(read.result.fitted, read.given), 6.0) << what;
      EXPECT_TRUE(std::is_sorted(read.result.fitted.begin(), read.result.fitted.end())) << what;
    }
}

TEST(TextSpans, ACardFollowedIsShownWhereItsSamplesLie) {
  // Speed from 0.88 to 1.12 along the symbol and the light fading by 30 %:
  // the second decoder reads resampled, levelled samples, and what it says
  // about where the symbol lies must undo both.
  const struct {
    int symbology;
    std::string text;
    int count;
  } cases[] = {
      {kCode39, "AB12CD34", 8}, {kInterleaved2of5, "20261205", 8}, {kCode128, "31415926", 4}};
  for (const auto& c : cases) {
    const Card card = Pull(c.symbology, c.text, 3.0, 0.35, 0.12, 0.3, 11);
    const auto verdict = synthesis::DecodeBySynthesis(card.samples, c.symbology, c.count);
    ASSERT_TRUE(verdict.accepted) << c.text << ": " << verdict.explanation;
    ASSERT_NE(verdict.explanation.find("followed the card"), std::string::npos) << c.text;
    // Every slot between the start and the stop, from its first bar to its
    // last: slot s holds text character s - 1 (Code 39), digits 2s - 2 and
    // 2s - 1 (Interleaved 2 of 5), or, after FNC1, digits 2s - 4 and 2s - 3.
    const int firstData = c.symbology == kCode128 ? 2 : 1;
    const int dataSlots = c.symbology == kInterleaved2of5 ? c.count / 2 : c.count;
    ASSERT_EQ(verdict.slotSpans.size(),
              static_cast<std::size_t>(dataSlots + (c.symbology == kCode128 ? 4 : 2)));
    for (int slot = firstData; slot < firstData + dataSlots; ++slot) {
      const std::size_t character = c.symbology == kCode39 ? static_cast<std::size_t>(slot - 1)
                                    : c.symbology == kCode128
                                        ? static_cast<std::size_t>(2 * slot - 4)
                                        : static_cast<std::size_t>(2 * slot - 2);
      const auto [from, to] = Elements(c.symbology, character);
      const auto& [first, last] = verdict.slotSpans[static_cast<std::size_t>(slot)];
      EXPECT_NEAR(first, SampleAt(card, card.edges[from]), 3.0) << c.text << " slot " << slot;
      EXPECT_NEAR(last, SampleAt(card, card.edges[to % 2 == 1 ? to : to + 1]), 3.0)
          << c.text << " slot " << slot;
    }
    // The rendered symbol, levelling undone, over the samples as they came.
    ASSERT_FALSE(verdict.rendered.empty());
    EXPECT_LT(Misfit(verdict.rendered, card.samples), 6.0) << c.text << ": " << verdict.explanation;
  }
}

}  // namespace
}  // namespace markwire::barcode
