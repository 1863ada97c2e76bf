// The barcode stages before the decoders: worked examples, clean symbols, bad curves.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "barcode/pipeline/code128_reduction.h"
#include "barcode/pipeline/conditioning.h"
#include "barcode/pipeline/spline.h"
#include "barcode/pipeline/two_width_reduction.h"

namespace markwire::barcode {
namespace {

using V = std::vector<double>;

// Bars (30) and spaces (200) of widths in `scale` samples between quiet zones.
V Render(const std::string& elements, int scale) {
  V s(30, 200.0);
  bool bar = true;
  for (char e : elements) {
    if (e == ' ') continue;
    s.insert(s.end(), static_cast<std::size_t>(scale * (e - '0')), bar ? 30.0 : 200.0);
    bar = !bar;
  }
  s.insert(s.end(), 30, 200.0);
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

TEST(Curve, SmoothingTrimmingSplineAndTurningPoints) {
  V s{0, 0, 10, 0, 0};  // the filter feeds its output forward
  SmoothSamples(s);
  const V smoothed{0, 2, 6.4, 1.28, 0};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(s[i], smoothed[i]);
  const auto trimmed = [](V v) {
    TrimFlatEnds(v);
    return v;
  };
  EXPECT_EQ(trimmed({100, 101, 99, 100, 40, 42, 100, 98, 101}), (V{100, 40, 42, 100}));
  EXPECT_EQ(trimmed({100, 105, 50, 60, 95, 100}), (V{105, 50, 60, 95}));  // 5.0 is still flat
  EXPECT_EQ(trimmed({7, 8, 9, 10, 11, 12}), V{12});     // all flat: the last sample
  EXPECT_EQ(trimmed({0, 100, 100, 100}), (V{0, 100}));  // no tail edge: the first two

  Waveform w;
  ResampleSpline(V{0, 10}, w, 10);
  ASSERT_EQ(w.size(), 11u);
  // A single-precision running sum: the reflected -10 leaves its rounding at 0.
  const double sixth = 1.0 / 6;
  EXPECT_EQ(w[0], static_cast<float>(10 * sixth + static_cast<float>(-10 * sixth)));
  EXPECT_EQ(w[5], 5.0);
  EXPECT_EQ(w[10], 10.0);
  ResampleSpline(V{10, 50, 200, 90}, w, 10);  // at a knot: (10 + 4 x 50 + 200) / 6
  EXPECT_FLOAT_EQ(static_cast<float>(w[10]), 410.0f / 6);

  const auto turns = [](const V& curve) {
    Positions p{99};
    FindTurningPoints(curve, p);
    return p;
  };
  EXPECT_EQ(turns({0, 1, 2, 2, 2, 1, 0}), (Positions{0, 4, 6}));  // a plateau by its last point
  EXPECT_EQ(turns({3, 3, 1, 2}), (Positions{0, 2, 3}));
  EXPECT_EQ(turns({5, 3, 3, 4, 2}), (Positions{0, 2, 3, 4}));
  EXPECT_EQ(turns({5, 5, 5}), (Positions{0, 2}));
}

TEST(TwoWidthReduction, BarFrameAndMergingOfSmallSwings) {
  EXPECT_EQ(FrameMinimum(kInterleaved2of5, 5), 32);
  EXPECT_EQ(ElementLimit(kInterleaved2of5, 5), 37);
  EXPECT_EQ(FrameMinimum(kCode39, -1), LONG_MAX);

  // Values at positions 0, 1, 2, ...; symbology 0 takes the count as minimum.
  using Framed = std::pair<bool, Positions>;
  const auto frame = [](const V& values, int count, int symbology = 0) {
    Positions q(values.size());
    std::iota(q.begin(), q.end(), 0.0);
    const bool framed = ReduceToBarFrame(values, q, count, symbology);
    return Framed(framed, q);
  };
  EXPECT_FALSE(frame(V(28, 100.0), 1, kCode39).first);
  EXPECT_FALSE(frame({7}, 0).first);  // no swing to frame by
  EXPECT_EQ(frame({200, 20, 35, 20, 200, 20, 200}, 3), Framed(true, {3, 4, 5}));  // 15.0 is small
  EXPECT_EQ(frame({200, 20, 35.5, 20, 200, 20, 200}, 3), Framed(true, {1, 2, 3, 4, 5}));
  EXPECT_EQ(frame({20, 200, 210, 20, 200, 20, 200, 220}, 3), Framed(true, {3, 4, 5}));  // peaks
  EXPECT_EQ(frame({20, 200, 210, 20, 200, 20, 200, 220}, 4), Framed(false, {3, 4, 5}));
  EXPECT_EQ(frame({210, 200, 20, 200, 20, 200, 20, 30}, 6), Framed(false, {2, 3, 4, 5, 6}));
  EXPECT_EQ(frame({200, 20, 200, 20, 210, 200}, 3), Framed(true, {1, 2, 3}));

  V w(40, 0.0);
  w[10] = 50, w[20] = 200, w[22] = 198, w[30] = 60;
  Positions p{10, 20, 22, 30};
  MergeSmallSwings(w, p, 3);
  EXPECT_EQ(p, (Positions{10, 21, 30}));
  const auto merged = [](const V& values, std::size_t limit) {
    Positions q(values.size());
    std::iota(q.begin(), q.end(), 0.0);
    MergeSmallSwings(values, q, limit);
    return q;
  };
  EXPECT_EQ(merged({50, 200, 199, 60, 61, 200}, 5), (Positions{0, 1.5, 3, 4, 5}));  // 3 passed over
  EXPECT_EQ(merged({100, 101, 102, 200, 20, 200}, 5), (Positions{1, 2, 3, 4, 5}));  // run: its end
  EXPECT_EQ(merged({20, 200, 201, 202}, 2), (Positions{0, 2}));           // a run up to the last
  EXPECT_EQ(merged({20, 200, 203, 20}, 3), (Positions{0, 1.5, 3}));       // 3.0 is small
  EXPECT_EQ(merged({20, 200, 190, 200, 20}, 3), (Positions{0, 2.5, 4}));  // two passes more
  EXPECT_EQ(merged({0, 600, 0}, 1), Positions{1});  // swings beyond 255 merge too
  EXPECT_EQ(SmallestSwing(V{0, 300, 0}, Positions{0, 1, 2}, 4), 255.0);
}

TEST(Code128Reduction, SelectionQuietZonesCentresAndTheCut) {
  std::mt19937 rng(7);
  for (std::size_t round = 0; round < 100; ++round) {
    V values(1 + rng() % 60);
    for (double& v : values) v = static_cast<double>(rng() % (round % 3 ? 256 : 4));
    V sorted = values;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(SelectKth(values, round % values.size()), sorted[round % values.size()]);
  }

  // Quiet values, bars (28 for count 5; the brightest at 30, so the threshold
  // is 50) and spaces, quiet values; 54 positions are too few to act on.
  const auto trimmed = [](const V& head, int bars, const V& tail) {
    V w = head;
    for (int i = 0; i < 2 * bars - 1; ++i) w.push_back(i % 2 ? 200.0 : 10.0 + i % 21);
    w.insert(w.end(), tail.begin(), tail.end());
    Positions p(w.size());
    std::iota(p.begin(), p.end(), 0.0);
    TrimQuietZones(w, p, 5);
    return std::pair(w.size() - p.size(), p.front());
  };
  EXPECT_EQ(trimmed({250}, 28, {250}), std::pair(2ul, 1.0));
  EXPECT_EQ(trimmed({50}, 28, {50.5}), std::pair(1ul, 0.0));  // 20.0 above the bars stays
  EXPECT_EQ(trimmed({250, 250}, 26, {250}), std::pair(0ul, 0.0));

  V w(60, 200.0);
  w[10] = 210;  // a sharp peak, 10 above its neighbours: the tolerance is 9.5
  w[38] = 150, w[39] = 100, w[47] = 100, w[48] = 150;
  const double bottom[] = {22, 21, 20, 21, 22, 21, 20};
  std::copy(std::begin(bottom), std::end(bottom), w.begin() + 40);
  V flat(30, 100.0);  // swings all within 3.0, two of exactly 3.0: one run, even past 5e9
  flat[3] = 102, flat[12] = 103, flat[25] = 5e9;
  const auto centred = [](const V& curve, Positions p) {
    CentreExtrema(curve, p, 0);
    return p;
  };
  EXPECT_EQ(centred(w, {10, 20, 46, 55}), (Positions{10, 24, 43, 54}));
  EXPECT_EQ(centred(w, {10, 20, 41, 46, 55}), (Positions{10, 24, 43, 54}));  // 46 in 41's run
  EXPECT_EQ(centred(flat, {5, 12, 20}), Positions{15});
  EXPECT_EQ(centred(flat, {0, 12, 20}), Positions{14.5});  // point 0 is never taken

  // 26 sharp positions (far-off points between them), count 0: one cut, from
  // the end with the smaller signed swing, the front on a tie. The position
  // left first: 2 when the front went.
  const auto cut = [](double v0, double v1, double v24, double v25) {
    V c(52, 1000.0);
    Positions p(26);
    for (std::size_t i = 0; i < 26; ++i) c[2 * i] = 100, p[i] = 2.0 * static_cast<double>(i);
    c[0] = v0, c[2] = v1, c[48] = v24, c[50] = v25;
    CentreExtrema(c, p, 0);
    return p.size() == 25 ? p.front() : -1.0;
  };
  EXPECT_EQ(cut(20, 200, 200, 20), 2.0);  // a tie
  EXPECT_EQ(cut(20, 200, 20, 200), 0.0);
  EXPECT_EQ(cut(20, 200, 100, 20), 0.0);
  EXPECT_EQ(cut(100, 110, 200, 20), 2.0);
  EXPECT_EQ(cut(200, 20, 200, 100), 2.0);  // -180 against 100
}

TEST(EndToEnd, CleanSymbolsGiveOnePositionPerElement) {
  const auto alternate = [](const Waveform& w, const Positions& p) {  // valley, peak, valley, ...
    for (std::size_t i = 0; i + 1 < p.size(); ++i)
      EXPECT_EQ(ValueAt(w, p[i + 1]) > ValueAt(w, p[i]), i % 2 == 0) << "at " << i;
  };
  // "*A*", narrow 3 and wide 8 samples: start, gap, A, gap, stop.
  Positions p;
  Waveform w = Curve(Render("383 383 833 3 833 338 338 3 383 383 833", 1), p);
  ASSERT_TRUE(ReduceToBarFrame(w, p, 1, kCode39));
  MergeSmallSwings(w, p, static_cast<std::size_t>(ElementLimit(kCode39, 1)));
  ASSERT_EQ(p.size(), 29u);
  alternate(w, p);

  // Start C, FNC1, 12, 34, check 24, stop at 3 samples a module: the centres
  // give the sums of neighbouring widths.
  const std::string modules = "2112324111311122321311233112222331112";
  w = Curve(Render(modules, 3), p);
  TrimQuietZones(w, p, 2);
  CentreExtrema(w, p, 2);
  ASSERT_EQ(p.size(), 37u);
  alternate(w, p);
  for (std::size_t i = 0; i + 1 < p.size(); ++i)
    EXPECT_NEAR(2 * (p[i + 1] - p[i]) / 30, (modules[i] - '0') + (modules[i + 1] - '0'), 0.25);
}

TEST(Robustness, RandomAndBrokenCurvesPassEveryStage) {
  std::mt19937 rng(1234);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
  for (int round = 0; round < 200; ++round) {
    // Noise or changing levels; every fourth curve with odd values and positions.
    V s(static_cast<std::size_t>(pick(0, 600)));
    double level = pick(0, 255);
    for (double& v : s) v = round % 3 ? (pick(0, 6) ? level : level = pick(0, 255)) : pick(0, 255);
    Positions turns;
    Waveform w = Curve(s, turns);
    const bool odd = round % 4 == 0;
    for (std::size_t i = 0; odd && i < w.size(); i += 7)
      w[i] = std::array{std::nan(""), HUGE_VAL, -1e300}[i % 3];
    if (odd) turns.insert(turns.end(), {-1e300, std::nan(""), 1e300, 2});
    for (int count : {pick(-3, 40), INT_MAX, INT_MIN}) {
      for (int symbology : {int{kCode39}, int{kInterleaved2of5}, 0}) {
        Positions p = turns;
        ReduceToBarFrame(w, p, count, symbology);
        const auto limit = static_cast<std::size_t>(ElementLimit(symbology, count));
        const std::size_t before = p.size();
        MergeSmallSwings(w, p, limit);
        EXPECT_LE(p.size(), before > limit && !odd ? std::max<std::size_t>(limit, 1) : before);
      }
      Positions p = turns;
      TrimQuietZones(w, p, count);
      CentreExtrema(w, p, count);
      EXPECT_LE(p.size(),
                std::min(turns.size(), static_cast<std::size_t>(Code128Positions(count))));
      for (double x : p) EXPECT_TRUE(odd || (x >= 0 && x + 1 <= static_cast<double>(w.size())));
    }
  }
}

}  // namespace
}  // namespace markwire::barcode
