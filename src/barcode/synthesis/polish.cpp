// After the search: the frame fitted again to the whole symbol, and each
// character's end moved to where it explains the samples best.
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "barcode/synthesis/engine.h"

namespace markwire::barcode::synthesis::detail {
namespace {

// The refit's first steps, halved each of its rounds: the ends by 0.3 module
// (the frame from the start and stop alone is off by a fraction of one), the
// blur by 0.1 module, the wide ratio by 0.2, the ink spread by 0.1 module,
// the Code 39 gap by 0.3 module; five rounds end at a sixteenth of them.
constexpr double kRefitStepEnds = 0.3;
constexpr double kRefitStepSigma = 0.1;
constexpr double kRefitStepWide = 0.2;
constexpr double kRefitStepSpread = 0.1;
constexpr double kRefitStepGap = 0.3;
constexpr int kRefitRounds = 5;
// Ink spread, either way, up to half a narrow element: beyond, the narrow
// spaces (or bars) would keep less than half their width.
constexpr double kMaxSpread = 0.5;
// Fewer samples than the eight numbers fitted (six parameters, two levels)
// tell nothing.
constexpr std::size_t kRefitLeastSamples = 8;
// A polish moves each end by half a drift step, then a quarter, then an
// eighth: the search placed it to a drift step.
constexpr double kPolishSteps[] = {0.1, 0.05, 0.025};

}  // namespace

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
  // Where the start begins against its straight place.
  const double first =
      keepDrift ? nodes_[static_cast<std::size_t>(chain.front())].at - layout_.SlotStart(0) : 0.0;
  const long n = static_cast<long>(samples_.size());
  const bool wideMatters = symbology_ == kCode39 || symbology_ == kInterleaved2of5;
  const bool gapMatters = symbology_ == kCode39;
  std::vector<std::pair<std::pair<double, double>, SymbolLayout>> layouts;
  const auto layoutAt = [&](double wide, double gap) -> const SymbolLayout& {
    for (const auto& [key, layout] : layouts)
      if (key.first == wide && key.second == gap) return layout;
    Spend(kLayoutWork);
    return layouts.emplace_back(std::pair{wide, gap}, SymbolLayout(symbology_, count_, wide, gap))
        .second;
  };
  // The symbol's two ends in samples, its blur and wide ratio; the scale
  // follows from the ends, so a new wide ratio keeps the ends in place.
  struct Params {
    double k0, end, sigma, wide, spread, gap;
  };
  // A long symbol is fitted on kRefitSlots of its characters spread evenly
  // over it, both ends among them: they pin the frame, the speed's slow
  // wandering averaged as over the whole, for a fixed amount of work
  // whatever the symbol's length. Each of them is looked at over the
  // samples it covered in the frame as it was, the same for every trial, so
  // that trials compare on the same samples (a whole symbol is looked at
  // from quiet zone to quiet zone as each trial places it).
  struct Stretch {
    int slot;
    long ks, ke;
  };
  const int slots = layout_.Slots();
  const auto evenly = [&](int count) {
    std::vector<Stretch> stretches;
    for (int j = 0; j < count; ++j) {
      const int slot =
          static_cast<int>(std::lround(static_cast<double>(j) * (slots - 1) / (count - 1)));
      const auto startOf = [&](int s) {
        const auto si = static_cast<std::size_t>(s);
        return PlaceSlot(layout_, s, s == 0 ? first : ends[si - 1], ends[si]).at;
      };
      const long ks = ClampIndex(slot == 0 ? std::floor(frame_.K(ScoredFrom(frame_.sigma)))
                                           : std::floor(frame_.K(startOf(slot))),
                                 stretches.empty() ? 0 : stretches.back().ke, n);
      const long ke = ClampIndex(slot + 1 == slots
                                     ? std::ceil(frame_.K(ScoredTo(layout_.Length(), frame_.sigma)))
                                     : std::ceil(frame_.K(startOf(slot + 1))),
                                 ks, n);
      stretches.push_back({slot, ks, ke});
    }
    return stretches;
  };
  const bool whole = slots <= kRefitSlots;
  const std::vector<Stretch> stretches = whole ? std::vector<Stretch>{} : evenly(kRefitSlots);
  std::vector<double> d, y;
  const auto fitOf = [&](const Params& p, LevelFit& levels) {
    if (OutOfWork()) return kInf;
    const SymbolLayout& layout = layoutAt(p.wide, p.gap);
    detail::Frame f = frame_;
    f.k0 = p.k0;
    f.spm = (p.end - p.k0) / layout.Length();
    f.sigma = p.sigma;
    f.spread = p.spread;
    if (!(f.spm >= kMinModuleSamples)) return kInf;
    // Slot `slot`'s darkness over samples [ks, ke) into out.
    const auto render = [&](int slot, long ks, long ke, std::span<double> out) {
      const auto si = static_cast<std::size_t>(slot);
      const double begin = slot == 0 ? first : ends[si - 1];
      const Placement placed = PlaceSlot(layout, slot, begin, ends[si]);
      Spend(AddBars(layout.GlyphAt(slot, data).bars, placed.at, f, ks, ke, out, 1.0, placed.scale));
    };
    d.clear();
    y.clear();
    if (whole) {
      const long ks = ClampIndex(std::floor(f.K(ScoredFrom(p.sigma))), 0, n);
      const long ke = ClampIndex(std::ceil(f.K(ScoredTo(layout.Length(), p.sigma))), ks, n);
      d.assign(static_cast<std::size_t>(ke - ks), 0.0);
      y.assign(samples_.begin() + ks, samples_.begin() + ke);
      for (int slot = 0; slot < slots; ++slot) render(slot, ks, ke, d);
    } else {
      for (const Stretch& stretch : stretches) {
        const std::size_t at = d.size();
        d.resize(at + static_cast<std::size_t>(stretch.ke - stretch.ks), 0.0);
        y.insert(y.end(), samples_.begin() + stretch.ks, samples_.begin() + stretch.ke);
        // The neighbours either side reach in with their blur.
        for (int slot = std::max(0, stretch.slot - 1); slot < std::min(slots, stretch.slot + 2);
             ++slot)
          render(slot, stretch.ks, stretch.ke, std::span(d).subspan(at));
      }
    }
    if (d.size() < kRefitLeastSamples) return kInf;
    Spend(static_cast<long>(d.size()) / 2);
    levels = FitLevels(y, d);
    return levels.sse / static_cast<double>(d.size());
  };
  Params best{frame_.k0,    frame_.K(layout_.Length()), frame_.sigma, layout_.Wide(), frame_.spread,
              layout_.Gap()};
  LevelFit levels;
  double bestFit = fitOf(best, levels);
  double steps[6] = {kRefitStepEnds * frame_.spm,
                     kRefitStepEnds * frame_.spm,
                     kRefitStepSigma,
                     wideMatters ? kRefitStepWide : 0.0,
                     kRefitStepSpread,
                     gapMatters ? kRefitStepGap : 0.0};
  for (int round = 0; round < kRefitRounds; ++round) {
    if (OutOfWork()) return false;
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
        if (p.sigma < kMinSigma || p.sigma > kMaxSigma || p.wide < kMinWide || p.wide > kMaxWide ||
            std::fabs(p.spread) > kMaxSpread || p.gap < kMinGap || p.gap > kMaxGap)
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
  refitted_ = true;
  frame_.k0 = best.k0;
  frame_.spm = (best.end - best.k0) / layoutAt(best.wide, best.gap).Length();
  frame_.sigma = best.sigma;
  frame_.spread = best.spread;
  frame_.space = levels.space;
  frame_.contrast = levels.contrast;
  noise_ = std::max(bestFit, kNoiseFloor);
  if (best.wide != layout_.Wide() || best.gap != layout_.Gap()) {
    layout_ = layoutAt(best.wide, best.gap);
    BuildLattices();
  }
  // The best symbol in the new frame, for a polish without a new search.
  for (int slot = 0; slot < layout_.Slots(); ++slot) {
    const auto si = static_cast<std::size_t>(slot);
    if (chain[si] < 0) continue;
    Node& node = nodes_[static_cast<std::size_t>(chain[si])];
    node.offset = ends[si];
    const double begin = slot == 0 ? first : ends[si - 1];
    const Placement placed = PlaceSlot(layout_, slot, begin, ends[si]);
    node.at = placed.at;
    node.scale = placed.scale;
  }
  firstScored_ = ClampIndex(std::floor(frame_.K(ScoredFrom(frame_.sigma))), 0, n);
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
  // Eight pairs at least: fewer tell the variance to no better than about
  // half of itself.
  constexpr long kLeastPairs = 8;
  return pairs >= kLeastPairs ? sum / (2.0 * static_cast<double>(pairs)) : -1.0;
}

std::vector<double> Synthesis::EndsOf(int nodeIndex) const {
  std::vector<double> ends(static_cast<std::size_t>(layout_.Slots()), 0.0);
  for (int i = nodeIndex; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    ends[static_cast<std::size_t>(node.slot)] = node.offset;
  }
  return ends;
}

double Synthesis::PolishEnds(std::span<const int> data, double& begin, std::vector<double>& ends,
                             long ks, long ke) const {
  const int slots = layout_.Slots();
  if (ke - ks < kLeastFitted) return kInf;
  // Where each character begins and ends against its straight place:
  // bound[j] where character j begins, bound[j + 1] where it ends.
  std::vector<double> bound(static_cast<std::size_t>(slots) + 1);
  bound[0] = begin;
  std::copy(ends.begin(), ends.end(), bound.begin() + 1);
  // Every character's darkness where it has any, kept: a move renders only
  // the characters it moves.
  struct Piece {
    long from = 0, to = 0;
    std::vector<double> dark;
    double At(long k) const {
      return k >= from && k < to ? dark[static_cast<std::size_t>(k - from)] : 0.0;
    }
  };
  const auto render = [&](int j, Piece& piece) {
    const auto ji = static_cast<std::size_t>(j);
    const auto [at, scale] = PlaceSlot(layout_, j, bound[ji], bound[ji + 1]);
    const auto& bars = layout_.GlyphAt(j, data).bars;
    const double reach = EdgeReach(frame_.sigma) + std::fabs(frame_.spread);
    piece.from = ClampIndex(std::floor(frame_.K(bars.front().first * scale + at - reach)), ks, ke);
    piece.to = ClampIndex(std::ceil(frame_.K(bars.back().second * scale + at + reach)) + 1,
                          piece.from, ke);
    piece.dark.assign(static_cast<std::size_t>(piece.to - piece.from), 0.0);
    Spend(AddBars(bars, at, frame_, piece.from, piece.to, piece.dark, 1.0, scale));
  };
  std::vector<Piece> pieces(static_cast<std::size_t>(slots));
  std::vector<double> dark(static_cast<std::size_t>(ke - ks), 0.0);
  for (int j = 0; j < slots; ++j) {
    Piece& piece = pieces[static_cast<std::size_t>(j)];
    render(j, piece);
    for (long k = piece.from; k < piece.to; ++k)
      dark[static_cast<std::size_t>(k - ks)] +=
          piece.dark[static_cast<std::size_t>(k - piece.from)];
  }
  const auto residual = [&](long k, double d) {
    const double r = samples_[static_cast<std::size_t>(k)] - frame_.space - frame_.contrast * d;
    return r * r;
  };
  Piece moved[2];
  std::vector<double> changed;
  const double maxDrift = MaxDrift();
  for (const double step : kPolishSteps) {
    // Every bound: between two characters it moves both, the symbol's
    // first and last only the start or the stop (the frame may have put
    // them a little off).
    for (int b = 0; b <= slots; ++b) {
      if (OutOfWork()) return kInf;
      const int lo = std::max(b - 1, 0), hi = std::min(b, slots - 1);
      const auto bi = static_cast<std::size_t>(b);
      for (const double sign : {-1.0, 1.0}) {
        const double was = bound[bi];
        if (std::fabs(was + sign * step) > maxDrift) continue;
        // Out with the characters as they are, in with them moved.
        bound[bi] = was + sign * step;
        long from = ke, to = ks;
        for (int j = lo; j <= hi; ++j) {
          const Piece& old = pieces[static_cast<std::size_t>(j)];
          Piece& now = moved[j - lo];
          render(j, now);
          from = std::min({from, old.from, now.from});
          to = std::max({to, old.to, now.to});
        }
        const auto span = static_cast<std::size_t>(std::max(0L, to - from));
        Spend(static_cast<long>(span));
        changed.resize(span);
        double delta = 0;
        for (long k = from; k < to; ++k) {
          const double d = dark[static_cast<std::size_t>(k - ks)];
          double now = d;
          for (int j = lo; j <= hi; ++j)
            now += moved[j - lo].At(k) - pieces[static_cast<std::size_t>(j)].At(k);
          changed[static_cast<std::size_t>(k - from)] = now;
          delta += residual(k, now) - residual(k, d);
        }
        if (delta < 0) {
          std::copy(changed.begin(), changed.end(), dark.begin() + (from - ks));
          for (int j = lo; j <= hi; ++j) std::swap(pieces[static_cast<std::size_t>(j)], moved[j - lo]);
          break;
        }
        bound[bi] = was;
      }
    }
  }
  begin = bound[0];
  std::copy(bound.begin() + 1, bound.end(), ends.begin());
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
  double first = nodes_[static_cast<std::size_t>(chain.front())].at - layout_.SlotStart(0);
  const long ks = firstScored_;
  const long ke = nodes_[static_cast<std::size_t>(best_)].scoredTo;
  const double sse = PolishEnds(data, first, ends, ks, ke);
  if (!std::isfinite(sse)) return false;
  for (int j = 0; j < slots; ++j) {
    Node& node = nodes_[static_cast<std::size_t>(chain[static_cast<std::size_t>(j)])];
    const double begin = j == 0 ? first : ends[static_cast<std::size_t>(j - 1)];
    node.offset = ends[static_cast<std::size_t>(j)];
    const Placement placed = PlaceSlot(layout_, j, begin, node.offset);
    node.at = placed.at;
    node.scale = placed.scale;
  }
  polished_ = sse / static_cast<double>(ke - ks);
  return Clean(polished_, QuietVariance());
}

// Explained down to about the paper's noise: within kCleanNoise times its
// variance and kCleanMiss of the contrast (the spot is not quite Gaussian nor
// the levels quite flat, so the right symbol leaves a little more than the
// noise).
bool Synthesis::Clean(double variance, double quiet) const {
  constexpr double kCleanNoise = 2.5;
  constexpr double kCleanMiss = 0.03;
  const double tight = kCleanMiss * frame_.contrast;
  return quiet >= 0 && variance < kCleanNoise * quiet + tight * tight;
}

double Synthesis::QuietVariance() const {
  // Beyond kFaintSigmas of blur the symbol darkens the paper by less than
  // 1 % of the contrast; half a module more for where the frame may be off.
  constexpr double kFaintModules = 0.5;
  const double margin = kFaintSigmas * frame_.sigma + kFaintModules;
  return QuietNoise(
      samples_, ClampIndex(std::floor(frame_.K(-margin)), 0, static_cast<long>(samples_.size())),
      ClampIndex(std::ceil(frame_.K(layout_.Length() + margin)), 0,
                 static_cast<long>(samples_.size())));
}

void Synthesis::BuildLattices() {
  // A symbology's alphabet at one wide:narrow ratio has one lattice: the
  // last few built are kept for every reader in the process (both reading
  // directions of a waveform, its followed card, the next waveform of the
  // same format). The work is counted as if built, so that no outcome
  // depends on what was read before.
  struct Kept {
    int symbology;
    double wide;
    std::shared_ptr<const Lattice> lattice;
  };
  static std::mutex keeping;
  static std::vector<Kept> kept;
  const double wide = symbology_ == kCode128 ? 0.0 : layout_.Wide();
  std::shared_ptr<const Lattice> lattice;
  {
    const std::lock_guard<std::mutex> lock(keeping);
    for (const Kept& k : kept)
      if (k.symbology == symbology_ && k.wide == wide) lattice = k.lattice;
  }
  if (!lattice) {
    lattice = std::make_shared<const Lattice>(BuildLattice(layout_));
    const std::lock_guard<std::mutex> lock(keeping);
    if (kept.size() >= kKeptLattices) kept.erase(kept.begin());
    kept.push_back({symbology_, wide, lattice});
  }
  lattice_ = std::move(lattice);
  Spend(kLatticeWork);
  const auto rivalsOf = [](const SymbolLayout& layout, bool start) {
    auto rivals = std::make_shared<Rivals>();
    rivals->glyphs = layout.EndRivals(start);
    rivals->lattice = BuildLattice(rivals->glyphs);
    return std::shared_ptr<const Rivals>(std::move(rivals));
  };
  if (symbology_ == kCode39) {
    // The alphabet: lattice_ itself.
    rivals_[0] = rivals_[1] = nullptr;
  } else if (symbology_ == kCode128) {
    // The same for every Code 128 symbol, built once.
    static const std::shared_ptr<const Rivals> code128[2] = {
        rivalsOf(SymbolLayout(kCode128, 1, kNominalWide, kNominalGap), true),
        rivalsOf(SymbolLayout(kCode128, 1, kNominalWide, kNominalGap), false)};
    rivals_[0] = code128[0];
    rivals_[1] = code128[1];
  } else {
    // A glyph or two, at this wide:narrow ratio.
    rivals_[0] = rivalsOf(layout_, true);
    rivals_[1] = rivalsOf(layout_, false);
    Spend(kLayoutWork);
  }
}

double Synthesis::QuietModules() const {
  // A module wider than the widest space inside, to be told from it.
  constexpr double kBeyondWidestSpace = 1.0;
  return std::max(kQuietModules, layout_.WidestSpace() + kBeyondWidestSpace);
}

std::vector<int> Synthesis::DataOf(int nodeIndex) const {
  std::vector<int> data(static_cast<std::size_t>(layout_.DataSlots()), 0);
  for (int i = nodeIndex; i >= 0; i = nodes_[static_cast<std::size_t>(i)].parent) {
    const Node& node = nodes_[static_cast<std::size_t>(i)];
    if (layout_.IsData(node.slot)) data[static_cast<std::size_t>(node.slot - 1)] = node.glyph;
  }
  return data;
}

}  // namespace markwire::barcode::synthesis::detail
