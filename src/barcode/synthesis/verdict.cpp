// The test of a symbol, whether the second decoder found it or a classic
// decoder read it: its ends and quiet zones in the samples, every character
// (start and stop included) against every other that could stand in its
// place, the best other symbol of the search, and the fit, of the whole
// symbol and of each character, against the paper's noise.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {
namespace {

// Where the quiet zones show the paper's noise, the symbol may leave 1.6
// times its variance: the model's own misses (a spot not quite Gaussian,
// levels not quite flat) add a little to the noise.
constexpr double kExplainedNoise = 1.6;
// Where the card's speed wavers within a character, the model may miss by
// kSlackSharpness / sigma of the contrast (a sharper edge misses more for
// the same wander), at most kMostSlack.
constexpr double kSlackSharpness = 0.04;
constexpr double kMostSlack = 0.12;
// Without paper to measure the noise on, the symbol itself has to be
// explained within 3 % of the contrast.
constexpr double kUnknownNoiseMiss = 0.03;
// The margin a symbol of the search's own needs grows with what it leaves
// beyond the paper's noise, taken as no less than 4 (2 gray values): on
// cleaner paper still, a symbol's small misses would count as large.
constexpr double kLeastQuiet = 4.0;

}  // namespace

namespace {

// Linear between the points of `values`, held to its ends.
double Between(const std::vector<double>& values, double k, double otherwise) {
  if (values.empty() || !(k >= 0)) return values.empty() ? otherwise : values.front();
  const double last = static_cast<double>(values.size() - 1);
  if (k >= last) return values.back();
  const auto i = static_cast<std::size_t>(k);
  const double t = k - static_cast<double>(i);
  return values[i] + t * (values[i + 1] - values[i]);
}

}  // namespace

double Synthesis::OriginAt(double k) const {
  return Between(origin_, k, k);
}

double Synthesis::GainAt(double k) const {
  return Between(gain_, k, 1.0);
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
    Spend(AddBars(layout_.GlyphAt(slot, data).bars, at[static_cast<std::size_t>(slot)], frame_, ks,
                  ke, dark, 1.0, scale[static_cast<std::size_t>(slot)]));
  const auto residualAt = [&](std::size_t i, double d) {
    const double r =
        samples_[static_cast<std::size_t>(ks) + i] - frame_.space - frame_.contrast * d;
    return r * r;
  };
  double sse = 0;
  for (std::size_t i = 0; i < len; ++i) sse += residualAt(i, dark[i]);
  // The symbol where it lies in the samples given, levelling undone. Data
  // slots stand in text order whichever way round the symbol lies.
  verdict.rendered.reserve(len);
  for (std::size_t i = 0; i < len; ++i) {
    const double k = static_cast<double>(ks) + static_cast<double>(i);
    verdict.rendered.emplace_back(OriginAt(k),
                                  (frame_.space + frame_.contrast * dark[i]) / GainAt(k));
  }
  std::sort(verdict.rendered.begin(), verdict.rendered.end());
  for (int slot = 0; slot < slots; ++slot) {
    const auto& bars = layout_.GlyphAt(slot, data).bars;
    const auto si = static_cast<std::size_t>(slot);
    const double a =
        bars.empty() ? 0.0 : OriginAt(frame_.K(at[si] + bars.front().first * scale[si]));
    const double b =
        bars.empty() ? 0.0 : OriginAt(frame_.K(at[si] + bars.back().second * scale[si]));
    verdict.slotSpans.emplace_back(std::min(a, b), std::max(a, b));
  }
  const double variance =
      std::max(sse / static_cast<double>(std::max<std::size_t>(len, 1)), kNoiseFloor);

  // Every character of the symbol, the start and the stop included, against
  // every other character that could stand in its place, nudged a little
  // either way, everything else left as it is: how much worse does it
  // explain the samples? Each character on its own evidence: Code 128's check
  // character is a character like the others, not a reason to trust the
  // ones it sums (two wrong characters can keep it right).
  verdict.margin = kInf;
  int weakestSlot = -1;  // -1: the best other whole symbol
  const auto consider = [&](double margin, int slot, const Glyph& mine, const Glyph& rival,
                            int alternative) {
    if (!(margin < verdict.margin)) return;
    verdict.margin = margin;
    weakestSlot = slot;
    // Only a data character can be exchanged (Run's repair).
    verdict.weakest = layout_.IsData(slot) ? slot - 1 : -1;
    verdict.alternative = layout_.IsData(slot) ? alternative : -1;
    verdict.weakestShown = mine.shown;
    verdict.alternativeShown = rival.shown;
  };
  // What the symbol itself leaves over the samples before each one, so that
  // any stretch's share is a difference.
  std::vector<double> own(len + 1, 0.0);
  for (std::size_t i = 0; i < len; ++i) own[i + 1] = own[i] + residualAt(i, dark[i]);
  const auto ownIn = [&](long from, long to) {
    return own[static_cast<std::size_t>(to - ks)] - own[static_cast<std::size_t>(from - ks)];
  };
  // The residual over [from, to) once slot `out` is taken out of the
  // symbol's darkness, and the sum of its squares.
  std::vector<double> residual;
  const auto without = [&](int out, long from, long to) {
    std::vector<double> base(dark.begin() + (from - ks), dark.begin() + (to - ks));
    Spend(AddBars(layout_.GlyphAt(out, data).bars, at[static_cast<std::size_t>(out)], frame_, from,
                  to, base, -1.0, scale[static_cast<std::size_t>(out)]));
    Spend(static_cast<long>(base.size()) / 2);
    residual.resize(base.size());
    for (std::size_t j = 0; j < base.size(); ++j)
      residual[j] =
          samples_[static_cast<std::size_t>(from) + j] - frame_.space - frame_.contrast * base[j];
    return Dot(residual.data(), residual.data(), residual.size());
  };
  GlyphBank bank;
  std::vector<double> scores, least;
  const int check = layout_.IsCheck(layout_.DataSlots() + 1) ? SymbolLayout::CheckValue(data) : -1;
  for (int slot = 0; slot < slots; ++slot) {
    Spend(bank.TakeWork());
    if (OutOfWork()) return verdict;  // refused: Run says why
    const auto si = static_cast<std::size_t>(slot);
    const bool end = slot == 0 || slot + 1 == slots;
    // At either end what could stand there instead (for Code 39 the
    // alphabet), elsewhere the alphabet.
    const Rivals* const rivals = end ? rivals_[slot == 0 ? 0 : 1].get() : nullptr;
    const Lattice& lattice = rivals ? rivals->lattice : *lattice_;
    const std::span<const Glyph> others = rivals ? std::span<const Glyph>(rivals->glyphs)
                                                 : layout_.Alphabet();
    if (others.empty()) continue;
    const int mine = end ? -1 : layout_.IsCheck(slot) ? check : data[si - 1];
    const auto [from, to] = Reach(slot, at[si], ks, ke);
    const double r2 = without(slot, from, to);
    const double before = ownIn(from, to);
    least.assign(others.size(), kInf);
    for (const double nudge : {0.0, -kDriftStep, kDriftStep}) {
      bank.Place(lattice, frame_, from, to, at[si] + nudge, scale[si]);
      bank.SseAll(residual.data(), r2, frame_.contrast, scores);
      for (std::size_t g = 0; g < others.size(); ++g)
        least[g] = std::min(least[g], scores[g] - before);
    }
    const Glyph& glyph = layout_.GlyphAt(slot, data);
    for (std::size_t g = 0; g < others.size(); ++g)
      if (static_cast<int>(g) != mine)
        consider(least[g] / variance, slot, glyph, others[g], static_cast<int>(g));
  }
  Spend(bank.TakeWork());
  // The best other whole symbol the search kept, polished as this one was.
  if (runnerUp_ >= 0) {
    const std::vector<int> other = DataOf(runnerUp_);
    std::vector<double> ends = EndsOf(runnerUp_);
    double begin = 0;
    const double margin = (PolishEnds(other, begin, ends, ks, ke) - sse) / variance;
    if (margin < verdict.margin) {
      verdict.margin = margin;
      weakestSlot = -1;
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
  const double slack = std::min(kMostSlack, kSlackSharpness / frame_.sigma) * frame_.contrast;
  // Without paper to measure the noise on, the symbol itself has to be
  // explained that closely (a noisy waveform is then refused).
  const double unknown = kUnknownNoiseMiss * frame_.contrast;
  const double allowed = (quiet >= 0 ? kExplainedNoise * quiet : unknown * unknown) + slack * slack;
  const bool explains = variance < allowed;
  // The symbol's ends with paper beside them, wider than any space inside
  // the symbol, have to be in the samples: else the samples may hold a
  // longer symbol, or one cut off by the sensor's window.
  const long n = static_cast<long>(samples_.size());
  const auto lastSlot = static_cast<std::size_t>(slots - 1);
  const double quietModules = QuietModules();
  const double front = frame_.K(at.front() - quietModules);
  const double back =
      frame_.K(at[lastSlot] + scale[lastSlot] * layout_.Advance(slots - 1) + quietModules);
  const bool startIn = front >= 0, stopIn = back <= static_cast<double>(n - 1);
  // Every character has to be explained over its own samples as the whole
  // symbol is, within kCharacterFit times: from where it starts to where the
  // next one starts, the start from that much paper before it, the stop to
  // as much behind it (read as paper beyond the scored samples). A character
  // the model does not explain at all (a start that is something else, an
  // end cut off, bars where the paper should be) hides in the whole
  // symbol's average, not in its own.
  const long paperFrom = startIn ? ClampIndex(std::ceil(front), 0, ks) : ks;
  const long paperTo = stopIn ? ClampIndex(std::floor(back) + 1, ke, n) : ke;
  const auto paperIn = [&](long from, long to) {
    double sum = 0;
    for (long k = from; k < to; ++k) {
      const double r = samples_[static_cast<std::size_t>(k)] - frame_.space;
      sum += r * r;
    }
    return sum;
  };
  Spend((ks - paperFrom + paperTo - ke) / 2);
  double worstFit = 0;
  int worstSlot = 0;
  for (int slot = 0; slot < slots; ++slot) {
    const long from =
        slot == 0 ? ks : ClampIndex(std::floor(frame_.K(at[static_cast<std::size_t>(slot)])), ks, ke);
    const long to = slot + 1 == slots
                        ? ke
                        : ClampIndex(std::floor(frame_.K(at[static_cast<std::size_t>(slot + 1)])),
                                     from, ke);
    double sum = ownIn(from, to);
    long count = to - from;
    if (slot == 0) {
      sum += paperIn(paperFrom, ks);
      count += ks - paperFrom;
    }
    if (slot + 1 == slots) {
      sum += paperIn(ke, paperTo);
      count += paperTo - ke;
    }
    if (count <= 0) continue;
    const double fitHere = sum / static_cast<double>(count);
    if (fitHere > worstFit) {
      worstFit = fitHere;
      worstSlot = slot;
    }
  }
  // Once a card whose speed changed is followed, a classic decoder's
  // symbol is refused on evidence against it: a rival that fits clearly
  // better, or a character the samples contradict (one explained far worse
  // than the rest), not because the model still misses the card's motion
  // by a little. On a straight frame the misfit may be the card's wander,
  // under which the rivals' test is no evidence; a symbol of the search's
  // own has no second reading behind it. Both must explain the samples.
  const bool onEvidence = confirming && followed_.speedChanged;
  const bool charactersFit =
      worstFit < kCharacterFit * (onEvidence ? std::max(allowed, variance) : allowed);
  const bool ends = startIn && stopIn;
  verdict.fit = variance;
  verdict.clean = ends && Clean(variance, quiet);
  // What the model misses is not noise: it repeats from sample to sample,
  // so the samples count for less than their number. For a symbol of the
  // search's own, the margin needed grows with what the symbol leaves beyond
  // the paper's noise; a classic decoder's symbol under test already has a
  // second, independent reading behind it.
  const double beyondNoise = quiet >= 0 ? variance / std::max(quiet, kLeastQuiet) : 1.0;
  const double needed =
      confirming ? kConfirmMargin
                 : kAcceptMargin * std::max(1.0, std::sqrt(std::max(beyondNoise, 0.0))) *
                       (followed_.followed ? kFollowedMargin : 1.0);
  verdict.accepted =
      ends && (explains || onEvidence) && charactersFit && verdict.margin >= needed;
  const auto place = [&](int slot) -> std::string {
    if (slot == 0) return "the start";
    if (slot + 1 == slots) return "the stop";
    if (layout_.IsCheck(slot)) return "the check character";
    return "character " + std::to_string(slot);
  };
  const double paperNoise = std::sqrt(std::max(quiet, 0.0));
  char line[200];
  if (!startIn || !stopIn) {
    std::snprintf(line, sizeof line, "%s and %.0f modules of paper %s it are not in the samples",
                  startIn ? "the stop" : "the start", quietModules,
                  startIn ? "behind" : "before");
  } else if (!explains && verdict.margin >= needed) {
    std::snprintf(line, sizeof line,
                  "the symbol leaves %.1f gray values unexplained where the paper has %.1f",
                  std::sqrt(variance), paperNoise);
  } else if (!charactersFit && verdict.margin >= needed) {
    std::snprintf(line, sizeof line,
                  "%s \"%s\" leaves %.1f gray values unexplained where the paper has %.1f",
                  place(worstSlot).c_str(), layout_.GlyphAt(worstSlot, data).shown.c_str(),
                  std::sqrt(worstFit), paperNoise);
  } else if (weakestSlot < 0) {
    std::snprintf(line, sizeof line,
                  "the best other symbol (%s) fits worse by a margin of %.1f (%.0f needed)",
                  verdict.alternativeShown.c_str() + std::string_view("another symbol ").size(),
                  verdict.margin, needed);
  } else {
    std::snprintf(line, sizeof line,
                  "weakest %s \"%s\": \"%s\" in its place fits worse by a margin of "
                  "%.1f (%.0f needed)",
                  place(weakestSlot).c_str(), verdict.weakestShown.c_str(),
                  verdict.alternativeShown.c_str(), verdict.margin, needed);
  }
  verdict.explanation = line;
  char fit[160];
  std::snprintf(fit, sizeof fit,
                "; fit %.1f (%s %.1f), paper noise %.1f, contrast %.0f, blur %.2f",
                std::sqrt(variance), place(worstSlot).c_str(), std::sqrt(worstFit), paperNoise,
                -frame_.contrast, frame_.sigma);
  verdict.explanation += fit;
  return verdict;
}

}  // namespace markwire::barcode::synthesis::detail
