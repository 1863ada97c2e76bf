// The beam search: symbols grown one character at a time through the
// alphabet, each scored on the samples up to where the next character
// begins to show.
#include <algorithm>
#include <cmath>
#include <vector>

#include "barcode/symbols/code128_check.h"
#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {

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
// starts, where the next character's blur begins to show (kFaintSigmas
// before it, but no more than kMostLookAhead modules: a data character is 11
// modules or wider, so it keeps most of its own samples however blurred);
// the last one's through the quiet zone behind it (ScoredTo).
double Synthesis::SlotReachEnd(int slot, double offset) const {
  constexpr double kMostLookAhead = 3.0;
  const double margin = std::min(kFaintSigmas * frame_.sigma, kMostLookAhead);
  if (slot + 1 >= layout_.Slots()) return ScoredTo(layout_.Length() + offset, frame_.sigma);
  return layout_.SlotStart(slot + 1) + offset - margin;
}

// The samples a character placed at `at` darkens at all, within [ks, ke):
// its edges' reach (EdgeReach, 4 sigma and a quarter module) and more, for
// the rivals nudged a drift step either way and a character stretched by
// drift.
std::pair<long, long> Synthesis::Reach(int slot, double at, long ks, long ke) const {
  constexpr double kReachSigmas = 5.0;
  constexpr double kReachModules = 1.0;
  const double reach = kReachSigmas * frame_.sigma + kReachModules;
  return {ClampIndex(std::floor(frame_.K(at - reach)), ks, ke),
          ClampIndex(std::ceil(frame_.K(at + layout_.Advance(slot) + reach)), ks, ke)};
}

// Every glyph's darkness over a stretch of samples, by (first sample,
// place): parents that drifted alike share them. The key counts offsets in
// quarter drift steps and places in 1/64 module, finer than any two places
// the search makes differ by, so that only rounding is absorbed.
GlyphBank& Synthesis::Bank(std::size_t& pooled, long ks, long ke, double at, double scale,
                           double offset) {
  const std::pair<long, long> key{
      ks, std::lround(offset / kDriftStep * 4) * 100000 + std::lround(at * 64)};
  for (std::size_t i = 0; i < pooled; ++i)
    if (scratch_.poolKeys[i] == key) return scratch_.pool[i];
  if (scratch_.pool.size() <= pooled) {
    scratch_.pool.emplace_back();
    scratch_.poolKeys.emplace_back();
  }
  scratch_.poolKeys[pooled] = key;
  scratch_.pool[pooled].Place(*lattice_, frame_, ks, ke, at, scale);
  return scratch_.pool[pooled++];
}

bool Synthesis::Search(std::span<const int> forced) {
  nodes_.clear();
  best_ = runnerUp_ = -1;
  const long n = static_cast<long>(samples_.size());
  const std::span<const double> y(samples_);
  const double space = frame_.space;
  const double contrast = frame_.contrast;

  // The start character, with the quiet zone before it. In a frame of the
  // refit, fitted to the whole symbol, the start may lie a little off:
  // there it is tried up to a module either way too, its own place first.
  firstScored_ = ClampIndex(std::floor(frame_.K(ScoredFrom(frame_.sigma))), 0, n);
  const int shifts = refitted_ ? static_cast<int>(std::floor(kStartShift / kDriftStep + 1e-9)) : 0;
  nodes_.reserve(static_cast<std::size_t>(layout_.Slots()) * kBeamWidth + 2 * shifts + 1);
  std::vector<int> beam;
  std::vector<double> d;
  for (int k = 0; k <= 2 * shifts; ++k) {
    const double shift = (k % 2 == 0 ? 1 : -1) * ((k + 1) / 2) * kDriftStep;
    Node root;
    root.sum = SymbolLayout::CheckValue({});
    root.at = PlaceSlot(layout_, 0, shift, shift).at;
    root.offset = shift;
    root.scoredTo = ClampIndex(std::ceil(frame_.K(SlotReachEnd(0, shift))), firstScored_, n);
    d.assign(static_cast<std::size_t>(root.scoredTo - firstScored_), 0.0);
    Spend(AddBars(layout_.Start().bars, root.at, frame_, firstScored_, root.scoredTo, d));
    for (std::size_t i = 0; i < d.size(); ++i) {
      const double r = y[static_cast<std::size_t>(firstScored_) + i] - space - contrast * d[i];
      root.sse += r * r;
    }
    beam.push_back(static_cast<int>(nodes_.size()));
    nodes_.push_back(root);
  }

  std::vector<double> carry, residual, squares, templ;
  std::vector<std::size_t> tried;
  std::vector<double> straight;
  const std::size_t alphabet = layout_.Alphabet().size();
  const double steps[] = {0.0, -kDriftStep, kDriftStep};
  const double maxDrift = MaxDrift();
  // Where a child of `parent` with drift step s ends, and what it scores to.
  const auto offsetOf = [&](const Node& parent, int s) {
    return std::clamp(parent.offset + steps[s], -maxDrift, maxDrift);
  };
  const auto endOf = [&](const Node& parent, int slot, double offset) {
    return ClampIndex(std::ceil(frame_.K(SlotReachEnd(slot, offset))), parent.scoredTo, n);
  };
  for (int slot = 1; slot < layout_.Slots(); ++slot) {
    for (std::size_t i = 0; i < scratch_.pool.size(); ++i) Spend(scratch_.pool[i].TakeWork());
    if (OutOfWork()) return false;
    // The best of every (parent, glyph) over the drift steps: its score and
    // step only; nodes are made for the few the beam keeps.
    const bool shared = layout_.IsData(slot) && forced.empty();
    const std::size_t choices = shared ? alphabet : 1;
    std::vector<Trial>& trials = scratch_.trials;
    trials.assign(beam.size() * choices, Trial{});
    std::size_t pooled = 0;
    for (std::size_t beamIndex = 0; beamIndex < beam.size(); ++beamIndex) {
      const Node& parent = nodes_[static_cast<std::size_t>(beam[beamIndex])];
      Trial* const mine = trials.data() + beamIndex * choices;
      // Every step's stretch starts where the parent's scoring ended; what
      // the characters before carry into it is computed once, over the
      // longest.
      double offsets[3];
      long ends[3];
      const long ks = parent.scoredTo;
      long longest = ks;
      for (int s = 0; s < 3; ++s) {
        offsets[s] = offsetOf(parent, s);
        ends[s] = endOf(parent, slot, offsets[s]);
        longest = std::max(longest, ends[s]);
      }
      const auto span = static_cast<std::size_t>(longest - ks);
      carry.assign(span, 0.0);
      Spend(AddBars(PlacedBars(beam[beamIndex], 2), 0, frame_, ks, longest, carry) +
            static_cast<long>(span) / 4 + static_cast<long>(choices));
      residual.resize(span);
      squares.assign(span + 1, 0.0);  // squares[i]: the residual's squares before i
      for (std::size_t i = 0; i < span; ++i) {
        residual[i] = y[static_cast<std::size_t>(ks) + i] - space - contrast * carry[i];
        squares[i + 1] = squares[i] + residual[i] * residual[i];
      }
      // Every glyph straight on; only the few best of them drifted too.
      tried.resize(choices);
      for (std::size_t c = 0; c < choices; ++c) tried[c] = c;
      for (int s = 0; s < 3; ++s) {
        if (steps[s] != 0 && tried.size() > kDriftedGlyphs) {
          std::partial_sort(
              tried.begin(), tried.begin() + static_cast<long>(kDriftedGlyphs), tried.end(),
              [&](std::size_t a, std::size_t b) { return mine[a].score < mine[b].score; });
          tried.resize(kDriftedGlyphs);
        }
        const double offset = offsets[s];
        if (steps[s] != 0 && offset == parent.offset) continue;
        const long ke = ends[s];
        const auto len = static_cast<std::size_t>(ke - ks);
        // The character starts where the one before ended and stretches to
        // its new offset: the drift is followed smoothly, never by jumps.
        const auto [at, scale] = PlaceSlot(layout_, slot, parent.offset, offset);
        GlyphBank* bank = shared ? &Bank(pooled, ks, ke, at, scale, offset) : nullptr;
        // Straight on, every glyph at once through the edges; drifted, the
        // few tried one by one.
        if (bank && s == 0) bank->SseAll(residual.data(), squares[len], contrast, straight);
        for (const std::size_t choice : tried) {
          double sse = 0;
          if (bank && s == 0) {
            sse = straight[choice];
          } else if (bank) {
            sse = bank->Sse(choice, residual.data(), squares[len], contrast);
          } else {
            Node child;
            child.slot = slot;
            child.glyph = layout_.IsData(slot)    ? forced[static_cast<std::size_t>(slot - 1)]
                          : layout_.IsCheck(slot) ? parent.sum
                                                  : -1;
            templ.assign(len, 0.0);
            Spend(AddBars(GlyphOf(child).bars, at, frame_, ks, ke, templ, 1.0, scale) +
                  static_cast<long>(len) / 4);
            for (std::size_t i = 0; i < len; ++i) {
              const double r = residual[i] - contrast * templ[i];
              sse += r * r;
            }
          }
          const double total = parent.sse + sse;
          const double score = total - static_cast<double>(ke) * noise_;
          Trial& kept = mine[choice];
          if (kept.step < 0 || score < kept.score) kept = {score, total, s};
        }
      }
    }
    // The beam: the best trials, ties to the earlier parent and glyph.
    Spend(static_cast<long>(trials.size()));
    std::vector<std::pair<double, std::size_t>>& order = scratch_.order;
    order.clear();
    for (std::size_t i = 0; i < trials.size(); ++i)
      if (trials[i].step >= 0) order.emplace_back(trials[i].score, i);
    // Behind starts tried in several places, each first character keeps only
    // its best start.
    const bool starts = slot == 1 && beam.size() > 1;
    const std::size_t keep = std::min(kBeamWidth, order.size());
    if (starts) {
      std::sort(order.begin(), order.end());
      std::vector<char> taken(choices, 0);
      std::size_t kept = 0;
      for (const auto& entry : order)
        if (!taken[entry.second % choices]) {
          taken[entry.second % choices] = 1;
          order[kept++] = entry;
        }
      order.resize(kept);
    } else {
      std::partial_sort(order.begin(), order.begin() + static_cast<long>(keep), order.end());
    }
    std::vector<int> next;
    for (std::size_t k = 0; k < std::min(keep, order.size()); ++k) {
      const std::size_t i = order[k].second;
      const int parentIndex = beam[i / choices];
      const Node parent = nodes_[static_cast<std::size_t>(parentIndex)];
      const Trial& trial = trials[i];
      Node child;
      child.parent = parentIndex;
      child.slot = slot;
      child.glyph = layout_.IsData(slot)    ? (shared ? static_cast<int>(i % choices)
                                                      : forced[static_cast<std::size_t>(slot - 1)])
                    : layout_.IsCheck(slot) ? parent.sum
                                            : -1;
      child.offset = offsetOf(parent, trial.step);
      const Placement placed = PlaceSlot(layout_, slot, parent.offset, child.offset);
      child.at = placed.at;
      child.scale = placed.scale;
      child.scoredTo = endOf(parent, slot, child.offset);
      child.sse = trial.sse;
      child.sum = parent.sum;
      if (layout_.IsData(slot)) child.sum = code128::AddToCheck(parent.sum, slot, child.glyph);
      next.push_back(static_cast<int>(nodes_.size()));
      nodes_.push_back(child);
    }
    beam = std::move(next);
    if (beam.empty()) return false;
  }
  for (std::size_t i = 0; i < scratch_.pool.size(); ++i) Spend(scratch_.pool[i].TakeWork());
  best_ = beam.front();
  // The best other symbol: other characters, not only another drift.
  const std::vector<int> data = DataOf(best_);
  for (std::size_t k = 1; k < beam.size() && runnerUp_ < 0; ++k)
    if (DataOf(beam[k]) != data) runnerUp_ = beam[k];
  return true;
}

}  // namespace markwire::barcode::synthesis::detail
