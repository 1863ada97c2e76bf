// Framing: where the symbol lies in the samples, from its start and stop
// characters and the quiet zones beside them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {

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
  const double anchor =
      left ? from.at
           : from.at + (StopGlyph(symbology_, from.wide).bars.back().second) * spm * from.scale;
  const long fixedStart =
      ClampIndex(std::ceil(left ? anchor - 4 * spm : anchor - (narrowest + 0.3) * spm), 0, n);
  const long fixedEnd = ClampIndex(
      std::ceil(left ? anchor + (narrowest + 0.3) * spm : anchor + 4 * spm), fixedStart, n);
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
      ks = ClampIndex(std::ceil(f.K(left ? -4.0 : -0.3)), 0, n);
      ke = ClampIndex(std::ceil(f.K(left ? last + 0.3 : last + 4.0)), ks, n);
    }
    if (ke - ks < 4) return;
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
    for (double shift = -2.0; shift <= 1.01; shift += 0.25)
      for (double sigma : {0.3, 0.7})
        for (double wide :
             wideMatters ? std::vector<double>{2.0, 2.5, 3.0} : std::vector<double>{2.5})
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
        if (was.wide - stepWide >= 1.8)
          evaluate(best.at, best.sigma, was.wide - stepWide, best.scale);
        if (was.wide + stepWide <= 3.2)
          evaluate(best.at, best.sigma, was.wide + stepWide, best.scale);
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
  // Dark against the paper nearby: the lamp and the paper may fade along
  // the card, so that paper at one end reads as dark as ink at the other.
  const std::vector<double> near = RunningExtreme(samples_, std::max(8L, n / 16), true);
  Spend(2 * n);
  long first = -1, last = -1;
  for (long k = 0; k < n; ++k) {
    const double local = std::min(paper, near[static_cast<std::size_t>(k)]);
    if (samples_[static_cast<std::size_t>(k)] < local - 0.3 * (local - ink)) {
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
  // No symbol without its ends and the paper beside them in the samples
  // (a module's leeway: the refit may still move the ends; the test is
  // exact).
  const double quiet = (QuietModules() - 1) * spm;
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
  noise_ = std::max(0.5 * (left.perSample + right.perSample), 0.25);
  endScore_ = (left.perSample + right.perSample) / (frame_.contrast * frame_.contrast);
  return true;
}

}  // namespace markwire::barcode::synthesis::detail
