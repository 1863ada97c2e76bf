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
constexpr double kEvenSpeed = 0.04;
constexpr double kEvenLevels = 0.08;
// A speed that changed by this share at least along the symbol leaves a
// misfit the model cannot take out: the guard then judges a classic
// reading on the rivals' evidence alone.
constexpr double kUnevenSpeed = 0.05;
// The speed between two knots may lie this far from the mean: ramps and
// wander of up to 15 % either way, and some leeway for the knots' noise.
constexpr double kSlowest = 0.75;
constexpr double kFastest = 1.33;
// Beyond the edges a symbol has, the shallowest turning points go first,
// and only those that swing less than this share of the local contrast: a
// void or a speck (a printed element, even a blurred narrow one, swings
// further).
constexpr double kDefectSwing = 0.5;
// Modules between two knots, at least, for their speed to count.
constexpr double kShortestInterval = 8.0;
// Modules beside a symbol's end, beyond three blur sigmas, before the
// quiet zone reads paper alone.
constexpr double kQuietBlur = 1.5;
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
  // The symbol and its quiet zones as far as framing made sure of: on a
  // card whose speed changed, the straight frame may miss its ends by a
  // module or two.
  const double reach = QuietModules() - kQuietLeeway;
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
  // A void in a bar or a speck on a space lightens or darkens it far less
  // than any printed element: beyond the edges the symbol has, the
  // shallowest such turning points go, the two either side of each joined.
  std::size_t expected = 0;
  for (int slot = 0; slot < slots; ++slot)
    expected += 2 * (slot == 0           ? layout_.Start().bars.size()
                     : slot + 1 == slots ? layout_.Stop().bars.size()
                                         : layout_.Alphabet().front().bars.size());
  while (turns.size() > expected + 1 && turns.size() >= 4) {
    std::size_t shallowest = 1;
    double least = kInf;
    for (std::size_t j = 1; j + 1 < turns.size(); ++j) {
      const auto i = static_cast<std::size_t>(turns[j].at);
      const double depth = std::max(hi[i] - lo[i], 1.0);
      const double swing = std::min(std::abs(turns[j].y - turns[j - 1].y),
                                    std::abs(turns[j].y - turns[j + 1].y)) / depth;
      if (swing < least) {
        least = swing;
        shallowest = j;
      }
    }
    if (least >= kDefectSwing) break;
    // The neighbours are both paper or both ink: the more extreme stays.
    const bool paper = turns[shallowest - 1].y > turns[shallowest].y;
    const Turn& before = turns[shallowest - 1];
    const Turn& after = turns[shallowest + 1];
    const bool keepBefore = paper ? before.y >= after.y : before.y <= after.y;
    const std::size_t dropped = keepBefore ? shallowest + 1 : shallowest - 1;
    turns.erase(turns.begin() + static_cast<long>(std::max(dropped, shallowest)));
    turns.erase(turns.begin() + static_cast<long>(std::min(dropped, shallowest)));
  }
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
  // Each slot's first edge is the start of its first bar: knots that do not
  // depend on the data, so that the profile cannot bend toward any symbol,
  // a wrong one under test included.
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
  // The stop's end is a knot too. For Code 39 where it lies against the
  // characters' starts depends on the gap between characters, which a
  // straight frame of a card whose speed changed misjudges: the characters
  // themselves tell it, each as wide against its pitch as every other.
  double stopEnd = layout_.Length();
  if (symbology_ == kCode39) {
    double share = 0;
    for (std::size_t j = 0; j + 1 < knotK.size(); ++j)
      share += (edges[10 * j + 9] - edges[10 * j]) / (knotK[j + 1] - knotK[j]);
    share /= static_cast<double>(knotK.size() - 1);
    stopEnd = layout_.SlotStart(slots - 1) + share * layout_.Advance(0);
  }
  knotU.push_back(stopEnd);
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
  // The paper's level in a quiet zone: the median over it, from beyond the
  // blur of the bar beside it, at the speed the knots found there.
  std::vector<double> zone;
  const auto paperOver = [&](double k0, double k1) {
    const long a = ClampIndex(std::floor(k0), 0, n);
    const long b = ClampIndex(std::ceil(k1), a, n);
    if (b - a < kLeastPaper) return std::pair{-1.0, 0.0};
    zone.assign(samples_.begin() + a, samples_.begin() + b);
    std::nth_element(zone.begin(), zone.begin() + static_cast<long>(zone.size() / 2), zone.end());
    return std::pair{zone[zone.size() / 2], 0.5 * static_cast<double>(a + b)};
  };
  const std::size_t last = knotK.size() - 1;
  const double spmFirst = (knotK[1] - knotK[0]) / (knotU[1] - knotU[0]);
  const double spmLast = (knotK[last] - knotK[last - 1]) / (knotU[last] - knotU[last - 1]);
  const double blurred = kQuietBlur + 3 * sigma;
  const auto [paperLeft, atLeft] =
      paperOver(knotK.front() - (quiet - kQuietLeeway) * spmFirst, knotK.front() - blurred * spmFirst);
  const auto [paperRight, atRight] =
      paperOver(knotK.back() + blurred * spmLast, knotK.back() + (quiet - kQuietLeeway) * spmLast);
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
  std::vector<double> origin(out.size()), gain(out.size());
  for (long i = 0; i < count; ++i) {
    const double k = std::clamp(warp(uFirst + static_cast<double>(i) / mean), 0.0,
                                static_cast<double>(n - 1));
    double y = At(samples_, k);
    const double level = levels ? paperMid / paper(k) : 1.0;
    const auto at = static_cast<std::size_t>(i);
    out[at] = y * level;
    origin[at] = OriginAt(k);
    gain[at] = GainAt(k) * level;
  }
  Spend(3 * count);
  samples_ = std::move(out);
  origin_ = std::move(origin);
  gain_ = std::move(gain);
  const bool reversed = reversed_;
  const bool framed = Frame(false);
  reversed_ = reversed;
  followed_ = {true, fastest / slowest - 1 >= kUnevenSpeed, slowest, fastest,
               levels ? levelChange : 0.0};
  return framed;
}

}  // namespace markwire::barcode::synthesis::detail
