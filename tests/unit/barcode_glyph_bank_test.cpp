// The glyph bank scores every glyph through its edges (each edge's sum with
// the residual, the products of a glyph's edges) and never renders a glyph
// for it: its squared errors must be those of the glyphs rendered one by
// one, as every other stage draws them, wherever the stretch of samples cuts
// a glyph, with and without ink spread.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "barcode/barcode_types.h"
#include "barcode/synthesis/lattice.h"

namespace markwire::barcode::synthesis::detail {
namespace {

struct Placement {
  double spm, sigma, spread, at, scale;
  double before, behind;  // the stretch, in modules against the glyph's start
};

TEST(GlyphBank, EveryGlyphScoresAsRenderedWhereverTheStretchCuts) {
  const Placement placements[] = {
      {3.0, 0.5, 0.0, 20.0, 1.0, -3.0, 16.0},     // the whole glyph and paper around it
      {1.5, 0.15, 0.0, 20.3, 1.0, -1.0, 14.0},    // sharp, few samples a module
      {4.5, 1.3, 0.0, 20.7, 1.0, -6.0, 20.0},     // blurred past the glyph's width
      {2.7, 0.8, 0.2, 21.1, 1.015, 2.5, 9.0},     // spread, stretched, cut at both sides
      {3.3, 0.6, -0.15, 19.9, 0.985, -2.0, 6.0},  // negative spread, cut in the middle
  };
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> noise(-120.0, 120.0);
  for (const int symbology : {kCode39, kInterleaved2of5, kCode128}) {
    const SymbolLayout layout(symbology, 8, symbology == kCode39 ? 2.2 : 2.5, 1.4);
    const Lattice lattice = BuildLattice(layout);
    for (const Placement& p : placements) {
      Frame frame;
      frame.k0 = 3.25;
      frame.spm = p.spm;
      frame.sigma = p.sigma;
      frame.spread = p.spread;
      const double contrast = -140.0;
      const long ks = static_cast<long>(std::floor(frame.K(p.at + p.before)));
      const long ke = static_cast<long>(std::ceil(frame.K(p.at + p.behind)));
      std::vector<double> r(static_cast<std::size_t>(ke - ks));
      for (double& v : r) v = noise(rng);
      double r2 = 0;
      for (const double v : r) r2 += v * v;
      GlyphBank bank, single;
      bank.Place(lattice, frame, ks, ke, p.at, p.scale);
      single.Place(lattice, frame, ks, ke, p.at, p.scale);
      std::vector<double> scores;
      bank.SseAll(r.data(), r2, contrast, scores);
      ASSERT_EQ(scores.size(), layout.Alphabet().size());
      for (std::size_t g = 0; g < scores.size(); ++g) {
        std::vector<double> t(r.size(), 0.0);
        AddBars(layout.Alphabet()[g].bars, p.at, frame, ks, ke, t, 1.0, p.scale);
        double expected = 0, size = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
          const double e = r[i] - contrast * t[i];
          expected += e * e;
          size += std::fabs(e);
        }
        // Beyond an edge's reach the bank reads paper or ink exactly, where
        // the renderer's far edge may still add a few 1e-6.
        const double tolerance = 1e-4 * std::fabs(contrast) * size + 1e-9 * r2;
        EXPECT_NEAR(scores[g], expected, tolerance)
            << "symbology " << symbology << ", glyph " << g << ", sigma " << p.sigma;
        EXPECT_NEAR(single.Sse(g, r.data(), r2, contrast), expected, tolerance)
            << "symbology " << symbology << ", glyph " << g << ", sigma " << p.sigma;
      }
    }
  }
}

TEST(GlyphBank, GlyphsDarkenOnlyWhereTheySay) {
  const SymbolLayout layout(kCode128, 4, 2.5, 1.0);
  const Lattice lattice = BuildLattice(layout);
  Frame frame;
  frame.spm = 3.0;
  frame.sigma = 0.4;
  GlyphBank bank;
  bank.Place(lattice, frame, 0, 90, 10.0, 1.0);
  for (std::size_t g = 0; g < layout.Alphabet().size(); ++g) {
    const double* t = bank.Glyph(g);
    ASSERT_LE(bank.First(g), bank.Last(g));
    // Nothing outside the samples it names...
    for (std::size_t i = 0; i < bank.Length(); ++i) {
      if (i < bank.First(g) || i >= bank.Last(g)) {
        ASSERT_EQ(t[i], 0.0) << g << " at " << i;
      }
    }
    // ... and everywhere its bars lie.
    const auto& bars = layout.Alphabet()[g].bars;
    EXPECT_LE(static_cast<double>(bank.First(g)), frame.K(10.0 + bars.front().first));
    EXPECT_GE(static_cast<double>(bank.Last(g)), frame.K(10.0 + bars.back().second));
  }
}

}  // namespace
}  // namespace markwire::barcode::synthesis::detail
