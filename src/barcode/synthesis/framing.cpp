// Framing: where the symbol lies in the samples, from its start and stop
// characters and the quiet zones beside them.
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {
namespace {

// A Code 39 character at its narrowest, wide:narrow 2 (3 x 2 + 6 modules):
// the next one cannot begin sooner.
constexpr double kCode39Narrowest = 12.0;
// An end's fit looks at this many modules of paper before the start or
// behind the stop, less than the least quiet zone (kQuietModules), and this
// far beyond the glyph's other end, a little into what follows it.
constexpr double kEndPaper = 4.0;
constexpr double kEndOverlap = 0.3;
// The coarse grid an end's fit starts from, around the first (last) dark
// sample: back to 2 modules outside it, where a faint narrow first bar and
// the narrow space behind it were missed, on to 1 inside, where the dark
// threshold caught the blur ahead of the edge; a sharp and a blurred spot;
// the least, the middle and the greatest printable wide ratio.
constexpr double kCoarseShiftFirst = -2.0;
constexpr double kCoarseShiftLast = 1.0;
constexpr double kCoarseShiftStep = 0.25;
constexpr double kCoarseSigmas[] = {0.3, 0.7};
constexpr double kCoarseWides[] = {2.0, kNominalWide, 3.0};
// The coordinate descent's first steps, halved each of its rounds: place
// (modules) the grid's spacing, wide ratio and blur about half of theirs,
// the glyph's own scale 4 %; four rounds end at an eighth of them (1/32
// module of place).
constexpr double kStepAt = 0.25;
constexpr double kStepSigma = 0.15;
constexpr double kStepWide = 0.25;
constexpr double kStepScale = 0.04;
constexpr int kDescentRounds = 4;
// From the coarse grid, every round's steps are tried twice: its point lies
// further off than a fit of the ends on the better scale.
constexpr int kCoarseSweeps = 2;
// The glyph's own scale against the symbol's: within a factor 1.25 either
// way (0.8 = 1 / 1.25), so that the wide ratio, free too, cannot trade
// against a scale far off the symbol's.
constexpr double kMinEndScale = 0.8;
constexpr double kMaxEndScale = 1.25;

}  // namespace

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
  const double anchor =
      left ? from.at
           : from.at + (StopGlyph(symbology_, from.wide).bars.back().second) * spm * from.scale;
  const long fixedStart = ClampIndex(
      std::ceil(left ? anchor - kEndPaper * spm : anchor - (kCode39Narrowest + kEndOverlap) * spm),
      0, n);
  const long fixedEnd = ClampIndex(
      std::ceil(left ? anchor + (kCode39Narrowest + kEndOverlap) * spm : anchor + kEndPaper * spm),
      fixedStart, n);
  // The glyph's own scale may differ a little from the symbol's: with the
  // wide ratio free too, a start or stop of wide and narrow elements pins
  // both, where the distance of the ends alone would trade one for the other.
  std::vector<std::pair<double, std::vector<Bar>>> glyphs;  // by wide ratio
  const auto barsAt = [&](double wide) -> const std::vector<Bar>& {
    for (const auto& [w, bars] : glyphs)
      if (w == wide) return bars;
    return glyphs
        .emplace_back(wide,
                      left ? StartGlyph(symbology_, wide).bars : StopGlyph(symbology_, wide).bars)
        .second;
  };
  const auto evaluate = [&](double at, double sigma, double wide, double scale) {
    const std::vector<Bar>& bars = barsAt(wide);
    detail::Frame f;
    f.k0 = at;
    f.spm = spm * scale;
    f.sigma = sigma;
    long ks = fixedStart, ke = fixedEnd;
    if (!fixedWindow) {
      const double last = bars.back().second;
      ks = ClampIndex(std::ceil(f.K(left ? -kEndPaper : -kEndOverlap)), 0, n);
      ke = ClampIndex(std::ceil(f.K(left ? last + kEndOverlap : last + kEndPaper)), ks, n);
    }
    if (ke - ks < kLeastFitted) return;
    d.assign(static_cast<std::size_t>(ke - ks), 0.0);
    Spend(AddBars(bars, 0, f, ks, ke, d) + (ke - ks) / 2);
    const LevelFit fit = FitLevels(std::span(samples_).subspan(static_cast<std::size_t>(ks),
                                                               static_cast<std::size_t>(ke - ks)),
                                   d);
    const double perSample = fit.sse / static_cast<double>(ke - ks);
    if (perSample < best.perSample) best = {at, sigma, wide, scale, fit, perSample};
  };
  if (coarse) {
    // `from.at` is where the symbol's first or last dark sample lies.
    for (double shift = kCoarseShiftFirst; shift <= kCoarseShiftLast + kCoarseShiftStep / 2;
         shift += kCoarseShiftStep)
      for (double sigma : kCoarseSigmas)
        for (double wide : wideMatters ? std::span<const double>(kCoarseWides)
                                       : std::span<const double>(&kNominalWide, 1))
          evaluate(from.at + (left ? shift : -shift) * spm, sigma, wide, 1.0);
  } else {
    evaluate(from.at, from.sigma, from.wide, 1.0);
  }
  // Coordinate descent with halving steps from the best grid point.
  double stepAt = kStepAt * spm, stepSigma = kStepSigma, stepWide = kStepWide,
         stepScale = kStepScale;
  for (int round = 0; round < kDescentRounds; ++round) {
    for (int again = 0; again < (coarse ? kCoarseSweeps : 1); ++again) {
      const EndFit was = best;
      evaluate(was.at - stepAt, was.sigma, was.wide, was.scale);
      evaluate(was.at + stepAt, was.sigma, was.wide, was.scale);
      if (was.sigma - stepSigma >= kMinSigma)
        evaluate(best.at, was.sigma - stepSigma, best.wide, best.scale);
      if (was.sigma + stepSigma <= kMaxSigma)
        evaluate(best.at, was.sigma + stepSigma, best.wide, best.scale);
      if (wideMatters) {
        if (was.wide - stepWide >= kMinWide)
          evaluate(best.at, best.sigma, was.wide - stepWide, best.scale);
        if (was.wide + stepWide <= kMaxWide)
          evaluate(best.at, best.sigma, was.wide + stepWide, best.scale);
      }
      if (fixedWindow && was.scale - stepScale >= kMinEndScale)
        evaluate(best.at, best.sigma, best.wide, was.scale - stepScale);
      if (fixedWindow && was.scale + stepScale <= kMaxEndScale)
        evaluate(best.at, best.sigma, best.wide, was.scale + stepScale);
    }
    stepAt /= 2;
    stepSigma /= 2;
    stepWide /= 2;
    stepScale /= 2;
  }
  return best;
}

namespace {

// Paper and ink, roughly: the samples' 90th and 5th percentiles, most of a
// waveform being paper, and the few brightest and darkest (glare, specks)
// left out.
constexpr long kPaperPercentile = 90;
constexpr long kInkPercentile = 5;
// Paper nearby: the brightest within a sixteenth of the samples either way,
// at least 8, wide enough to find paper beside any bar and narrow enough to
// follow the light falling along the card.
constexpr long kNearShare = 16;
constexpr long kNearLeast = 8;
// A sample 30 % of the way from the paper nearby to the ink is dark: a
// blurred narrow bar reaches that far short of full ink, the paper's noise
// seldom does.
constexpr double kDarkShare = 0.3;
// Fewer samples than this from the first dark one to the last are far less
// than the shortest symbol covers at kMinModuleSamples.
constexpr long kLeastDark = 8;
// Above half again kKeptModuleSamples a module, whole groups of samples are
// averaged into one (from twice kKeptModuleSamples on groups of two or more;
// below, groups of one leave the samples as they are).
constexpr double kAverageAbove = 4.5;
constexpr double kKeptModuleSamples = 3.0;
// The ends fitted again on the scale their distance gives, this often: the
// refit after the search fits the whole symbol's scale anyway.
constexpr int kEndRefits = 1;

}  // namespace

bool Synthesis::Frame(bool reversed) {
  reversed_ = reversed;
  if (reversed) {
    std::reverse(samples_.begin(), samples_.end());
    std::reverse(origin_.begin(), origin_.end());
    std::reverse(gain_.begin(), gain_.end());
  }
  const long n = static_cast<long>(samples_.size());
  if (n < kMinSamples) return false;
  std::vector<double> sorted = samples_;
  std::sort(sorted.begin(), sorted.end());
  const double paper = sorted[static_cast<std::size_t>(n * kPaperPercentile / 100)];
  const double ink = sorted[static_cast<std::size_t>(n * kInkPercentile / 100)];
  if (!(paper - ink >= kMinContrast)) return false;
  // Dark against the paper nearby: the lamp and the paper may fade along
  // the card, so that paper at one end reads as dark as ink at the other.
  const std::vector<double> near =
      RunningExtreme(samples_, std::max(kNearLeast, n / kNearShare), true);
  Spend(2 * n);
  long first = -1, last = -1;
  for (long k = 0; k < n; ++k) {
    const double local = std::min(paper, near[static_cast<std::size_t>(k)]);
    if (samples_[static_cast<std::size_t>(k)] < local - kDarkShare * (local - ink)) {
      if (first < 0) first = k;
      last = k;
    }
  }
  if (first < 0 || last - first < kLeastDark) return false;

  // Scale, ends, blur and wide ratio: the ends first on a rough scale, then
  // again on the scale their distance gives.
  double wide = kNominalWide;
  SymbolLayout layout(symbology_, count_, wide, kNominalGap);
  if (!layout.Valid()) return false;
  double spm = static_cast<double>(last + 1 - first) / layout.Length();
  if (!(spm >= kMinModuleSamples)) return false;
  // Many samples a module tell no more than three, averaged: the search
  // works on fewer, less noisy samples (the averaging adds a little blur,
  // which the fit absorbs).
  if (spm > kAverageAbove) {
    const auto factor = static_cast<std::size_t>(spm / kKeptModuleSamples);
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
  double gap = kNominalGap;
  for (int round = 0; round < kEndRefits; ++round) {
    wide = symbology_ == kCode39            ? left.wide
           : symbology_ == kInterleaved2of5 ? right.wide
                                            : kNominalWide;
    if (symbology_ == kCode39) {
      const double pitch = (right.at - left.at) / (spm * left.scale * (count_ + 1));
      gap =
          std::isfinite(pitch) ? std::clamp(pitch - (3 * wide + 6), kMinGap, kMaxGap) : kNominalGap;
    }
    layout = SymbolLayout(symbology_, count_, wide, gap);
    spm = (right.at - left.at) / layout.SlotStart(layout.Slots() - 1);
    if (!(spm >= kMinModuleSamples) || !std::isfinite(spm)) return false;
    left = FitEnd(true, left, spm, false);
    right = FitEnd(false, right, spm, false);
  }
  if (!std::isfinite(left.perSample) || !std::isfinite(right.perSample)) return false;
  layout_ = std::move(layout);
  // No symbol without its ends and the paper beside them in the samples
  // (a module's leeway: the refit may still move the ends; the test is
  // exact).
  const double quiet = (QuietModules() - kQuietLeeway) * spm;
  if (left.at - quiet < 0 ||
      left.at + layout_.Length() * spm + quiet > static_cast<double>(n - 1)) {
    endsOutside_ = true;
    return false;
  }
  BuildLattices();
  frame_.k0 = left.at;
  frame_.spm = spm;
  frame_.sigma = 0.5 * (left.sigma + right.sigma);
  frame_.space = 0.5 * (left.levels.space + right.levels.space);
  frame_.contrast = 0.5 * (left.levels.contrast + right.levels.contrast);
  if (!(-frame_.contrast >= kMinContrast)) return false;
  noise_ = std::max(0.5 * (left.perSample + right.perSample), kNoiseFloor);
  endScore_ = (left.perSample + right.perSample) / (frame_.contrast * frame_.contrast);
  return true;
}

}  // namespace markwire::barcode::synthesis::detail
