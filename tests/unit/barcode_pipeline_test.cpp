// The barcode stages between the received samples and the decoders: the
// edge cases of each stage, clean synthetic symbols end to end, and random
// curves that must pass through every stage without harm.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "barcode/pipeline/code128_reduction.h"
#include "barcode/pipeline/conditioning.h"
#include "barcode/pipeline/spline.h"
#include "barcode/pipeline/two_width_reduction.h"

namespace markwire::barcode {
namespace {

using V = std::vector<double>;

V Indices(std::size_t n) {
  V out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<double>(i);
  return out;
}

// Samples of a symbol on a bright background. `elements` lists the element
// widths bar first, one digit each (blanks only for reading), in units of
// `scale` samples.
V Render(std::string_view elements, int scale) {
  constexpr double kBright = 200.0, kDark = 30.0;
  V s(30, kBright);
  bool bar = true;
  for (char e : elements) {
    if (e == ' ') continue;
    s.insert(s.end(), static_cast<std::size_t>(scale * (e - '0')), bar ? kDark : kBright);
    bar = !bar;
  }
  s.insert(s.end(), 30, kBright);
  return s;
}

Waveform Curve(V samples, Positions& positions) {
  SmoothSamples(samples);
  TrimFlatEnds(samples);
  Waveform w;
  ResampleSpline(samples, w, 10);
  FindTurningPoints(w, positions);
  return w;
}

// Valley, peak, valley, ... from the first position to the last.
void ExpectBarsAndSpacesAlternate(const Waveform& w, const Positions& p) {
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    EXPECT_EQ(ValueAt(w, p[i + 1]) > ValueAt(w, p[i]), i % 2 == 0) << "at " << i;
  }
}

TEST(Conditioning, SmoothingFeedsItsOutputForwardAndTrimKeepsOneSampleOfEachFlatEnd) {
  V s{0, 0, 10, 0, 0};
  SmoothSamples(s);
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[0], 0.0);
  EXPECT_DOUBLE_EQ(s[1], 2.0);
  EXPECT_DOUBLE_EQ(s[2], 6.4);
  EXPECT_DOUBLE_EQ(s[3], 1.28);
  EXPECT_EQ(s[4], 0.0);

  const struct {
    V in, out;
  } cases[] = {
      {{100, 101, 99, 100, 40, 42, 100, 98, 101}, {100, 40, 42, 100}},
      {{100, 105, 50, 60, 95, 100}, {105, 50, 60, 95}},  // exactly 5.0 is still flat
      {{7, 8, 9, 10, 11, 12}, {12}},                     // all flat: the last sample
      {{0, 100, 100, 100}, {0, 100}},                    // no tail edge: the first two
      {{0, 100}, {0, 100}},
      {{42}, {42}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    V t = c.in;
    TrimFlatEnds(t);
    EXPECT_EQ(t, c.out);
  }
}

TEST(Spline, TwoSamplesGiveElevenPointsThroughBothEnds) {
  Waveform w;
  ResampleSpline(V{0, 10}, w, 10);
  ASSERT_EQ(w.size(), 11u);
  // The running sum is single precision, so the reflected -10 leaves its
  // rounding behind at the first point.
  const double sixth = 1.0 / 6;
  EXPECT_EQ(w[0], static_cast<float>(10 * sixth + static_cast<float>(-10 * sixth)));
  EXPECT_NEAR(w[0], 0.0, 1e-7);
  EXPECT_EQ(w[5], 5.0);
  EXPECT_EQ(w[10], 10.0);

  ResampleSpline(V{37, 37, 37}, w, 10);
  EXPECT_EQ(w, V(21, 37.0));

  ResampleSpline(V{5}, w, 10);
  EXPECT_TRUE(w.empty());
}

TEST(Spline, KnotsSmoothTheirNeighboursAndEveryPointIsSinglePrecision) {
  const V s{10, 50, 200, 90, 30, 255};
  Waveform w;
  ResampleSpline(s, w, 10);
  ASSERT_EQ(w.size(), 51u);
  EXPECT_FLOAT_EQ(static_cast<float>(w.front()), 10.0f);
  EXPECT_FLOAT_EQ(static_cast<float>(w.back()), 255.0f);
  for (std::size_t j = 1; j + 1 < s.size(); ++j) {
    EXPECT_FLOAT_EQ(static_cast<float>(w[10 * j]),
                    static_cast<float>((s[j - 1] + 4 * s[j] + s[j + 1]) / 6))
        << "knot " << j;
  }
  for (double v : w) EXPECT_EQ(static_cast<double>(static_cast<float>(v)), v);

  const std::vector<float> xs{0, 1, 2, 3};
  using I = std::pair<std::size_t, std::size_t>;
  EXPECT_EQ(FindKnotInterval(xs, 0.0f), I(0, 1));
  EXPECT_EQ(FindKnotInterval(xs, 0.9f), I(0, 1));
  EXPECT_EQ(FindKnotInterval(xs, 1.0f), I(1, 2));
  EXPECT_EQ(FindKnotInterval(xs, 3.0f), I(2, 3));  // the last knot: the last interval
  EXPECT_EQ(FindKnotInterval(xs, std::nanf("")), I(2, 3));
}

TEST(TurningPoints, PlateausByTheirLastPointAndFramedByBothEnds) {
  const struct {
    V curve, positions;
  } cases[] = {
      {{0, 1, 2, 2, 2, 1, 0}, {0, 4, 6}},  // rise, flat top, fall
      {{0, 1, 2, 3}, {0, 3}},
      {{5, 5, 5}, {0, 2}},
      {{3, 3, 1, 2}, {0, 2, 3}},
      {{5, 3, 3, 4, 2}, {0, 2, 3, 4}},
      {{1}, {0}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    Positions p{99};
    FindTurningPoints(c.curve, p);
    EXPECT_EQ(p, c.positions);
  }
}

TEST(BarFrame, MinimaLimitsAndTheBigSwingThreshold) {
  EXPECT_EQ(FrameMinimum(kCode39, 1), 29);
  EXPECT_EQ(ElementLimit(kCode39, 1), 29);
  EXPECT_EQ(FrameMinimum(kInterleaved2of5, 5), 32);
  EXPECT_EQ(ElementLimit(kInterleaved2of5, 5), 37);
  EXPECT_EQ(ElementLimit(kInterleaved2of5, 6), 37);
  EXPECT_EQ(FrameMinimum(kCode128, 4), 4);
  EXPECT_EQ(FrameMinimum(kCode39, INT_MAX), 10L * INT_MAX + 19);
  EXPECT_EQ(FrameMinimum(kCode39, -1), LONG_MAX);
  EXPECT_EQ(ElementLimit(kInterleaved2of5, -3), LONG_MAX);

  V w(28, 100.0);
  Positions p = Indices(28);
  EXPECT_FALSE(ReduceToBarFrame(w, p, 1, kCode39));
  EXPECT_EQ(p.size(), 28u);

  // Symbology 0 takes the count itself as its minimum, which keeps the
  // lists short; values stand at positions 0, 1, 2, ...
  const struct {
    V values;
    int count;
    bool framed;
    Positions kept;
  } cases[] = {
      {{200, 20, 35, 20, 200, 20, 200}, 3, true, {3, 4, 5}},  // a rise of 15.0 is small
      {{200, 20, 35.5, 20, 200, 20, 200}, 3, true, {1, 2, 3, 4, 5}},
      {{20, 200, 210, 20, 200, 20, 200, 220}, 3, true, {3, 4, 5}},  // peak in front dropped
      {{20, 200, 210, 20, 200, 20, 200, 220}, 4, false, {3, 4, 5}},
      {{200, 20, 200, 20, 210, 200}, 3, true, {1, 2, 3}},  // peak behind dropped
      {{200, 190, 200}, 0, false, {0, 1, 2}},              // no big swing at all
  };
  for (const auto& c : cases) {
    Positions q = Indices(c.values.size());
    EXPECT_EQ(ReduceToBarFrame(c.values, q, c.count, 0), c.framed);
    EXPECT_EQ(q, c.kept);
  }
}

TEST(MergeSmallSwings, PassSurgeryAndRisingTolerance) {
  V w(40, 0.0);
  w[10] = 50, w[20] = 200, w[22] = 198, w[30] = 60;
  Positions p{10, 20, 22, 30};
  MergeSmallSwings(w, p, 3);
  EXPECT_EQ(p, (Positions{10, 21, 30}));

  // Values stand at positions 0, 1, 2, ...
  const struct {
    V values;
    std::size_t limit;
    Positions merged;
  } cases[] = {
      {{50, 200, 199, 60, 61, 200}, 5, {0, 1.5, 3, 4, 5}},  // 3 is passed over, 4 to 5 stays
      {{100, 101, 102, 200, 20, 200}, 5, {1, 2, 3, 4, 5}},  // a run keeps its end
      {{20, 200, 201, 202}, 2, {0, 2}},                     // a run up to the last position
      {{20, 200, 203, 20}, 3, {0, 1.5, 3}},                 // exactly the tolerance is small
      {{20, 200, 190, 200, 20}, 3, {0, 2.5, 4}},            // two more passes, at 10
      {{20, 200, 190, 200, 20}, 5, {0, 1, 2, 3, 4}},        // within the limit: untouched
      {{0, 600, 0}, 1, {1}},                                // swings beyond 255 merge too
      {{NAN, NAN, NAN}, 1, {0, 1, 2}},                      // nothing can merge
  };
  for (const auto& c : cases) {
    Positions q = Indices(c.values.size());
    MergeSmallSwings(c.values, q, c.limit);
    EXPECT_EQ(q, c.merged);
  }

  EXPECT_EQ(SmallestSwing(V{0, 300, 0}, Positions{0, 1, 2}, 4), 255.0);
  EXPECT_EQ(SmallestSwing(V{0, 300, 0}, Positions{0, 1, 2}, 280), 280.0);
  EXPECT_EQ(SmallestSwing(V{0, 30, 40}, Positions{0, 1, 2}, 4), 10.0);
}

TEST(Code128Reduction, SelectionMatchesSortedOrder) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    V values(1 + rng() % 60);
    for (double& v : values) v = static_cast<double>(rng() % (round % 3 ? 256 : 4));
    V sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t k = rng() % values.size();
    EXPECT_EQ(SelectKth(values, k), sorted[k]);
  }
}

TEST(Code128Reduction, TrimQuietZonesByTheBrightestBar) {
  EXPECT_EQ(Code128Positions(5), 55);
  EXPECT_EQ(Code128Positions(-1), LONG_MAX);
  // Quiet values, then 28 bars (the brightest at 30, so the threshold is 50)
  // and 27 spaces, then quiet values: count 5.
  const auto list = [](const V& head, int bars, const V& tail) {
    V w = head;
    for (int i = 0; i < 2 * bars - 1; ++i) w.push_back(i % 2 ? 200.0 : 10.0 + i % 21);
    w.insert(w.end(), tail.begin(), tail.end());
    return w;
  };
  const struct {
    V head;
    int bars;
    V tail;
    std::size_t dropFront, dropBack;
  } cases[] = {
      {{250}, 28, {250}, 1, 1},
      {{50}, 28, {50.5}, 0, 1},  // 20.0 above the bar level stays
      {{240, 230}, 28, {}, 2, 0},
      {{250, 250}, 26, {250}, 0, 0},  // 54 positions: too short to act on
  };
  for (const auto& c : cases) {
    const V w = list(c.head, c.bars, c.tail);
    Positions p = Indices(w.size());
    TrimQuietZones(w, p, 5);
    ASSERT_EQ(p.size(), w.size() - c.dropFront - c.dropBack);
    EXPECT_EQ(p.front(), static_cast<double>(c.dropFront));
  }
}

TEST(Code128Reduction, CentreExtremaMovesToTheRunCentre) {
  V w(60, 200.0);
  w[10] = 210;  // a sharp peak, 10 above its neighbours: the tolerance is 9.5
  w[38] = 150, w[39] = 100, w[47] = 100, w[48] = 150;
  const double bottom[] = {22, 21, 20, 21, 22, 21, 20};
  std::copy(std::begin(bottom), std::end(bottom), w.begin() + 40);
  const struct {
    Positions in, out;
  } cases[] = {
      {{10, 20, 46, 55}, {10, 24, 43, 54}},
      {{10, 20, 41, 46, 55}, {10, 24, 43, 54}},  // 46 lies in the run of 41
  };
  for (const auto& c : cases) {
    Positions p = c.in;
    CentreExtrema(w, p, 0);
    EXPECT_EQ(p, c.out);
  }

  // Swings all within 3.0 (two of exactly 3.0): one run spans the curve, even
  // a point 5e9 away.
  V flat(30, 100.0);
  flat[3] = 102, flat[12] = 103, flat[25] = 5e9;
  for (const auto& [first, centre] : {std::pair{5.0, 15.0}, std::pair{0.0, 14.5}}) {
    Positions p{first, 12, 20};
    CentreExtrema(flat, p, 0);
    EXPECT_EQ(p, Positions{centre});
  }
}

TEST(Code128Reduction, CutDropsTheEndWithTheSmallerSignedSwing) {
  // Positions on even points with a far-off point between them, so that
  // every position is sharp and stays; 26 positions, count 0: one cut.
  const struct {
    double v0, v1, v24, v25;
    bool firstGoes;
  } cases[] = {
      {20, 200, 200, 20, true},  // a tie
      {20, 200, 20, 200, false}, {20, 200, 100, 20, false},
      {100, 110, 200, 20, true}, {200, 20, 200, 100, true},  // signed: -180 against 100
  };
  for (const auto& c : cases) {
    V w(52, 1000.0);
    for (std::size_t i = 0; i < 26; ++i) w[2 * i] = 100;
    w[0] = c.v0, w[2] = c.v1, w[48] = c.v24, w[50] = c.v25;
    Positions p(26);
    for (std::size_t i = 0; i < 26; ++i) p[i] = 2.0 * i;
    CentreExtrema(w, p, 0);
    ASSERT_EQ(p.size(), 25u);
    EXPECT_EQ(p.front(), c.firstGoes ? 2.0 : 0.0);
  }
}

TEST(EndToEnd, Code39StartDataStopGivesOnePositionPerElement) {
  // "*A*" at 3 samples per narrow and 8 per wide element (scale 1): start,
  // gap, A, gap, stop.
  Positions p;
  const Waveform w = Curve(Render("383 383 833 3 833 338 338 3 383 383 833", 1), p);
  ASSERT_TRUE(ReduceToBarFrame(w, p, 1, kCode39));
  MergeSmallSwings(w, p, static_cast<std::size_t>(ElementLimit(kCode39, 1)));
  ASSERT_EQ(p.size(), 29u);
  ExpectBarsAndSpacesAlternate(w, p);
}

TEST(EndToEnd, Code128CentresGiveTheSumsOfNeighbouringWidths) {
  // Start C, FNC1, 12, 34, check 24, stop, at 3 samples per module.
  const std::string modules = "2112324111311122321311233112222331112";
  Positions p;
  const Waveform w = Curve(Render(modules, 3), p);
  TrimQuietZones(w, p, 2);
  CentreExtrema(w, p, 2);
  ASSERT_EQ(p.size(), 37u);
  ExpectBarsAndSpacesAlternate(w, p);
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    const double sum = (modules[i] - '0') + (modules[i + 1] - '0');
    EXPECT_NEAR(2 * (p[i + 1] - p[i]) / 30, sum, 0.25) << "at " << i;
  }
}

TEST(Robustness, RandomCurvesPassEveryStage) {
  std::mt19937 rng(1234);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
  for (int round = 0; round < 300; ++round) {
    // Noise, a flat level, black, white, spikes on a level, random bars.
    V s(static_cast<std::size_t>(pick(0, 600)));
    const int kind = round % 6;
    double level = kind == 2 ? 0 : kind == 3 ? 255 : pick(0, 255);
    for (double& v : s) {
      if (kind == 5 && pick(0, 6) == 0) level = pick(0, 255);
      v = kind == 0 ? pick(0, 255) : kind == 4 && pick(0, 30) == 0 ? 255 - level : level;
    }
    Positions turns;
    const Waveform w = Curve(s, turns);
    if (!turns.empty()) {
      ASSERT_EQ(turns.front(), 0.0);
    }
    for (std::size_t i = 0; i + 1 < turns.size(); ++i) ASSERT_LT(turns[i], turns[i + 1]);
    if (!w.empty()) {
      ASSERT_EQ(turns.back(), static_cast<double>(w.size() - 1));
    }

    const int counts[] = {pick(-3, 40), pick(0, 3), INT_MAX, INT_MIN};
    const double last = w.empty() ? 0.0 : static_cast<double>(w.size() - 1);
    const auto onCurve = [&](const Positions& p) {
      return std::all_of(p.begin(), p.end(), [&](double x) { return x >= 0 && x <= last; });
    };
    for (int count : counts) {
      for (int symbology : {int{kCode39}, int{kInterleaved2of5}, 0}) {
        Positions p = turns;
        if (ReduceToBarFrame(w, p, count, symbology)) {
          EXPECT_GE(static_cast<long>(p.size()), FrameMinimum(symbology, count));
        }
        const auto limit = static_cast<std::size_t>(ElementLimit(symbology, count));
        const std::size_t before = p.size();
        MergeSmallSwings(w, p, limit);
        EXPECT_LE(p.size(), before > limit ? std::max<std::size_t>(limit, 1) : before);
        EXPECT_TRUE(onCurve(p));
      }
      Positions p = turns;
      TrimQuietZones(w, p, count);
      CentreExtrema(w, p, count);
      EXPECT_LE(p.size(), std::min<std::size_t>(turns.size(),
                                                static_cast<std::size_t>(Code128Positions(count))));
      EXPECT_TRUE(onCurve(p));
    }
  }
}

TEST(Robustness, PositionsAndValuesOffTheCurveAreSurvived) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    V curve;
    Positions positions;
  } cases[] = {
      {{}, {0, 5, -3, NAN}},
      {{NAN, 1, NAN, inf, -inf, 3}, Indices(6)},
      {{0, 1e300, 0, -1e300, 0}, Indices(5)},
      {{0, 200, 0, 200}, {-1e300, NAN, 1e300, inf, -inf, 2}},
      {V(40, NAN), Indices(40)},
      {V(40, 7.0), Positions(40, -inf)},
  };
  for (const auto& c : cases) {
    for (int count : {-1, 0, 1}) {
      for (int symbology : {int{kCode39}, int{kInterleaved2of5}, 0}) {
        Positions p = c.positions;
        ReduceToBarFrame(c.curve, p, count, symbology);
        EXPECT_LE(p.size(), c.positions.size());
        for (std::size_t limit : {0, 1, 2}) {
          Positions q = c.positions;
          MergeSmallSwings(c.curve, q, limit);
          EXPECT_LE(q.size(), c.positions.size());
        }
      }
      Positions p = c.positions;
      TrimQuietZones(c.curve, p, count);
      CentreExtrema(c.curve, p, count);
      EXPECT_LE(p.size(), c.positions.size());
    }
  }
}

}  // namespace
}  // namespace markwire::barcode
