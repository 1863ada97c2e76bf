#include "barcode/synthesis/synthesis.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis {
namespace {

using detail::Synthesis;

// Both directions framed, the one whose ends fit better first; `outside`:
// a direction's ends or quiet zones lay outside the samples.
std::vector<Synthesis> FrameBoth(std::span<const double> samples, int symbology, int count,
                                 detail::Budget& budget, bool& outside) {
  std::vector<Synthesis> framed;
  for (const bool reversed : {false, true}) {
    Synthesis synthesis(samples, symbology, count, budget);
    if (synthesis.Frame(reversed))
      framed.push_back(std::move(synthesis));
    else
      outside = outside || synthesis.EndsOutside();
  }
  std::sort(framed.begin(), framed.end(),
            [](const Synthesis& a, const Synthesis& b) { return a.EndScore() < b.EndScore(); });
  return framed;
}

Verdict OutOfWork(Verdict verdict) {
  verdict.accepted = false;
  verdict.gaveUp = true;
  verdict.explanation = "gave up: the samples took more work than a read may spend";
  return verdict;
}

// What following the card took out, for the explanation.
std::string FollowedText(const Synthesis& synthesis) {
  const auto& followed = synthesis.FollowedCard();
  char text[160];
  std::snprintf(text, sizeof text,
                "followed the card (speed %.0f to %.0f %% of its mean, levels changing %.0f %% "
                "of the contrast): ",
                100 * followed.slowest, 100 * followed.fastest, 100 * followed.levels);
  return text;
}

// The other direction is searched only when its ends leave at most this
// many times the first's residual (EndScore): read the wrong way round, a
// start and a stop fit clearly worse.
constexpr double kOtherEnds = 3.0;
// A refused symbol with a character another fits clearly better is
// repaired at most this often: each repair costs a search.
constexpr int kRepairs = 3;
// A symbol read only backwards has to leave a third less than the best
// symbol read forwards: fit times 1.5 below it.
constexpr double kBackwardsBetter = 1.5;

// The search on each framed direction (copies: a refit moves the frame),
// the other only when the first fails and its ends fit nearly as well;
// then, with `follow`, on the card followed. Whatever runs out of work is
// refused.
// The card followed, once per waveform: the guard and the second decoder
// share it.
struct Followed {
  bool done = false;
  std::vector<Synthesis> framed;  // none, or the best-fitting direction followed
};

Verdict Run(std::vector<Synthesis> framed, std::span<const int> forced, bool outside,
            Followed* follow) {
  // Only the direction whose ends fit best is followed. (The other
  // direction's characters, read backwards, need not start with a bar: its
  // knots jump about; and read alone, a symbol backwards would escape the
  // test against the symbol read forwards.) A classic reading of a card
  // whose speed or light changed markedly is tested on the card followed
  // first: its straight frame would only spend the work refits and
  // polishing cost to fail (which of the two accepts it makes no
  // difference). The second decoder, with no reading behind it, searches
  // the straight frames first. Whatever the straight frames do not read,
  // the card followed may.
  std::string followedWhy;
  bool followedTried = false;
  if (follow) {
    if (!follow->done && !framed.empty()) {
      Synthesis copy = framed.front();
      const bool ok = copy.FollowCard();
      if (copy.OutOfWork()) return OutOfWork(Verdict{});
      if (ok) follow->framed.push_back(std::move(copy));
    }
    follow->done = true;
    if (!forced.empty() && !follow->framed.empty() &&
        follow->framed.front().FollowedCard().Marked()) {
      Verdict again = Run(follow->framed, forced, outside, nullptr);
      if (again.accepted || again.gaveUp) return again;
      followedWhy = "; then " + again.explanation;
      followedTried = true;
    }
  }
  Verdict best;
  best.explanation = outside ? "the symbol's ends or the paper beside them are not in the samples"
                             : "no symbol-like structure in the samples";
  for (std::size_t i = 0; i < framed.size(); ++i) {
    if (framed[i].OutOfWork()) return OutOfWork(std::move(best));
    if (i > 0 && framed[i].EndScore() > kOtherEnds * framed[0].EndScore()) break;
    // A first direction whose best symbol explains the samples down to the
    // paper's noise is the right one, even when that symbol was refused: a
    // symbol read the other way round would have to fit clearly better.
    if (i > 0 && best.clean) break;
    if (!framed[i].Search(forced)) continue;
    // A symbol not explained down to the paper's noise gets a frame fitted
    // to the whole of it and a second search.
    // Still not: the frame fitted once more with the characters where they
    // drifted, and polished again. A refit that explains the samples worse
    // than the frame before it (a long symbol whose speed wandered, fitted
    // straight, can lose its ends) is dropped.
    if (!framed[i].Polish()) {
      Synthesis before = framed[i];
      if (framed[i].Refit(false) && framed[i].Search(forced) && !framed[i].Polish() &&
          framed[i].Refit(true))
        framed[i].Polish();
      if (!(framed[i].Polished() < before.Polished()) && !framed[i].OutOfWork())
        framed[i] = std::move(before);
    }
    Verdict verdict = framed[i].Judge(!forced.empty());
    if (framed[i].OutOfWork()) return OutOfWork(std::move(verdict));
    if (!follow) verdict.explanation = FollowedText(framed[i]) + verdict.explanation;
    // A character that another fits clearly better in its place (the
    // search's drift steps are coarse): take the better one, place the
    // symbol again and judge it again, a few times. The guard's symbol is
    // only ever tested, never changed.
    for (int repair = 0; repair < kRepairs && forced.empty() && !verdict.accepted &&
                         verdict.margin < 0 && verdict.weakest >= 0 && verdict.alternative >= 0;
         ++repair) {
      std::vector<int> better = verdict.data;
      better[static_cast<std::size_t>(verdict.weakest)] = verdict.alternative;
      Synthesis again = framed[i];
      if (!again.Search(better)) break;
      again.Polish();
      Verdict repaired = again.Judge(false);
      if (again.OutOfWork()) return OutOfWork(std::move(repaired));
      if (!(repaired.fit < verdict.fit)) break;
      framed[i] = std::move(again);
      verdict = std::move(repaired);
    }
    // A symbol read only the other way round must explain the samples
    // clearly better than the best symbol read the first way.
    if (i > 0 && verdict.accepted && !(verdict.fit * kBackwardsBetter < best.fit)) {
      verdict.accepted = false;
      verdict.explanation =
          "read only backwards, and hardly better than forwards: " + verdict.explanation;
    }
    if (i == 0 || verdict.accepted) best = std::move(verdict);
    if (best.accepted) break;
  }
  if (!framed.empty() && framed[0].OutOfWork()) return OutOfWork(std::move(best));
  if (!best.accepted && follow && !follow->framed.empty() && !followedTried) {
    Verdict again = Run(follow->framed, forced, outside, nullptr);
    if (again.accepted || again.gaveUp) return again;
    followedWhy = "; then " + again.explanation;
  }
  if (!best.accepted) best.explanation += followedWhy;
  return best;
}

}  // namespace

// One budget for all the reader does with the waveform: framing, the guard
// and the second decoder.
struct SymbolReader::Framed {
  detail::Budget budget;
  std::vector<Synthesis> directions;
  bool outside = false;  // a direction's ends lay outside the samples
  Followed followed;
};

SymbolReader::SymbolReader(std::span<const double> samples, int symbology, int count,
                           long workBudget)
    : symbology_(symbology),
      count_(count),
      framed_(std::make_unique<Framed>(Framed{detail::Budget(workBudget), {}, false, {}})) {
  framed_->directions = FrameBoth(samples, symbology, count, framed_->budget, framed_->outside);
}

long SymbolReader::WorkSpent() const {
  return framed_->budget.Spent();
}

SymbolReader::~SymbolReader() = default;

Verdict SymbolReader::Decode() const {
  return Run(framed_->directions, {}, framed_->outside, &framed_->followed);
}

Verdict DecodeBySynthesis(std::span<const double> samples, int symbology, int count) {
  return SymbolReader(samples, symbology, count).Decode();
}

Verdict ConfirmPatterns(std::span<const double> samples, int symbology, int count,
                        const PatternList& patterns) {
  return SymbolReader(samples, symbology, count).Confirm(patterns);
}

Verdict SymbolReader::Confirm(const PatternList& patterns) const {
  const int symbology = symbology_;
  const SymbolLayout layout(symbology, count_, detail::kNominalWide, detail::kNominalGap);
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
  Verdict verdict = Run(framed_->directions, data, framed_->outside, &framed_->followed);
  if (verdict.data != data) verdict.accepted = false;
  return verdict;
}

}  // namespace markwire::barcode::synthesis
