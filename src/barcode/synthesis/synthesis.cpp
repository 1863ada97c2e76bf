#include "barcode/synthesis/synthesis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "barcode/synthesis/glyphs.h"

namespace markwire::barcode::synthesis {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Limits that keep the search bounded on any input.
constexpr std::size_t kBeamWidth = 16;
constexpr double kMaxDrift = 1.2;      // modules the symbol may wander from its straight frame
constexpr double kDriftStep = 0.2;         // modules a character may move against the one before
constexpr std::size_t kDriftedGlyphs = 6;  // per parent, the best straight ones are tried drifted
constexpr double kMinContrast = 12.0;  // gray values between paper and bar, at least
constexpr double kMinModuleSamples = 0.8;
constexpr double kMinGap = 0.5;  // Code 39 character gaps tried, in modules
constexpr double kMaxGap = 6.0;

using Bar = std::pair<double, double>;

// The standard normal distribution function from a table, linear between
// points 1/64 apart: the search evaluates it millions of times.
class NormalCdf {
 public:
  NormalCdf() {
    for (std::size_t i = 0; i < table_.size(); ++i)
      table_[i] = 0.5 * std::erfc(-(kLow + static_cast<double>(i) / kPerUnit) / std::sqrt(2.0));
  }
  double operator()(double z) const {
    if (!(z > kLow)) return 0.0;  // NaN too
    if (z >= -kLow) return 1.0;
    const double x = (z - kLow) * kPerUnit;
    const auto i = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(i);
    return table_[i] + f * (table_[i + 1] - table_[i]);
  }

 private:
  static constexpr double kLow = -8.0;
  static constexpr double kPerUnit = 64.0;
  std::array<double, 16 * 64 + 2> table_{};
};

const NormalCdf& Phi() {
  static const NormalCdf cdf;
  return cdf;
}

long ClampIndex(double x, long lo, long hi) {
  if (!(x > static_cast<double>(lo))) return lo;  // NaN too
  if (x >= static_cast<double>(hi)) return hi;
  return static_cast<long>(x);
}

// Where the symbol lies in the samples: sample k sees module (k - k0) / spm
// from the start of the first bar; the spot has a Gaussian profile of sigma
// modules; paper reads `space`, full ink space + contrast (contrast < 0).
struct Frame {
  double k0 = 0;
  double spm = 1;
  double sigma = 0.5;
  double space = 0;
  double contrast = -1;
  // Ink spread: every bar prints this many modules wider, its neighbouring
  // spaces as much narrower.
  double spread = 0;
  double U(double k) const { return (k - k0) / spm; }
  double K(double u) const { return k0 + u * spm; }
};

// Adds the darkness (0 paper, 1 ink) of `bars` placed at module `at` to
// out[k - ks] for the samples k in [ks, ke).
void AddBars(std::span<const Bar> bars, double at, const Frame& f, long ks, long ke,
             std::span<double> out, double sign = 1.0, double scale = 1.0) {
  const NormalCdf& phi = Phi();
  // Beyond 4.5 sigma an edge moves a sample by less than 1e-5 of the
  // contrast: outside a bar it adds nothing, well inside it full ink.
  const double reach = 4.5 * f.sigma + 0.25;
  const double inv = 1 / f.sigma;
  for (const auto& [left, right] : bars) {
    const double a = left * scale + at - f.spread / 2;
    const double b = right * scale + at + f.spread / 2;
    const long from = ClampIndex(std::floor(f.K(a - reach)), ks, ke);
    const long to = ClampIndex(std::ceil(f.K(b + reach)) + 1, ks, ke);
    const long innerFrom = ClampIndex(std::ceil(f.K(a + reach)), from, to);
    const long innerTo = ClampIndex(std::floor(f.K(b - reach)), innerFrom, to);
    for (long k = from; k < to; ++k) {
      if (k >= innerFrom && k < innerTo) {
        out[static_cast<std::size_t>(k - ks)] += sign;
        continue;
      }
      const double u = f.U(static_cast<double>(k));
      out[static_cast<std::size_t>(k - ks)] += sign * (phi((u - a) * inv) - phi((u - b) * inv));
    }
  }
}

// Paper and ink levels that fit samples y to darkness d best (least squares),
// and the squared error left. Ink lighter than paper is no fit at all.
struct LevelFit {
  double sse = kInf;
  double space = 0;
  double contrast = 0;
};

LevelFit FitLevels(std::span<const double> y, std::span<const double> d) {
  LevelFit fit;
  const std::size_t n = std::min(y.size(), d.size());
  if (n < 3) return fit;
  double my = 0, md = 0;
  for (std::size_t i = 0; i < n; ++i) {
    my += y[i];
    md += d[i];
  }
  my /= static_cast<double>(n);
  md /= static_cast<double>(n);
  double sdd = 0, sdy = 0, syy = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sdd += (d[i] - md) * (d[i] - md);
    sdy += (d[i] - md) * (y[i] - my);
    syy += (y[i] - my) * (y[i] - my);
  }
  if (sdd < 1e-9 || sdy >= 0) return fit;
  fit.contrast = sdy / sdd;
  fit.space = my - fit.contrast * md;
  fit.sse = std::max(0.0, syy - fit.contrast * sdy);
  return fit;
}

// One end of the symbol: the start glyph at the left with paper before it,
// or the stop glyph at the right with paper behind it.
struct EndFit {
  double at = 0;  // sample index of the glyph's start
  double sigma = 0.5;
  double wide = 2.5;
  double scale = 1.0;  // the glyph's own against the symbol's
  LevelFit levels;
  double perSample = kInf;  // sse per sample
};


// The edges of every data glyph of a layout, shared: the darkness of all
// glyphs over a stretch of samples then costs one distribution-function value
// per edge and sample, not per glyph.
struct Lattice {
  std::vector<double> edges;
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> bars;  // per glyph
};

Lattice BuildLattice(const SymbolLayout& layout) {
  Lattice lattice;
  for (const Glyph& glyph : layout.Alphabet())
    for (const auto& [a, b] : glyph.bars) lattice.edges.insert(lattice.edges.end(), {a, b});
  std::sort(lattice.edges.begin(), lattice.edges.end());
  lattice.edges.erase(std::unique(lattice.edges.begin(), lattice.edges.end(),
                                  [](double a, double b) { return std::fabs(a - b) < 1e-9; }),
                      lattice.edges.end());
  const auto index = [&](double x) {
    return static_cast<std::size_t>(
        std::lower_bound(lattice.edges.begin(), lattice.edges.end(), x - 1e-9) -
        lattice.edges.begin());
  };
  for (const Glyph& glyph : layout.Alphabet()) {
    auto& bars = lattice.bars.emplace_back();
    for (const auto& [a, b] : glyph.bars) bars.emplace_back(index(a), index(b));
  }
  return lattice;
}

class Synthesis {
 public:
  Synthesis(std::span<const double> samples, int symbology, int count)
      : samples_(samples.begin(), samples.end()), symbology_(symbology), count_(count) {}

  // Finds the frame. False when there is no symbol-like structure at all.
  bool Frame(bool reversed);
  double EndScore() const { return endScore_; }

  // Beam search; `forced`: the only data allowed (the guard), else all.
  bool Search(std::span<const int> forced);
  // Fits scale, start, blur and wide ratio again to the whole best symbol
  // of the search (for another search). With keepDrift the characters stay
  // where they drifted (for another polish), else they stand straight.
  // False when there is no symbol.
  bool Refit(bool keepDrift);
  // Moves the best symbol's characters, each end a little at a time, to
  // where they explain the samples best: the search's drift steps are coarse.
  // True when the symbol then explains the samples down to about the
  // paper's noise.
  bool Polish();
  // The same for any symbol: its data and where its characters end (moved
  // in place); the squared error left over samples [ks, ke).
  double PolishEnds(std::span<const int> data, std::vector<double>& ends, long ks, long ke) const;
  std::vector<double> EndsOf(int nodeIndex) const;
  // The paper's noise variance in the quiet zones, -1 when there are none.
  double QuietVariance() const;
  bool Clean(double variance, double quiet) const;
  // Tests the best symbol of the search; confirming: a classic decoder's.
  Verdict Judge(bool confirming) const;

 private:
  struct Node {
    int parent = -1;
    int slot = 0;
    int glyph = -1;  // data slots: the alphabet index
    double offset = 0;  // where the character ends against its straight place
    double at = 0;      // where it starts, in modules
    double scale = 1;   // its width against the nominal one
    long scoredTo = 0;
    double sse = 0;
    int sum = 0;  // Code 128: the check sum so far
  };

  const Glyph& GlyphOf(const Node& node) const;
  std::vector<Bar> PlacedBars(int nodeIndex, int slots) const;
  double SlotReachEnd(int slot, double offset) const;
  EndFit FitEnd(bool left, const EndFit& from, double spm, bool coarse) const;
  // The darkness of every data glyph placed at `at` over samples [ks, ke):
  // glyph g's at all[g * (ke - ks) + i].
  void AllGlyphs(long ks, long ke, double at, double scale, std::vector<double>& all,
                 std::vector<double>& edge) const;
  std::pair<long, long> Reach(int slot, double at, long ks, long ke) const;
  double Score(const Node& n) const { return n.sse - static_cast<double>(n.scoredTo) * noise_; }
  std::vector<int> DataOf(int nodeIndex) const;

  std::vector<double> samples_;
  int symbology_;
  int count_;
  SymbolLayout layout_{0, 0, 2.5, 1.0};
  Lattice lattice_;
  synthesis::Frame frame_;
  double noise_ = 1.0;  // residual variance per sample the ends left
  double endScore_ = kInf;
  bool reversed_ = false;
  long firstScored_ = 0;
  std::vector<Node> nodes_;
  // Scratch kept between the search's steps, so that they allocate nothing.
  std::vector<Node> bestScratch_;
  std::vector<std::vector<double>> pool_;
  std::vector<std::pair<long, long>> poolKeys_;
  int best_ = -1;
  int runnerUp_ = -1;
};

const Glyph& Synthesis::GlyphOf(const Node& node) const {
  if (node.slot == 0) return layout_.Start();
  if (layout_.IsData(node.slot) || layout_.IsCheck(node.slot))
    return layout_.Alphabet()[static_cast<std::size_t>(node.glyph)];
  return layout_.Stop();
}

// The bars of the last `slots` characters of a node's chain, placed.
std::vector<Bar> Synthesis::PlacedBars(int nodeIndex, int slots) const {
  std::vector<Bar> placed;
  for (int i = nodeIndex; i >= 0 && slots-- > 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& n = nodes_[static_cast<std::size_t>(i)];
    for (const auto& [a, b] : GlyphOf(n).bars)
      placed.emplace_back(a * n.scale + n.at, b * n.scale + n.at);
  }
  return placed;
}

// A character's samples are scored up to a little before the next one
// starts, where the next character's blur begins to show; the last one's
// through the quiet zone behind it.
double Synthesis::SlotReachEnd(int slot, double offset) const {
  const double margin = std::min(2.5 * frame_.sigma, 3.0);
  if (slot + 1 >= layout_.Slots()) return layout_.Length() + offset + 3 * frame_.sigma + 1.5;
  return layout_.SlotStart(slot + 1) + offset - margin;
}


EndFit Synthesis::FitEnd(bool left, const EndFit& from, double spm, bool coarse) const {
  const bool wideMatters = symbology_ == kCode39 ? left : symbology_ == kInterleaved2of5 && !left;
  const long n = static_cast<long>(samples_.size());
  EndFit best;
  std::vector<double> d;
  // Code 39: the samples compared stay the same whatever the wide ratio and
  // scale tried: paper, then as much of the glyph as it covers at its
  // narrowest (before the next character can begin), or the other way round.
  // The other symbologies compare the glyph as placed.
  const bool fixedWindow = symbology_ == kCode39;
  const double narrowest = 12.0;
  const double anchor = left ? from.at
                             : from.at + (StopGlyph(symbology_, from.wide).bars.back().second) *
                                             spm * from.scale;
  const long fixedStart =
      ClampIndex(std::ceil(left ? anchor - 4 * spm : anchor - (narrowest + 0.3) * spm), 0, n);
  const long fixedEnd =
      ClampIndex(std::ceil(left ? anchor + (narrowest + 0.3) * spm : anchor + 4 * spm), fixedStart, n);
  // The glyph's own scale may differ a little from the symbol's: with the
  // wide ratio free too, a start or stop of wide and narrow elements pins
  // both, where the distance of the ends alone would trade one for the other.
  std::vector<std::pair<double, std::vector<Bar>>> glyphs;  // by wide ratio
  const auto barsAt = [&](double wide) -> const std::vector<Bar>& {
    for (const auto& [w, bars] : glyphs)
      if (w == wide) return bars;
    return glyphs
        .emplace_back(wide, left ? StartGlyph(symbology_, wide).bars : StopGlyph(symbology_, wide).bars)
        .second;
  };
  const auto evaluate = [&](double at, double sigma, double wide, double scale) {
    const std::vector<Bar>& bars = barsAt(wide);
    synthesis::Frame f;
    f.k0 = at;
    f.spm = spm * scale;
    f.sigma = sigma;
    long ks = fixedStart, ke = fixedEnd;
    if (!fixedWindow) {
      const double last = bars.back().second;
      ks = ClampIndex(std::ceil(f.K(left ? -4.0 : -0.3)), 0, n);
      ke = ClampIndex(std::ceil(f.K(left ? last + 0.3 : last + 4.0)), ks, n);
    }
    if (ke - ks < 4) return;
    d.assign(static_cast<std::size_t>(ke - ks), 0.0);
    AddBars(bars, 0, f, ks, ke, d);
    const LevelFit fit = FitLevels(std::span(samples_).subspan(static_cast<std::size_t>(ks),
                                                               static_cast<std::size_t>(ke - ks)),
                                   d);
    const double perSample = fit.sse / static_cast<double>(ke - ks);
    if (perSample < best.perSample) best = {at, sigma, wide, scale, fit, perSample};
  };
  if (coarse) {
    // `from.at` is where the symbol's first or last dark sample lies.
    for (double shift = -2.0; shift <= 1.01; shift += 0.25)
      for (double sigma : {0.3, 0.7})
        for (double wide : wideMatters ? std::vector<double>{2.0, 2.5, 3.0}
                                       : std::vector<double>{2.5})
          evaluate(from.at + (left ? shift : -shift) * spm, sigma, wide, 1.0);
  } else {
    evaluate(from.at, from.sigma, from.wide, 1.0);
  }
  // Coordinate descent with halving steps from the best grid point.
  double stepAt = 0.25 * spm, stepSigma = 0.15, stepWide = 0.25, stepScale = 0.04;
  for (int round = 0; round < 4; ++round) {
    for (int again = 0; again < (coarse ? 2 : 1); ++again) {
      const EndFit was = best;
      evaluate(was.at - stepAt, was.sigma, was.wide, was.scale);
      evaluate(was.at + stepAt, was.sigma, was.wide, was.scale);
      if (was.sigma - stepSigma >= 0.12)
        evaluate(best.at, was.sigma - stepSigma, best.wide, best.scale);
      if (was.sigma + stepSigma <= 1.3)
        evaluate(best.at, was.sigma + stepSigma, best.wide, best.scale);
      if (wideMatters) {
        if (was.wide - stepWide >= 1.8) evaluate(best.at, best.sigma, was.wide - stepWide, best.scale);
        if (was.wide + stepWide <= 3.2) evaluate(best.at, best.sigma, was.wide + stepWide, best.scale);
      }
      if (fixedWindow && was.scale - stepScale >= 0.8)
        evaluate(best.at, best.sigma, best.wide, was.scale - stepScale);
      if (fixedWindow && was.scale + stepScale <= 1.25)
        evaluate(best.at, best.sigma, best.wide, was.scale + stepScale);
    }
    stepAt /= 2;
    stepSigma /= 2;
    stepWide /= 2;
    stepScale /= 2;
  }
  return best;
}

bool Synthesis::Frame(bool reversed) {
  reversed_ = reversed;
  if (reversed) std::reverse(samples_.begin(), samples_.end());
  const long n = static_cast<long>(samples_.size());
  if (n < 16) return false;
  std::vector<double> sorted = samples_;
  std::sort(sorted.begin(), sorted.end());
  const double paper = sorted[static_cast<std::size_t>(n * 9 / 10)];
  const double ink = sorted[static_cast<std::size_t>(n / 20)];
  if (!(paper - ink >= kMinContrast)) return false;
  const double threshold = paper - 0.3 * (paper - ink);
  long first = -1, last = -1;
  for (long k = 0; k < n; ++k) {
    if (samples_[static_cast<std::size_t>(k)] < threshold) {
      if (first < 0) first = k;
      last = k;
    }
  }
  if (first < 0 || last - first < 8) return false;

  // Scale, ends, blur and wide ratio: the ends first on a rough scale, then
  // again on the scale their distance gives.
  double wide = 2.5;
  SymbolLayout layout(symbology_, count_, wide, 1.0);
  if (!layout.Valid()) return false;
  double spm = static_cast<double>(last + 1 - first) / layout.Length();
  if (!(spm >= kMinModuleSamples)) return false;
  // Many samples a module tell no more than three, averaged: the search
  // works on fewer, less noisy samples (the averaging adds a little blur,
  // which the fit absorbs).
  if (spm > 4.5) {
    const auto factor = static_cast<std::size_t>(spm / 3);
    const std::size_t kept = samples_.size() / factor;
    for (std::size_t i = 0; i < kept; ++i) {
      double sum = 0;
      for (std::size_t j = 0; j < factor; ++j) sum += samples_[i * factor + j];
      samples_[i] = sum / static_cast<double>(factor);
    }
    samples_.resize(kept);
    first /= static_cast<long>(factor);
    last /= static_cast<long>(factor);
    spm /= static_cast<double>(factor);
  }
  EndFit guess;
  guess.at = static_cast<double>(first);
  EndFit left = FitEnd(true, guess, spm, true);
  const double stopWidth = layout.Advance(layout.Slots() - 1);
  guess.at = static_cast<double>(last + 1) - stopWidth * spm;
  EndFit right = FitEnd(false, guess, spm, true);
  // The space between Code 39 characters is the printer's choice: from the
  // ends' distance on the start character's own scale, later fitted anew.
  double gap = 1.0;
  for (int round = 0; round < 1; ++round) {
    wide = symbology_ == kCode39 ? left.wide : symbology_ == kInterleaved2of5 ? right.wide : 2.5;
    if (symbology_ == kCode39) {
      const double pitch = (right.at - left.at) / (spm * left.scale * (count_ + 1));
      gap = std::isfinite(pitch) ? std::clamp(pitch - (3 * wide + 6), kMinGap, kMaxGap) : 1.0;
    }
    layout = SymbolLayout(symbology_, count_, wide, gap);
    spm = (right.at - left.at) / layout.SlotStart(layout.Slots() - 1);
    if (!(spm >= kMinModuleSamples) || !std::isfinite(spm)) return false;
    left = FitEnd(true, left, spm, false);
    right = FitEnd(false, right, spm, false);
  }
  if (!std::isfinite(left.perSample) || !std::isfinite(right.perSample)) return false;
  layout_ = std::move(layout);
  lattice_ = BuildLattice(layout_);
  frame_.k0 = left.at;
  frame_.spm = spm;
  frame_.sigma = 0.5 * (left.sigma + right.sigma);
  frame_.space = 0.5 * (left.levels.space + right.levels.space);
  frame_.contrast = 0.5 * (left.levels.contrast + right.levels.contrast);
  if (!(-frame_.contrast >= kMinContrast)) return false;
  noise_ = std::max(0.5 * (left.perSample + right.perSample), 0.25);
  endScore_ = (left.perSample + right.perSample) / (frame_.contrast * frame_.contrast);
  return true;
}

void Synthesis::AllGlyphs(long ks, long ke, double at, double scale, std::vector<double>& all,
                          std::vector<double>& edge) const {
  const NormalCdf& phi = Phi();
  const auto len = static_cast<std::size_t>(std::max(0L, ke - ks));
  const std::size_t edges = lattice_.edges.size();
  // Bars begin half the spread early and end half of it late.
  const bool spread = frame_.spread != 0;
  edge.resize((spread ? 2 : 1) * edges * len);
  const double inv = 1 / frame_.sigma;
  for (std::size_t i = 0; i < len; ++i) {
    const double u = frame_.U(static_cast<double>(ks) + static_cast<double>(i)) - at;
    for (std::size_t e = 0; e < edges; ++e) {
      const double x = u - lattice_.edges[e] * scale;
      edge[e * len + i] = phi((x + frame_.spread / 2) * inv);
      if (spread) edge[(edges + e) * len + i] = phi((x - frame_.spread / 2) * inv);
    }
  }
  const double* ends = edge.data() + (spread ? edges * len : 0);
  all.assign(lattice_.bars.size() * len, 0.0);
  for (std::size_t g = 0; g < lattice_.bars.size(); ++g) {
    double* out = all.data() + g * len;
    for (const auto& [a, b] : lattice_.bars[g]) {
      const double* ea = edge.data() + a * len;
      const double* eb = ends + b * len;
      for (std::size_t i = 0; i < len; ++i) out[i] += ea[i] - eb[i];
    }
  }
}

// The samples a character placed at `at` darkens at all, within [ks, ke).
std::pair<long, long> Synthesis::Reach(int slot, double at, long ks, long ke) const {
  const double reach = 5 * frame_.sigma + 1;  // also covers a character stretched by drift
  return {ClampIndex(std::floor(frame_.K(at - reach)), ks, ke),
          ClampIndex(std::ceil(frame_.K(at + layout_.Advance(slot) + reach)), ks, ke)};
}

bool Synthesis::Search(std::span<const int> forced) {
  nodes_.clear();
  best_ = runnerUp_ = -1;
  const long n = static_cast<long>(samples_.size());
  const std::span<const double> y(samples_);
  const double space = frame_.space;
  const double contrast = frame_.contrast;

  // The start character, with the quiet zone before it.
  Node root;
  root.sum = SymbolLayout::CheckValue({});
  firstScored_ = ClampIndex(std::floor(frame_.K(-3 * frame_.sigma - 1.5)), 0, n);
  root.scoredTo = ClampIndex(std::ceil(frame_.K(SlotReachEnd(0, 0))), firstScored_, n);
  {
    std::vector<double> d(static_cast<std::size_t>(root.scoredTo - firstScored_), 0.0);
    AddBars(layout_.Start().bars, 0, frame_, firstScored_, root.scoredTo, d);
    for (std::size_t i = 0; i < d.size(); ++i) {
      const double r = y[static_cast<std::size_t>(firstScored_) + i] - space - contrast * d[i];
      root.sse += r * r;
    }
  }
  nodes_.reserve(static_cast<std::size_t>(layout_.Slots()) * kBeamWidth + 1);
  nodes_.push_back(root);
  std::vector<int> beam = {0};

  std::vector<double> carry, residual, templ, edge;
  const std::size_t alphabet = layout_.Alphabet().size();
  for (int slot = 1; slot < layout_.Slots(); ++slot) {
    // The best of every (parent, glyph), over the drift steps.
    const std::size_t choices = layout_.IsData(slot) && forced.empty() ? alphabet : 1;
    Node unset;
    unset.sse = kInf;
    std::vector<Node>& best = bestScratch_;
    best.assign(beam.size() * choices, unset);
    // Every glyph's darkness over a stretch of samples, by (first sample,
    // place): parents that drifted alike share them.
    std::size_t pooled = 0;
    const auto allGlyphs = [&](long ks, long ke, double at, double scale,
                               double offset) -> const std::vector<double>& {
      const std::pair<long, long> key{
          ks, std::lround(offset / kDriftStep * 4) * 100000 + std::lround(at * 64)};
      for (std::size_t i = 0; i < pooled; ++i)
        if (poolKeys_[i] == key) return pool_[i];
      if (pool_.size() <= pooled) {
        pool_.emplace_back();
        poolKeys_.emplace_back();
      }
      poolKeys_[pooled] = key;
      AllGlyphs(ks, ke, at, scale, pool_[pooled], edge);
      return pool_[pooled++];
    };
    for (std::size_t beamIndex = 0; beamIndex < beam.size(); ++beamIndex) {
      const int parentIndex = beam[beamIndex];
      const Node parent = nodes_[static_cast<std::size_t>(parentIndex)];
      std::vector<int> glyphs;
      if (layout_.IsData(slot)) {
        if (!forced.empty()) {
          glyphs.push_back(forced[static_cast<std::size_t>(slot - 1)]);
        } else {
          for (std::size_t g = 0; g < layout_.Alphabet().size(); ++g)
            glyphs.push_back(static_cast<int>(g));
        }
      } else if (layout_.IsCheck(slot)) {
        glyphs.push_back(parent.sum);
      } else {
        glyphs.push_back(-1);
      }
      const std::vector<Bar> previous = PlacedBars(parentIndex, 2);
      // Every glyph straight on; only the few best of them drifted too.
      std::vector<std::size_t> tried(glyphs.size());
      for (std::size_t c = 0; c < tried.size(); ++c) tried[c] = c;
      for (const double step : {0.0, -kDriftStep, kDriftStep}) {
        if (step != 0 && tried.size() > kDriftedGlyphs) {
          const auto score = [&](std::size_t c) { return Score(best[beamIndex * choices + c]); };
          std::partial_sort(tried.begin(), tried.begin() + static_cast<long>(kDriftedGlyphs),
                            tried.end(),
                            [&](std::size_t a, std::size_t b) { return score(a) < score(b); });
          tried.resize(kDriftedGlyphs);
        }
        const double offset = std::clamp(parent.offset + step, -kMaxDrift, kMaxDrift);
        if (step != 0 && offset == parent.offset) continue;
        const long ks = parent.scoredTo;
        const long ke = ClampIndex(std::ceil(frame_.K(SlotReachEnd(slot, offset))), ks, n);
        const auto len = static_cast<std::size_t>(ke - ks);
        carry.assign(len, 0.0);
        AddBars(previous, 0, frame_, ks, ke, carry);
        residual.resize(len);
        for (std::size_t i = 0; i < len; ++i)
          residual[i] = y[static_cast<std::size_t>(ks) + i] - space - contrast * carry[i];
        // The character starts where the one before ended and stretches to
        // its new offset: the drift is followed smoothly, never by jumps.
        const double at = layout_.SlotStart(slot) + parent.offset;
        const double scale = 1 + (offset - parent.offset) / layout_.Advance(slot);
        const bool shared = layout_.IsData(slot) && forced.empty();
        const std::vector<double>* all =
            shared ? &allGlyphs(ks, ke, at, scale, offset) : nullptr;
        for (const std::size_t choice : tried) {
          const int g = glyphs[choice];
          Node child;
          child.parent = parentIndex;
          child.slot = slot;
          child.glyph = g;
          child.offset = offset;
          child.at = at;
          child.scale = scale;
          child.scoredTo = ke;
          child.sum = parent.sum;
          if (layout_.IsData(slot))
            child.sum = (parent.sum + slot % 103 * g) % 103;
          const double* t = nullptr;
          if (shared) {
            t = all->data() + static_cast<std::size_t>(g) * len;
          } else {
            templ.assign(len, 0.0);
            AddBars(GlyphOf(child).bars, at, frame_, ks, ke, templ, 1.0, scale);
            t = templ.data();
          }
          double sse = 0;
          for (std::size_t i = 0; i < len; ++i) {
            const double r = residual[i] - contrast * t[i];
            sse += r * r;
          }
          child.sse = parent.sse + sse;
          Node& kept = best[beamIndex * choices + choice];
          if (kept.sse == kInf || Score(child) < Score(kept)) kept = child;
        }
      }
    }
    std::vector<Node> candidates;
    candidates.reserve(best.size());
    for (const Node& node : best)
      if (node.sse != kInf) candidates.push_back(node);
    const std::size_t keep = std::min(kBeamWidth, candidates.size());
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<long>(keep),
                      candidates.end(),
                      [&](const Node& a, const Node& b) { return Score(a) < Score(b); });
    beam.clear();
    for (std::size_t i = 0; i < keep; ++i) {
      beam.push_back(static_cast<int>(nodes_.size()));
      nodes_.push_back(candidates[i]);
    }
    if (beam.empty()) return false;
  }
  best_ = beam.front();
  if (beam.size() > 1) runnerUp_ = beam[1];
  return true;
}

bool Synthesis::Refit(bool keepDrift) {
  if (best_ < 0) return false;
  const std::vector<int> data = DataOf(best_);
  // Where each character ends against its straight place.
  std::vector<double> ends(static_cast<std::size_t>(layout_.Slots()), 0.0);
  std::vector<int> chain(static_cast<std::size_t>(layout_.Slots()), -1);
  for (int i = best_; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    chain[static_cast<std::size_t>(node.slot)] = i;
    if (keepDrift) ends[static_cast<std::size_t>(node.slot)] = node.offset;
  }
  const long n = static_cast<long>(samples_.size());
  const bool wideMatters = symbology_ == kCode39 || symbology_ == kInterleaved2of5;
  const bool gapMatters = symbology_ == kCode39;
  std::vector<std::pair<std::pair<double, double>, SymbolLayout>> layouts;
  const auto layoutAt = [&](double wide, double gap) -> const SymbolLayout& {
    for (const auto& [key, layout] : layouts)
      if (key.first == wide && key.second == gap) return layout;
    return layouts.emplace_back(std::pair{wide, gap}, SymbolLayout(symbology_, count_, wide, gap))
        .second;
  };
  // The symbol's two ends in samples, its blur and wide ratio; the scale
  // follows from the ends, so a new wide ratio keeps the ends in place.
  struct Params {
    double k0, end, sigma, wide, spread, gap;
  };
  std::vector<double> d;
  const auto fitOf = [&](const Params& p, LevelFit& levels) {
    const SymbolLayout& layout = layoutAt(p.wide, p.gap);
    synthesis::Frame f = frame_;
    f.k0 = p.k0;
    f.spm = (p.end - p.k0) / layout.Length();
    f.sigma = p.sigma;
    f.spread = p.spread;
    if (!(f.spm >= kMinModuleSamples)) return kInf;
    const long ks = ClampIndex(std::floor(f.K(-3 * p.sigma - 1.5)), 0, n);
    const long ke = ClampIndex(std::ceil(f.K(layout.Length() + 3 * p.sigma + 1.5)), ks, n);
    if (ke - ks < 8) return kInf;
    d.assign(static_cast<std::size_t>(ke - ks), 0.0);
    for (int slot = 0; slot < layout.Slots(); ++slot) {
      const auto si = static_cast<std::size_t>(slot);
      const double begin = slot == 0 ? 0.0 : ends[si - 1];
      const double advance = layout.Advance(slot);
      AddBars(layout.GlyphAt(slot, data).bars, layout.SlotStart(slot) + begin, f, ks, ke, d, 1.0,
              1 + (ends[si] - begin) / advance);
    }
    levels = FitLevels(std::span(samples_).subspan(static_cast<std::size_t>(ks),
                                                   static_cast<std::size_t>(ke - ks)),
                       d);
    return levels.sse / static_cast<double>(ke - ks);
  };
  Params best{frame_.k0,     frame_.K(layout_.Length()), frame_.sigma, layout_.Wide(),
              frame_.spread, layout_.Gap()};
  LevelFit levels;
  double bestFit = fitOf(best, levels);
  double steps[6] = {0.3 * frame_.spm, 0.3 * frame_.spm, 0.1, wideMatters ? 0.2 : 0.0, 0.1,
                     gapMatters ? 0.3 : 0.0};
  for (int round = 0; round < 5; ++round) {
    for (int which = -1; which < 6; ++which) {
      if (which >= 0 && steps[which] == 0) continue;
      for (const double sign : {-1.0, 1.0}) {
        Params p = best;
        if (which < 0) {  // both ends together
          p.k0 += sign * steps[0];
          p.end += sign * steps[0];
        } else {
          double* field[6] = {&p.k0, &p.end, &p.sigma, &p.wide, &p.spread, &p.gap};
          *field[which] += sign * steps[which];
        }
        if (p.sigma < 0.12 || p.sigma > 1.3 || p.wide < 1.8 || p.wide > 3.2 ||
            std::fabs(p.spread) > 0.5 || p.gap < kMinGap || p.gap > kMaxGap)
          continue;
        LevelFit trial;
        const double fit = fitOf(p, trial);
        if (fit < bestFit) {
          bestFit = fit;
          best = p;
        }
      }
    }
    for (double& step : steps) step /= 2;
  }
  fitOf(best, levels);
  if (!std::isfinite(bestFit) || !(-levels.contrast >= kMinContrast)) return false;
  frame_.k0 = best.k0;
  frame_.spm = (best.end - best.k0) / layoutAt(best.wide, best.gap).Length();
  frame_.sigma = best.sigma;
  frame_.spread = best.spread;
  frame_.space = levels.space;
  frame_.contrast = levels.contrast;
  noise_ = std::max(bestFit, 0.25);
  if (best.wide != layout_.Wide() || best.gap != layout_.Gap()) {
    layout_ = layoutAt(best.wide, best.gap);
    lattice_ = BuildLattice(layout_);
  }
  // The best symbol in the new frame, for a polish without a new search.
  for (int slot = 0; slot < layout_.Slots(); ++slot) {
    const auto si = static_cast<std::size_t>(slot);
    if (chain[si] < 0) continue;
    Node& node = nodes_[static_cast<std::size_t>(chain[si])];
    node.offset = ends[si];
    const double begin = slot == 0 ? 0.0 : ends[si - 1];
    node.at = layout_.SlotStart(slot) + begin;
    node.scale = 1 + (ends[si] - begin) / layout_.Advance(slot);
  }
  firstScored_ = ClampIndex(std::floor(frame_.K(-3 * frame_.sigma - 1.5)), 0, n);
  nodes_[static_cast<std::size_t>(best_)].scoredTo = ClampIndex(
      std::ceil(frame_.K(SlotReachEnd(layout_.Slots() - 1, ends.back()))), firstScored_, n);
  return true;
}

// The variance of the paper's own noise, from the quiet zones: half the
// mean squared difference of neighbouring samples, which a slow change in
// the paper's brightness hardly touches. -1 when the quiet zones are too
// short to tell.
double QuietNoise(std::span<const double> y, long before, long after) {
  double sum = 0;
  long pairs = 0;
  const long n = static_cast<long>(y.size());
  for (long k = 1; k < n; ++k) {
    if (k < before || k - 1 >= after) {
      const double diff = y[static_cast<std::size_t>(k)] - y[static_cast<std::size_t>(k - 1)];
      sum += diff * diff;
      ++pairs;
    }
  }
  return pairs >= 8 ? sum / (2.0 * static_cast<double>(pairs)) : -1.0;
}

std::vector<double> Synthesis::EndsOf(int nodeIndex) const {
  std::vector<double> ends(static_cast<std::size_t>(layout_.Slots()), 0.0);
  for (int i = nodeIndex; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    ends[static_cast<std::size_t>(node.slot)] = node.offset;
  }
  return ends;
}

double Synthesis::PolishEnds(std::span<const int> data, std::vector<double>& ends, long ks,
                             long ke) const {
  const int slots = layout_.Slots();
  const auto place = [&](int j, double& at, double& scale) {
    const double begin = j == 0 ? 0.0 : ends[static_cast<std::size_t>(j - 1)];
    at = layout_.SlotStart(j) + begin;
    scale = 1 + (ends[static_cast<std::size_t>(j)] - begin) / layout_.Advance(j);
  };
  if (ke - ks < 4) return kInf;
  std::vector<double> dark(static_cast<std::size_t>(ke - ks), 0.0);
  const auto addSlot = [&](int j, long from, long to, std::span<double> out, double sign) {
    double at = 0, scale = 1;
    place(j, at, scale);
    AddBars(layout_.GlyphAt(j, data).bars, at, frame_, from, to, out, sign, scale);
  };
  for (int j = 0; j < slots; ++j) addSlot(j, ks, ke, dark, 1.0);
  const auto residual = [&](long k, double d) {
    const double r = samples_[static_cast<std::size_t>(k)] - frame_.space - frame_.contrast * d;
    return r * r;
  };
  std::vector<double> trial, local;
  for (const double step : {0.1, 0.05, 0.025}) {
    for (int j = 0; j + 1 < slots; ++j) {
      const auto ji = static_cast<std::size_t>(j);
      double atJ = 0, scaleJ = 1, atNext = 0, scaleNext = 1;
      place(j, atJ, scaleJ);
      place(j + 1, atNext, scaleNext);
      const long from = Reach(j, atJ, ks, ke).first;
      const long to = Reach(j + 1, atNext, ks, ke).second;
      if (to <= from) continue;
      for (const double sign : {-1.0, 1.0}) {
        const double was = ends[ji];
        if (std::fabs(was + sign * step) > kMaxDrift) continue;
        trial.assign(dark.begin() + (from - ks), dark.begin() + (to - ks));
        // Out with the two characters as they are, in with them moved.
        local.assign(trial.size(), 0.0);
        addSlot(j, from, to, local, -1.0);
        addSlot(j + 1, from, to, local, -1.0);
        ends[ji] = was + sign * step;
        addSlot(j, from, to, local, 1.0);
        addSlot(j + 1, from, to, local, 1.0);
        double delta = 0;
        for (long k = from; k < to; ++k) {
          const auto i = static_cast<std::size_t>(k - from);
          delta += residual(k, trial[i] + local[i]) - residual(k, trial[i]);
        }
        if (delta < 0) {
          for (long k = from; k < to; ++k)
            dark[static_cast<std::size_t>(k - ks)] += local[static_cast<std::size_t>(k - from)];
          break;
        }
        ends[ji] = was;
      }
    }
  }
  double sse = 0;
  for (long k = ks; k < ke; ++k) sse += residual(k, dark[static_cast<std::size_t>(k - ks)]);
  return sse;
}

bool Synthesis::Polish() {
  if (best_ < 0) return false;
  const int slots = layout_.Slots();
  std::vector<int> chain(static_cast<std::size_t>(slots), -1);
  for (int i = best_; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent)
    chain[static_cast<std::size_t>(nodes_[static_cast<std::size_t>(i)].slot)] = i;
  if (std::find(chain.begin(), chain.end(), -1) != chain.end()) return false;
  const std::vector<int> data = DataOf(best_);
  std::vector<double> ends = EndsOf(best_);
  const long ks = firstScored_;
  const long ke = nodes_[static_cast<std::size_t>(best_)].scoredTo;
  const double sse = PolishEnds(data, ends, ks, ke);
  if (!std::isfinite(sse)) return false;
  for (int j = 0; j < slots; ++j) {
    Node& node = nodes_[static_cast<std::size_t>(chain[static_cast<std::size_t>(j)])];
    const double begin = j == 0 ? 0.0 : ends[static_cast<std::size_t>(j - 1)];
    node.offset = ends[static_cast<std::size_t>(j)];
    node.at = layout_.SlotStart(j) + begin;
    node.scale = 1 + (node.offset - begin) / layout_.Advance(j);
  }
  return Clean(sse / static_cast<double>(ke - ks), QuietVariance());
}

// Explained down to about the paper's noise: within 2.5 times its variance
// and 3 % of the contrast.
bool Synthesis::Clean(double variance, double quiet) const {
  const double tight = 0.03 * frame_.contrast;
  return quiet >= 0 && variance < 2.5 * quiet + tight * tight;
}

double Synthesis::QuietVariance() const {
  // Beyond 2.5 sigma of blur the symbol darkens the paper by less than 1 %
  // of the contrast.
  const double margin = 2.5 * frame_.sigma + 0.5;
  return QuietNoise(samples_,
                    ClampIndex(std::floor(frame_.K(-margin)), 0, static_cast<long>(samples_.size())),
                    ClampIndex(std::ceil(frame_.K(layout_.Length() + margin)), 0,
                               static_cast<long>(samples_.size())));
}


std::vector<int> Synthesis::DataOf(int nodeIndex) const {
  std::vector<int> data(static_cast<std::size_t>(layout_.DataSlots()), 0);
  for (int i = nodeIndex; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    if (layout_.IsData(node.slot)) data[static_cast<std::size_t>(node.slot - 1)] = node.glyph;
  }
  return data;
}

Verdict Synthesis::Judge(bool confirming) const {
  Verdict verdict;
  if (best_ < 0) {
    verdict.explanation = "no symbol fits the samples";
    return verdict;
  }
  verdict.reversed = reversed_;
  verdict.data = DataOf(best_);
  const std::vector<int>& data = verdict.data;
  // Every character placed where the search left it.
  const int slots = layout_.Slots();
  std::vector<double> at(static_cast<std::size_t>(slots), 0.0);
  std::vector<double> scale(static_cast<std::size_t>(slots), 1.0);
  for (int i = best_; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    at[static_cast<std::size_t>(node.slot)] = node.at;
    scale[static_cast<std::size_t>(node.slot)] = node.scale;
  }
  const long ks = firstScored_;
  const long ke = nodes_[static_cast<std::size_t>(best_)].scoredTo;
  const auto len = static_cast<std::size_t>(ke - ks);
  std::vector<double> dark(len, 0.0);
  for (int slot = 0; slot < slots; ++slot)
    AddBars(layout_.GlyphAt(slot, data).bars, at[static_cast<std::size_t>(slot)], frame_, ks, ke,
            dark, 1.0, scale[static_cast<std::size_t>(slot)]);
  const auto residualAt = [&](std::size_t i, double d) {
    const double r = samples_[static_cast<std::size_t>(ks) + i] - frame_.space - frame_.contrast * d;
    return r * r;
  };
  double sse = 0;
  for (std::size_t i = 0; i < len; ++i) sse += residualAt(i, dark[i]);
  const double variance = std::max(sse / static_cast<double>(std::max<std::size_t>(len, 1)), 0.25);

  // For every data character, every other character in its place (with the
  // check character that then belongs to the symbol), nudged a little either
  // way: how much worse does it explain the samples?
  verdict.margin = kInf;
  const std::size_t alphabet = layout_.Alphabet().size();
  const int checkSlot = layout_.IsCheck(layout_.DataSlots() + 1) ? layout_.DataSlots() + 1 : -1;
  const int check = checkSlot >= 0 ? SymbolLayout::CheckValue(data) : -1;
  std::vector<double> base, all, edge;
  // How much worse the samples in [from, to) fit when `base` plus glyph
  // darkness `add` replaces the symbol's darkness there.
  const auto worse = [&](long from, long to, const double* add) {
    double delta = 0;
    for (long k = from; k < to; ++k) {
      const auto i = static_cast<std::size_t>(k - ks);
      const auto j = static_cast<std::size_t>(k - from);
      delta += residualAt(i, base[j] + add[j]) - residualAt(i, dark[i]);
    }
    return delta;
  };
  const auto withoutOwn = [&](int slot, long from, long to) {
    base.assign(dark.begin() + (from - ks), dark.begin() + (to - ks));
    AddBars(layout_.GlyphAt(slot, data).bars, at[static_cast<std::size_t>(slot)], frame_, from, to,
            base, -1.0, scale[static_cast<std::size_t>(slot)]);
  };
  // Code 128: every other check character, on its own stretch.
  std::vector<double> checkWorse(alphabet, 0.0);
  std::pair<long, long> checkReach{ke, ke};
  if (checkSlot >= 0) {
    checkReach = Reach(checkSlot, at[static_cast<std::size_t>(checkSlot)], ks, ke);
    const auto [from, to] = checkReach;
    withoutOwn(checkSlot, from, to);
    AllGlyphs(from, to, at[static_cast<std::size_t>(checkSlot)],
              scale[static_cast<std::size_t>(checkSlot)], all, edge);
    for (std::size_t v = 0; v < alphabet; ++v)
      checkWorse[v] = worse(from, to, all.data() + v * static_cast<std::size_t>(to - from));
  }
  std::vector<double> least(alphabet);
  std::vector<double> changed;
  for (int slot = 1; slot <= layout_.DataSlots(); ++slot) {
    const auto si = static_cast<std::size_t>(slot);
    const int own = data[si - 1];
    const auto [from, to] = Reach(slot, at[si], ks, ke);
    std::fill(least.begin(), least.end(), kInf);
    const bool apart = checkSlot < 0 || to <= checkReach.first || from >= checkReach.second;
    if (apart) {
      // Every other glyph here, nudged a little either way; the check
      // character that then belongs to the symbol adds its own share.
      withoutOwn(slot, from, to);
      for (const double nudge : {0.0, -kDriftStep, kDriftStep}) {
        AllGlyphs(from, to, at[si] + nudge, scale[si], all, edge);
        for (std::size_t g = 0; g < alphabet; ++g)
          least[g] = std::min(least[g], worse(from, to, all.data() + g * static_cast<std::size_t>(to - from)));
      }
      if (check >= 0) {
        for (std::size_t g = 0; g < alphabet; ++g) {
          std::vector<int> other = data;
          other[si - 1] = static_cast<int>(g);
          const int v = SymbolLayout::CheckValue(other);
          if (v != check) least[g] += checkWorse[static_cast<std::size_t>(v)];
        }
      }
    } else {
      // The last data character of Code 128 shares samples with the check
      // character: both change together.
      const long lo = std::min(from, checkReach.first);
      const long hi = std::max(to, checkReach.second);
      const auto span = static_cast<std::size_t>(hi - lo);
      base.assign(dark.begin() + (lo - ks), dark.begin() + (hi - ks));
      for (const int s2 : {slot, checkSlot})
        AddBars(layout_.GlyphAt(s2, data).bars, at[static_cast<std::size_t>(s2)], frame_, lo, hi,
                base, -1.0, scale[static_cast<std::size_t>(s2)]);
      std::vector<double> checks;
      AllGlyphs(lo, hi, at[static_cast<std::size_t>(checkSlot)],
                scale[static_cast<std::size_t>(checkSlot)], checks, edge);
      for (const double nudge : {0.0, -kDriftStep, kDriftStep}) {
        AllGlyphs(lo, hi, at[si] + nudge, scale[si], all, edge);
        for (std::size_t g = 0; g < alphabet; ++g) {
          if (static_cast<int>(g) == own) continue;
          std::vector<int> other = data;
          other[si - 1] = static_cast<int>(g);
          const auto v = static_cast<std::size_t>(SymbolLayout::CheckValue(other));
          changed.resize(span);
          for (std::size_t i = 0; i < span; ++i)
            changed[i] = all[g * span + i] + checks[v * span + i];
          least[g] = std::min(least[g], worse(lo, hi, changed.data()));
        }
      }
    }
    for (std::size_t g = 0; g < alphabet; ++g) {
      if (static_cast<int>(g) == own) continue;
      const double margin = least[g] / variance;
      if (margin < verdict.margin) {
        verdict.margin = margin;
        verdict.weakest = slot - 1;
        verdict.weakestShown = layout_.Alphabet()[static_cast<std::size_t>(own)].shown;
        verdict.alternativeShown = layout_.Alphabet()[g].shown;
        verdict.alternative = static_cast<int>(g);
      }
    }
  }
  // The best other whole symbol the search kept, polished as this one was.
  if (runnerUp_ >= 0) {
    const std::vector<int> other = DataOf(runnerUp_);
    std::vector<double> ends = EndsOf(runnerUp_);
    const double margin = (PolishEnds(other, ends, ks, ke) - sse) / variance;
    if (margin < verdict.margin) {
      verdict.margin = margin;
      verdict.weakest = -1;
      verdict.alternative = -1;
      verdict.weakestShown = "the symbol";
      verdict.alternativeShown = "another symbol";
      for (const int g : other)
        verdict.alternativeShown += " " + layout_.Alphabet()[static_cast<std::size_t>(g)].shown;
    }
  }
  // The classic pattern list of the symbol.
  if (symbology_ != kCode128) verdict.patterns.push_back(layout_.Start().patterns.front());
  for (const int g : data)
    for (const std::string& p : layout_.Alphabet()[static_cast<std::size_t>(g)].patterns)
      verdict.patterns.push_back(p);
  if (symbology_ == kCode128) {
    verdict.patterns.push_back(
        layout_.Alphabet()[static_cast<std::size_t>(SymbolLayout::CheckValue(data))].patterns.front());
  } else {
    verdict.patterns.push_back(layout_.Stop().patterns.front());
  }
  // The model has to explain the waveform at all: what it leaves must be
  // small beside the contrast it found.
  // Where the quiet zones show the paper's noise, the symbol may leave
  // little more than that.
  const double quiet = QuietVariance();
  // Beside the noise, the model may miss by some percent of the contrast
  // where the card's speed wavers within a character: the more, the sharper
  // the edges.
  const double slack = std::min(0.12, 0.04 / frame_.sigma) * frame_.contrast;
  // Without paper to measure the noise on, the symbol itself has to be
  // explained that closely (a noisy waveform is then refused).
  const double unknown = 0.03 * frame_.contrast;
  const double allowed =
      (quiet >= 0 ? 1.6 * quiet : unknown * unknown) + slack * slack;
  const bool explains = variance < allowed;
  verdict.fit = variance;
  verdict.clean = Clean(variance, quiet);
  // What the model misses is not noise: it repeats from sample to sample,
  // so the samples count for less than their number. For a symbol of the
  // search's own, the margin needed grows with what the symbol leaves beyond
  // the paper's noise; a classic decoder's symbol under test already has a
  // second, independent reading behind it.
  const double beyondNoise = quiet >= 0 ? variance / std::max(quiet, 4.0) : 1.0;
  const double needed =
      confirming ? kConfirmMargin
                 : kAcceptMargin * std::max(1.0, std::sqrt(std::max(beyondNoise, 0.0)));
  verdict.accepted = explains && verdict.margin >= needed;
  char line[200];
  if (!explains && verdict.margin >= needed) {
    std::snprintf(line, sizeof line,
                  "the symbol leaves %.1f gray values unexplained where the paper has %.1f",
                  std::sqrt(variance), std::sqrt(std::max(quiet, 0.0)));
  } else if (verdict.weakest < 0) {
    std::snprintf(line, sizeof line,
                  "the best other symbol (%s) fits worse by a margin of %.1f (%.0f needed)",
                  verdict.alternativeShown.c_str() + std::string_view("another symbol ").size(),
                  verdict.margin, needed);
  } else {
    std::snprintf(line, sizeof line,
                  "weakest character %d \"%s\": \"%s\" in its place fits worse by a margin of "
                  "%.1f (%.0f needed)",
                  verdict.weakest + 1, verdict.weakestShown.c_str(),
                  verdict.alternativeShown.c_str(), verdict.margin, needed);
  }
  verdict.explanation = line;
  char fit[120];
  std::snprintf(fit, sizeof fit, "; fit %.1f, paper noise %.1f, contrast %.0f, blur %.2f",
                std::sqrt(variance), std::sqrt(std::max(quiet, 0.0)), -frame_.contrast, frame_.sigma);
  verdict.explanation += fit;
  return verdict;
}

// Both directions framed, the one whose ends fit better first.
std::vector<Synthesis> FrameBoth(std::span<const double> samples, int symbology, int count) {
  std::vector<Synthesis> framed;
  for (const bool reversed : {false, true}) {
    Synthesis synthesis(samples, symbology, count);
    if (synthesis.Frame(reversed)) framed.push_back(std::move(synthesis));
  }
  std::sort(framed.begin(), framed.end(),
            [](const Synthesis& a, const Synthesis& b) { return a.EndScore() < b.EndScore(); });
  return framed;
}

// The search on each framed direction (copies: a refit moves the frame),
// the other only when the first fails and its ends fit nearly as well.
Verdict Run(std::vector<Synthesis> framed, std::span<const int> forced) {
  Verdict best;
  best.explanation = "no symbol-like structure in the samples";
  for (std::size_t i = 0; i < framed.size(); ++i) {
    if (i > 0 && framed[i].EndScore() > 3 * framed[0].EndScore()) break;
    // A first direction whose best symbol explains the samples down to the
    // paper's noise is the right one, even when that symbol was refused: a
    // symbol read the other way round would have to fit clearly better.
    if (i > 0 && best.clean) break;
    if (!framed[i].Search(forced)) continue;
    // A symbol not explained down to the paper's noise gets a frame fitted
    // to the whole of it and a second search.
    // Still not: the frame fitted once more with the characters where they
    // drifted, and polished again.
    if (!framed[i].Polish() && framed[i].Refit(false) && framed[i].Search(forced) &&
        !framed[i].Polish() && framed[i].Refit(true))
      framed[i].Polish();
    Verdict verdict = framed[i].Judge(!forced.empty());
    // A character that another fits clearly better in its place (the
    // search's drift steps are coarse): take the better one, place the
    // symbol again and judge it again, a few times. The guard's symbol is
    // only ever tested, never changed.
    for (int repair = 0; repair < 3 && forced.empty() && !verdict.accepted &&
                         verdict.margin < 0 && verdict.weakest >= 0 && verdict.alternative >= 0;
         ++repair) {
      std::vector<int> better = verdict.data;
      better[static_cast<std::size_t>(verdict.weakest)] = verdict.alternative;
      Synthesis again = framed[i];
      if (!again.Search(better)) break;
      again.Polish();
      Verdict repaired = again.Judge(false);
      if (!(repaired.fit < verdict.fit)) break;
      framed[i] = std::move(again);
      verdict = std::move(repaired);
    }
    // A symbol read only the other way round must explain the samples
    // clearly better than the best symbol read the first way.
    if (i > 0 && verdict.accepted && !(verdict.fit * 1.5 < best.fit)) {
      verdict.accepted = false;
      verdict.explanation = "read only backwards, and hardly better than forwards: " +
                            verdict.explanation;
    }
    if (i == 0 || verdict.accepted) best = std::move(verdict);
    if (best.accepted) break;
  }
  return best;
}

}  // namespace

struct SymbolReader::Framed {
  std::vector<Synthesis> directions;
};

SymbolReader::SymbolReader(std::span<const double> samples, int symbology, int count)
    : symbology_(symbology), count_(count),
      framed_(std::make_unique<Framed>(Framed{FrameBoth(samples, symbology, count)})) {}

SymbolReader::~SymbolReader() = default;

Verdict SymbolReader::Decode() const { return Run(framed_->directions, {}); }

Verdict DecodeBySynthesis(std::span<const double> samples, int symbology, int count) {
  return SymbolReader(samples, symbology, count).Decode();
}

Verdict ConfirmPatterns(std::span<const double> samples, int symbology, int count,
                        const PatternList& patterns) {
  return SymbolReader(samples, symbology, count).Confirm(patterns);
}

Verdict SymbolReader::Confirm(const PatternList& patterns) const {
  const int symbology = symbology_;
  const SymbolLayout layout(symbology, count_, 2.5, 1.0);
  Verdict refused;
  refused.explanation = "the patterns do not form a symbol of this length";
  if (!layout.Valid()) return refused;
  std::vector<int> data;
  if (symbology == kCode128) {
    if (patterns.size() != static_cast<std::size_t>(layout.DataSlots() + 1)) return refused;
    for (std::size_t i = 0; i + 1 < patterns.size(); ++i)
      data.push_back(layout.FindData(std::span(&patterns[i], 1)));
    if (std::find(data.begin(), data.end(), -1) != data.end()) return refused;
    if (layout.FindData(std::span(&patterns.back(), 1)) != SymbolLayout::CheckValue(data))
      return refused;
  } else {
    const std::size_t per = symbology == kInterleaved2of5 ? 2 : 1;
    if (patterns.size() != static_cast<std::size_t>(layout.DataSlots()) * per + 2) return refused;
    for (std::size_t i = 1; i + 1 < patterns.size(); i += per)
      data.push_back(layout.FindData(std::span(&patterns[i], per)));
    if (std::find(data.begin(), data.end(), -1) != data.end()) return refused;
  }
  Verdict verdict = Run(framed_->directions, data);
  if (verdict.data != data) verdict.accepted = false;
  return verdict;
}

}  // namespace markwire::barcode::synthesis
