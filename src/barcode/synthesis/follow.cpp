// Following the card. Rollers pull the card past the sensor: it speeds up
// as it enters, slows as it leaves, slips; the lamp and the paper are not
// even. The frame's straight line from the start to the stop then misses the
// characters in between by more than the search's drift can follow, and
// paper and ink levels fitted once leave the far end unexplained.
//
// Every character of a symbology has the same number of bars, so the bar
// edges alone tell where each character begins, whatever the data: the
// samples are resampled so that the characters stand at their straight
// places (the speed as a smooth profile through one knot per character) and
// the levels are levelled, and the symbol is framed again on them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {
namespace {

// A turning point counts when the samples swing this share of the local
// contrast back from it (noise does not).
constexpr double kSwing = 0.1;
// Nothing to follow: the speed keeps within this share of its mean and the
// levels within this share of the contrast (paper texture in the quiet
// zones alone moves them by a few percent).
constexpr double kEvenSpeed = 0.02;
constexpr double kEvenLevels = 0.08;
// A speed that changed by this share at least along the symbol leaves a
// misfit the model cannot take out: the guard then judges a classic
// reading on the rivals' evidence alone.
constexpr double kUnevenSpeed = 0.05;
// The speed between two knots may lie this far from the mean: ramps and
// wander of up to 15 % either way, and some leeway for the knots' noise.
constexpr double kSlowest = 0.75;
constexpr double kFastest = 1.33;
// Beyond the edges a symbol has, the thinnest elements go first, and only
// those narrower than this, in modules: a void or a speck.
constexpr double kDefectModules = 0.9;
// Modules between two knots, at least, for their speed to count.
constexpr double kShortestInterval = 8.0;
// The light is not trusted to fall below this share of its mean.
constexpr double kLeastLight = 0.3;
// Local paper and ink: over this share of the widest character either way,
// a little more than a character in all, at least kLeastLocal samples.
constexpr double kLocalShare = 0.6;
constexpr long kLeastLocal = 3;
// The samples resampled are at most this many times the samples there were,
// a guard: speeds within kSlowest and kFastest give far fewer.
constexpr long kMostResampled = 4;
// The paper's level at an end is taken from this many samples at least,
// else it is unknown: fewer tell more of the noise than of the light.
constexpr long kLeastPaper = 3;

// y at a fractional index, cubic between samples (Catmull-Rom).
double At(const std::vector<double>& y, double k) {
  const long n = static_cast<long>(y.size());
  const double f0 = std::floor(k);
  const long i = static_cast<long>(f0);
  const double t = k - f0;
  const auto v = [&](long j) { return y[static_cast<std::size_t>(std::clamp(j, 0L, n - 1))]; };
  const double p0 = v(i - 1), p1 = v(i), p2 = v(i + 1), p3 = v(i + 2);
  return p1 + 0.5 * t *
                  (p2 - p0 + t * (2 * p0 - 5 * p1 + 4 * p2 - p3 + t * (3 * (p1 - p2) + p3 - p0)));
}

// A monotone cubic through knots (u, k), straight beyond the first and the
// last with the end intervals' slopes (Fritsch and Carlson).
class Warp {
 public:
  Warp(std::vector<double> u, std::vector<double> k) : u_(std::move(u)), k_(std::move(k)) {
    const std::size_t n = u_.size();
    std::vector<double> slope(n - 1);
    for (std::size_t j = 0; j + 1 < n; ++j) slope[j] = (k_[j + 1] - k_[j]) / (u_[j + 1] - u_[j]);
    tangent_.assign(n, 0.0);
    tangent_.front() = slope.front();
    tangent_.back() = slope.back();
    for (std::size_t j = 1; j + 1 < n; ++j) {
      const double a = slope[j - 1], b = slope[j];
      tangent_[j] = 2 * a * b / (a + b);  // harmonic mean: monotone, both positive
    }
  }
  double operator()(double u) const {
    if (u <= u_.front()) return k_.front() + (u - u_.front()) * tangent_.front();
    if (u >= u_.back()) return k_.back() + (u - u_.back()) * tangent_.back();
    const auto j = static_cast<std::size_t>(
        std::upper_bound(u_.begin(), u_.end(), u) - u_.begin() - 1);
    const double h = u_[j + 1] - u_[j];
    const double t = (u - u_[j]) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * k_[j] + (t3 - 2 * t2 + t) * h * tangent_[j] +
           (-2 * t3 + 3 * t2) * k_[j + 1] + (t3 - t2) * h * tangent_[j + 1];
  }
  double FirstSlope() const { return tangent_.front(); }
  double LastSlope() const { return tangent_.back(); }

 private:
  std::vector<double> u_, k_, tangent_;
};

}  // namespace

bool Synthesis::FollowCard() {
  const long n = static_cast<long>(samples_.size());
  const double spm = frame_.spm;
  const double sigma = frame_.sigma;
  const int slots = layout_.Slots();
  // The symbol and half its quiet zones: on a card whose speed changed,
  // the straight frame may miss its ends by a module or two.
  const double reach = 0.5 * QuietModules();
  const long from = ClampIndex(std::floor(frame_.K(-reach)), 0, n);
  const long to = ClampIndex(std::ceil(frame_.K(layout_.Length() + reach)), from, n);
  if (to - from < kMinSamples) return false;
  Spend(4 * n);

  // Local paper and ink over a little more than a character: every
  // character has a wide bar and paper beside it.
  double widest = 0;
  for (int slot = 0; slot < slots; ++slot) widest = std::max(widest, layout_.Advance(slot));
  const long h = std::max(kLeastLocal, std::lround(kLocalShare * widest * spm));
  const std::vector<double> hi = RunningExtreme(samples_, h, true);
  const std::vector<double> lo = RunningExtreme(samples_, h, false);

  // The turning points, paper and ink by turns: each a swing of at least
  // kSwing of the local contrast from the one before (a narrow space
  // between two bars, blurred and grown over, may never reach the middle,
  // yet it brightens). Between two of them lies an edge, where the samples
  // cross their middle.
  struct Turn {
    long at;
    double y;
  };
  std::vector<Turn> turns;
  Turn held{from, samples_[static_cast<std::size_t>(from)]};  // paper first
  bool heldPaper = true;
  for (long k = from; k < to; ++k) {
    const auto i = static_cast<std::size_t>(k);
    const double depth = hi[i] - lo[i];
    if (depth < kMinContrast) continue;
    const double swing = kSwing * depth;
    const double y = samples_[i];
    if (heldPaper ? y > held.y : y < held.y) {
      held = {k, y};
    } else if (heldPaper ? y < held.y - swing : y > held.y + swing) {
      turns.push_back(held);
      held = {k, y};
      heldPaper = !heldPaper;
    }
  }
  turns.push_back(held);
  std::vector<double> edges;
  for (std::size_t j = 0; j + 1 < turns.size(); ++j) {
    const double middle = 0.5 * (turns[j].y + turns[j + 1].y);
    const bool darkening = turns[j].y > turns[j + 1].y;
    long c = turns[j].at + 1;
    while (c < turns[j + 1].at &&
           (darkening ? samples_[static_cast<std::size_t>(c)] > middle
                      : samples_[static_cast<std::size_t>(c)] < middle))
      ++c;
    const double a = samples_[static_cast<std::size_t>(c - 1)] - middle;
    const double b = samples_[static_cast<std::size_t>(c)] - middle;
    const double frac = a != b ? std::clamp(a / (a - b), 0.0, 1.0) : 0.5;
    edges.push_back(static_cast<double>(c - 1) + frac);
  }
  // A void in a bar or a speck on a space is far narrower than any element
  // printed: its two edges go, the elements either side of it join.
  std::size_t expected = 0;
  for (int slot = 0; slot < slots; ++slot)
    expected += 2 * (slot == 0           ? layout_.Start().bars.size()
                     : slot + 1 == slots ? layout_.Stop().bars.size()
                                         : layout_.Alphabet().front().bars.size());
  while (edges.size() > expected && edges.size() >= 4) {
    std::size_t thinnest = 1;
    for (std::size_t i = 2; i + 2 < edges.size(); ++i)
      if (edges[i + 1] - edges[i] < edges[thinnest + 1] - edges[thinnest]) thinnest = i;
    if (edges[thinnest + 1] - edges[thinnest] >= kDefectModules * spm) break;
    edges.erase(edges.begin() + static_cast<long>(thinnest),
                edges.begin() + static_cast<long>(thinnest) + 2);
  }
  // Each slot's first edge is the start of its first bar, the last edge
  // ends the stop: knots that do not depend on the data, so that the
  // profile cannot bend toward any symbol, a wrong one under test included.
  std::vector<double> knotU, knotK;
  std::size_t edge = 0;
  for (int slot = 0; slot < slots; ++slot) {
    const Glyph& glyph = slot == 0           ? layout_.Start()
                         : slot + 1 == slots ? layout_.Stop()
                                             : layout_.Alphabet().front();
    if (edge >= edges.size()) return false;
    knotU.push_back(layout_.SlotStart(slot));
    knotK.push_back(edges[edge]);
    edge += 2 * glyph.bars.size();
  }
  if (edge != edges.size()) return false;  // an edge lost to blur, or one of noise
  knotU.push_back(layout_.Length());
  knotK.push_back(edges.back());
  for (std::size_t j = 0; j + 1 < knotK.size(); ++j)
    if (!(knotK[j + 1] > knotK[j]) || !(knotU[j + 1] > knotU[j])) return false;
  // The speed between knots against its mean.
  const double mean = (knotK.back() - knotK.front()) / (knotU.back() - knotU.front());
  double slowest = kInf, fastest = 0;
  for (std::size_t j = 0; j + 1 < knotK.size(); ++j) {
    // Samples per module fall where the card runs fast.
    // An Interleaved 2 of 5 start or stop of four modules tells too little.
    if (knotU[j + 1] - knotU[j] < kShortestInterval) continue;
    const double speed = mean * (knotU[j + 1] - knotU[j]) / (knotK[j + 1] - knotK[j]);
    slowest = std::min(slowest, speed);
    fastest = std::max(fastest, speed);
  }
  // A profile beyond what rollers do is no card's: it would bend anything.
  if (slowest < kSlowest || fastest > kFastest) return false;

  // The lamp and the paper: the quiet zones either side tell how bright the
  // paper is at each end, and the light falls on paper and ink alike.
  const double quiet = QuietModules();
  const auto meanOver = [&](double u0, double u1) {
    const long a = ClampIndex(std::floor(frame_.K(u0)), 0, n);
    const long b = ClampIndex(std::ceil(frame_.K(u1)), a, n);
    double sum = 0;
    for (long k = a; k < b; ++k) sum += samples_[static_cast<std::size_t>(k)];
    return std::pair{b - a >= kLeastPaper ? sum / static_cast<double>(b - a) : -1.0,
                     0.5 * static_cast<double>(a + b)};
  };
  // The paper from as far out as framing made sure of (kQuietLeeway) to
  // where the scored samples begin (ScoredFrom, ScoredTo; summed in this
  // order).
  const auto [paperLeft, atLeft] =
      meanOver(-quiet + kQuietLeeway, -kScoredModules - kScoredSigmas * sigma);
  const auto [paperRight, atRight] =
      meanOver(layout_.Length() + kScoredModules + kScoredSigmas * sigma,
               layout_.Length() + quiet - kQuietLeeway);
  const bool paperKnown = paperLeft > 0 && paperRight > 0 && atRight > atLeft;
  const double paperSlope = paperKnown ? (paperRight - paperLeft) / (atRight - atLeft) : 0.0;
  const double paperMid = paperKnown ? 0.5 * (paperLeft + paperRight) : frame_.space;
  const double paperAt = paperKnown ? 0.5 * (atLeft + atRight) : 0.0;
  const auto paper = [&](double k) {
    return std::max(paperMid + paperSlope * (k - paperAt), kLeastLight * paperMid);
  };
  const double levelChange =
      std::abs(paperSlope) * (knotK.back() - knotK.front()) / -frame_.contrast;
  const bool levels = levelChange > kEvenLevels;
  if (fastest / slowest - 1 < kEvenSpeed && !levels) return false;

  // The samples again, at the mean speed, levelled.
  const Warp warp(knotU, knotK);
  const double uFirst = knotU.front() - (knotK.front() - 0.0) / warp.FirstSlope();
  const double uLast =
      knotU.back() + (static_cast<double>(n - 1) - knotK.back()) / warp.LastSlope();
  const auto count = static_cast<long>(std::floor((uLast - uFirst) * mean)) + 1;
  if (count < kMinSamples || count > kMostResampled * n) return false;
  std::vector<double> out(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    const double k = std::clamp(warp(uFirst + static_cast<double>(i) / mean), 0.0,
                                static_cast<double>(n - 1));
    double y = At(samples_, k);
    if (levels) y *= paperMid / paper(k);
    out[static_cast<std::size_t>(i)] = y;
  }
  Spend(3 * count);
  samples_ = std::move(out);
  const bool reversed = reversed_;
  const bool framed = Frame(false);
  reversed_ = reversed;
  followed_ = {fastest / slowest - 1 >= kUnevenSpeed, slowest, fastest, levels ? levelChange : 0.0};
  return framed;
}

}  // namespace markwire::barcode::synthesis::detail
