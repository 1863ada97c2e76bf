// The test of a symbol, whether the second decoder found it or a classic
// decoder read it: every character against every other in its place, the
// best other symbol of the search, and the fit against the paper's noise.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {

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
    Spend(AddBars(layout_.GlyphAt(slot, data).bars, at[static_cast<std::size_t>(slot)], frame_, ks,
                  ke, dark, 1.0, scale[static_cast<std::size_t>(slot)]));
  const auto residualAt = [&](std::size_t i, double d) {
    const double r =
        samples_[static_cast<std::size_t>(ks) + i] - frame_.space - frame_.contrast * d;
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
  // What the symbol itself leaves over the samples before each one, so that
  // any stretch's share is a difference.
  std::vector<double> own(len + 1, 0.0);
  for (std::size_t i = 0; i < len; ++i) own[i + 1] = own[i] + residualAt(i, dark[i]);
  const auto ownIn = [&](long from, long to) {
    return own[static_cast<std::size_t>(to - ks)] - own[static_cast<std::size_t>(from - ks)];
  };
  // The residual over [from, to) once the characters in `slots` are taken
  // out of the symbol's darkness, and the sum of its squares.
  std::vector<double> residual;
  const auto without = [&](std::initializer_list<int> slotsOut, long from, long to) {
    std::vector<double> base(dark.begin() + (from - ks), dark.begin() + (to - ks));
    for (const int s2 : slotsOut)
      Spend(AddBars(layout_.GlyphAt(s2, data).bars, at[static_cast<std::size_t>(s2)], frame_, from,
                    to, base, -1.0, scale[static_cast<std::size_t>(s2)]));
    Spend(static_cast<long>(base.size()) / 2);
    residual.resize(base.size());
    for (std::size_t j = 0; j < base.size(); ++j)
      residual[j] =
          samples_[static_cast<std::size_t>(from) + j] - frame_.space - frame_.contrast * base[j];
    return Dot(residual.data(), residual.data(), residual.size());
  };
  GlyphBank bank, checks;
  std::vector<double> scores(alphabet);
  // Code 128: every other check character, on its own stretch.
  std::vector<double> checkWorse(alphabet, 0.0);
  std::pair<long, long> checkReach{ke, ke};
  if (checkSlot >= 0) {
    checkReach = Reach(checkSlot, at[static_cast<std::size_t>(checkSlot)], ks, ke);
    const auto [from, to] = checkReach;
    const double r2 = without({checkSlot}, from, to);
    bank.Place(*lattice_, frame_, from, to, at[static_cast<std::size_t>(checkSlot)],
               scale[static_cast<std::size_t>(checkSlot)]);
    bank.SseAll(residual.data(), r2, frame_.contrast, scores);
    for (std::size_t v = 0; v < alphabet; ++v) checkWorse[v] = scores[v] - ownIn(from, to);
  }
  // The check character when data character `slot` is glyph g instead.
  const auto checkWith = [&](int slot, int g) {
    const int weight = slot % 103;
    return ((check + weight * (g - data[static_cast<std::size_t>(slot - 1)])) % 103 + 103) % 103;
  };
  std::vector<double> least(alphabet), checkShare(alphabet, 0.0);
  for (int slot = 1; slot <= layout_.DataSlots(); ++slot) {
    Spend(bank.TakeWork() + checks.TakeWork());
    if (OutOfWork()) return verdict;  // refused: Run says why
    const auto si = static_cast<std::size_t>(slot);
    const int mine = data[si - 1];
    const auto [from, to] = Reach(slot, at[si], ks, ke);
    std::fill(least.begin(), least.end(), kInf);
    const bool apart = checkSlot < 0 || to <= checkReach.first || from >= checkReach.second;
    if (apart) {
      // Every other glyph here, nudged a little either way; the check
      // character that then belongs to the symbol adds its own share.
      const double r2 = without({slot}, from, to);
      const double before = ownIn(from, to);
      if (check >= 0) {
        for (std::size_t g = 0; g < alphabet; ++g) {
          const int v = checkWith(slot, static_cast<int>(g));
          checkShare[g] = v != check ? checkWorse[static_cast<std::size_t>(v)] : 0.0;
        }
      }
      for (const double nudge : {0.0, -kDriftStep, kDriftStep}) {
        bank.Place(*lattice_, frame_, from, to, at[si] + nudge, scale[si]);
        bank.SseAll(residual.data(), r2, frame_.contrast, scores);
        for (std::size_t g = 0; g < alphabet; ++g)
          least[g] = std::min(least[g], scores[g] - before);
      }
      for (std::size_t g = 0; g < alphabet; ++g) least[g] += checkShare[g];
    } else {
      // The last data character of Code 128 shares samples with the check
      // character: both change together.
      const long lo = std::min(from, checkReach.first);
      const long hi = std::max(to, checkReach.second);
      const auto span = static_cast<std::size_t>(hi - lo);
      without({slot, checkSlot}, lo, hi);
      const double before = ownIn(lo, hi);
      checks.Place(*lattice_, frame_, lo, hi, at[static_cast<std::size_t>(checkSlot)],
                   scale[static_cast<std::size_t>(checkSlot)]);
      const double c = frame_.contrast;
      for (const double nudge : {0.0, -kDriftStep, kDriftStep}) {
        bank.Place(*lattice_, frame_, lo, hi, at[si] + nudge, scale[si]);
        for (std::size_t g = 0; g < alphabet; ++g) {
          if (static_cast<int>(g) == mine) continue;
          const double* t = bank.Glyph(g);
          const double* u =
              checks.Glyph(static_cast<std::size_t>(checkWith(slot, static_cast<int>(g))));
          double changed = 0;
          Spend(static_cast<long>(span) / 4);
          for (std::size_t i = 0; i < span; ++i) {
            const double r = residual[i] - c * (t[i] + u[i]);
            changed += r * r;
          }
          least[g] = std::min(least[g], changed - before);
        }
      }
    }
    for (std::size_t g = 0; g < alphabet; ++g) {
      if (static_cast<int>(g) == mine) continue;
      const double margin = least[g] / variance;
      if (margin < verdict.margin) {
        verdict.margin = margin;
        verdict.weakest = slot - 1;
        verdict.weakestShown = layout_.Alphabet()[static_cast<std::size_t>(mine)].shown;
        verdict.alternativeShown = layout_.Alphabet()[g].shown;
        verdict.alternative = static_cast<int>(g);
      }
    }
  }
  Spend(bank.TakeWork() + checks.TakeWork());
  // The best other whole symbol the search kept, polished as this one was.
  if (runnerUp_ >= 0) {
    const std::vector<int> other = DataOf(runnerUp_);
    std::vector<double> ends = EndsOf(runnerUp_);
    double begin = 0;
    const double margin = (PolishEnds(other, begin, ends, ks, ke) - sse) / variance;
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
        layout_.Alphabet()[static_cast<std::size_t>(SymbolLayout::CheckValue(data))]
            .patterns.front());
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
  const double allowed = (quiet >= 0 ? 1.6 * quiet : unknown * unknown) + slack * slack;
  const bool explains = variance < allowed;
  verdict.fit = variance;
  verdict.clean = Clean(variance, quiet);
  // What the model misses is not noise: it repeats from sample to sample,
  // so the samples count for less than their number. For a symbol of the
  // search's own, the margin needed grows with what the symbol leaves beyond
  // the paper's noise; a classic decoder's symbol under test already has a
  // second, independent reading behind it.
  const double beyondNoise = quiet >= 0 ? variance / std::max(quiet, 4.0) : 1.0;
  const double needed = confirming
                            ? kConfirmMargin
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
                std::sqrt(variance), std::sqrt(std::max(quiet, 0.0)), -frame_.contrast,
                frame_.sigma);
  verdict.explanation += fit;
  return verdict;
}

}  // namespace markwire::barcode::synthesis::detail
