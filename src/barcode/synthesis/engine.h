// One reading direction of one waveform for the guard and the second
// decoder: the frame, the beam search, the refits and polish, the test. Its
// stages live in framing.cpp, search.cpp, polish.cpp and verdict.cpp.
#pragma once

#include <algorithm>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "barcode/synthesis/glyphs.h"
#include "barcode/synthesis/lattice.h"
#include "barcode/synthesis/optics.h"
#include "barcode/synthesis/synthesis.h"

namespace markwire::barcode::synthesis::detail {

// Limits that keep the search bounded on any input.
inline constexpr std::size_t kBeamWidth = 16;
// Modules the symbol may wander from its straight frame (the card's speed
// wavering between the ends): at least kMaxDrift, and kDriftPerModule of the
// symbol's length for a long one.
inline constexpr double kMaxDrift = 1.2;
inline constexpr double kDriftPerModule = 0.005;
inline constexpr double kDriftStep = 0.2;  // modules a character may move against the one before
// How far the search tries the start either way of a refit frame's place.
inline constexpr double kStartShift = 1.0;
// Per parent, the best straight ones are tried drifted.
inline constexpr std::size_t kDriftedGlyphs = 6;
inline constexpr double kMinContrast = 12.0;  // gray values between paper and bar, at least
inline constexpr double kMinModuleSamples = 0.8;
// Fewer samples than this hold no symbol, of any length, with its quiet
// zones.
inline constexpr long kMinSamples = 16;
// A fit of levels and a place leaves nothing to judge it by on fewer samples
// than this: the levels alone take two.
inline constexpr long kLeastFitted = 4;
inline constexpr double kMinGap = 0.5;  // Code 39 character gaps tried, in modules
inline constexpr double kMaxGap = 6.0;
// A refit of a symbol of more characters than this looks at this many.
inline constexpr int kRefitSlots = 24;
// Paper in front of the start and behind the stop, at least (and wider than
// any space inside the symbol), in modules: a symbol whose ends or quiet
// zones are not in the samples may be another symbol cut off, or part of a
// longer one.
inline constexpr double kQuietModules = 5.0;
// A symbol the second decoder found on a followed card needs this much
// more margin: a model that bends with the card can bend toward a wrong
// symbol too.
inline constexpr double kFollowedMargin = 1.5;
// A character may leave at most this many times the variance the whole
// symbol is allowed to leave over its own samples.
inline constexpr double kCharacterFit = 4.0;

// The wide:narrow ratio and the Code 39 character gap (modules) assumed
// before any is fitted: the middle of the printable 2 to 3, and a gap as
// wide as a narrow element. Code 128 has neither.
inline constexpr double kNominalWide = 2.5;
inline constexpr double kNominalGap = 1.0;
// The blur and the wide ratio a fit may try: below 0.12 module of blur the
// edges are sharper than samples at least a sixth of a module apart (as
// framing leaves them) can show, beyond 1.3 modules a narrow element keeps
// under a third of the contrast; the printable 2 to 3, with leeway for ink
// that grew or shrank.
inline constexpr double kMinSigma = 0.12;
inline constexpr double kMaxSigma = 1.3;
inline constexpr double kMinWide = 1.8;
inline constexpr double kMaxWide = 3.2;
// The least residual variance per sample taken from a fit: half a gray value
// squared, what rounding to whole gray values leaves at most, so that a fit
// on clipped or noiseless samples does not make every margin huge.
inline constexpr double kNoiseFloor = 0.25;
// Framing asks for the quiet zones less this many modules, the test for all
// of them: the refit may still move the ends.
inline constexpr double kQuietLeeway = 1.0;
// Beyond this many sigma of blur an edge darkens a sample by less than 1 %
// of the contrast.
inline constexpr double kFaintSigmas = 2.5;

// How far the blur counts depends on what for, and each reach is tuned on
// its own: rendering computes an edge out to EdgeReach (optics.h, 4 sigma
// and a quarter module); a symbol is scored out to ScoredFrom and ScoredTo
// (3 sigma and 1.5 modules); the paper's noise is measured beyond 2.5 sigma
// and half a module (QuietVariance); a character's rivals are compared over
// 5 sigma and a module either side of it (Reach); a character is scored up
// to 2.5 sigma, at most 3 modules, before the next (SlotReachEnd).
//
// The samples a symbol is scored on (the search, the refit, the polish and
// the test): from ScoredFrom to ScoredTo in modules, kScoredSigmas of blur
// beyond the first and the last bar, where an edge has faded to about 0.1 %
// of the contrast, and kScoredModules more, so that a start tried up to
// kStartShift off its place still has paper in front of it among them.
// `end`: where the symbol's last bar ends, its drift included.
inline constexpr double kScoredSigmas = 3.0;
inline constexpr double kScoredModules = 1.5;
inline double ScoredFrom(double sigma) {
  return -kScoredSigmas * sigma - kScoredModules;
}
inline double ScoredTo(double end, double sigma) {
  return end + kScoredSigmas * sigma + kScoredModules;
}

// Where slot `slot` of `layout` stands when it begins `begin` and ends `end`
// modules off its straight place: it starts at module `at`, stretched by
// `scale`.
struct Placement {
  double at;
  double scale;
};
inline Placement PlaceSlot(const SymbolLayout& layout, int slot, double begin, double end) {
  return {layout.SlotStart(slot) + begin, 1 + (end - begin) / layout.Advance(slot)};
}

// What building a layout and its lattice costs, in the budget's units.
inline constexpr long kLayoutWork = 5'000;
inline constexpr long kLatticeWork = 30'000;
// Lattices kept for reuse, for the whole process (BuildLattices).
inline constexpr std::size_t kKeptLattices = 6;

// What a reader may still spend (kWorkBudget, synthesis.h).
class Budget {
 public:
  explicit Budget(long units) : limit_(units) {}
  void Spend(long units) { spent_ += units; }
  bool Exhausted() const { return spent_ > limit_; }
  long Spent() const { return spent_; }

 private:
  long limit_;
  long spent_ = 0;
};

// One end of the symbol: the start glyph at the left with paper before it,
// or the stop glyph at the right with paper behind it.
struct EndFit {
  double at = 0;  // sample index of the glyph's start
  double sigma = 0.5;
  double wide = kNominalWide;
  double scale = 1.0;  // the glyph's own against the symbol's
  LevelFit levels;
  double perSample = kInf;  // sse per sample
};

// The variance of the paper's own noise from the samples outside [before,
// after), -1 when there are too few to tell.
double QuietNoise(std::span<const double> y, long before, long after);

class Synthesis {
 public:
  // Copies share the budget.
  Synthesis(std::span<const double> samples, int symbology, int count, Budget& budget)
      : samples_(samples.begin(), samples.end()),
        origin_(samples.size()),
        gain_(samples.size(), 1.0),
        symbology_(symbology),
        count_(count),
        budget_(&budget) {
    for (std::size_t i = 0; i < origin_.size(); ++i) origin_[i] = static_cast<double>(i);
  }
  bool OutOfWork() const { return budget_->Exhausted(); }

  // Finds the frame. False when there is no symbol-like structure at all,
  // or its ends and the paper beside them are not in the samples (then
  // EndsOutside()).
  bool Frame(bool reversed);
  // Resamples the framed samples so that each character stands at its
  // straight place, the card's changing speed taken out, and levels the
  // paper and the ink along the card; then frames them again. False when
  // the bar edges do not tell the characters apart (blur, noise), when
  // there is nothing to follow, or when the new samples frame no symbol.
  bool FollowCard();
  // What following the card took out: the slowest and the fastest speed
  // between two characters against the mean, and how far the paper or the
  // ink level changed along the symbol, against the contrast.
  struct Followed {
    bool followed = false;
    bool speedChanged = false;  // by kUnevenSpeed at least (follow.cpp)
    double slowest = 1;
    double fastest = 1;
    double levels = 0;
    // Enough to read the followed card first.
    bool Marked() const { return speedChanged || levels > 0; }
  };
  const Followed& FollowedCard() const { return followed_; }
  bool EndsOutside() const { return endsOutside_; }
  double EndScore() const { return endScore_; }

  // Beam search; `forced`: the only data allowed (the guard), else all.
  bool Search(std::span<const int> forced);
  // Fits scale, start, blur and wide ratio again to the whole best symbol
  // of the search (for another search). With keepDrift the characters stay
  // where they drifted (for another polish), else they stand straight.
  // False when there is no symbol.
  bool Refit(bool keepDrift);
  // Moves the best symbol's characters, each end a little at a time (the
  // start's beginning and the stop's end too), to where they explain the
  // samples best: the search's drift steps are coarse.
  // True when the symbol then explains the samples down to about the
  // paper's noise.
  bool Polish();
  // What the best symbol leaves per scored sample after the last polish.
  double Polished() const { return polished_; }
  // The same for any symbol: its data, where its start begins and where its
  // characters end, against their straight places (moved in place); the
  // squared error left over samples [ks, ke).
  double PolishEnds(std::span<const int> data, double& begin, std::vector<double>& ends, long ks,
                    long ke) const;
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
    int glyph = -1;     // data slots: the alphabet index
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
  std::pair<long, long> Reach(int slot, double at, long ks, long ke) const;
  double Score(const Node& n) const { return n.sse - static_cast<double>(n.scoredTo) * noise_; }
  std::vector<int> DataOf(int nodeIndex) const;
  // The lattice of the layout's alphabet and the characters that could
  // stand in its ends' places, for a new layout.
  void BuildLattices();
  double QuietModules() const;
  double MaxDrift() const { return std::max(kMaxDrift, kDriftPerModule * layout_.Length()); }
  // The glyph bank of the search's pool for a place, built on first use.
  GlyphBank& Bank(std::size_t& pooled, long ks, long ke, double at, double scale, double offset);

  void Spend(long units) const { budget_->Spend(units); }
  // Where point k of samples_ (fractional) lies in the samples handed to
  // the reader, and the factor levelling put on it there.
  double OriginAt(double k) const;
  double GainAt(double k) const;

  std::vector<double> samples_;
  // For each of samples_: its place in the samples handed to the reader and
  // the factor levelling multiplied it by. Reversing and following the card
  // move the samples; these follow them, so that a symbol found can be shown
  // where it lies in what the reader was given.
  std::vector<double> origin_;
  std::vector<double> gain_;
  int symbology_;
  int count_;
  Budget* budget_;
  SymbolLayout layout_{0, 0, kNominalWide, kNominalGap};
  // The lattice of the layout's alphabet, shared by copies.
  std::shared_ptr<const Lattice> lattice_;
  // What could stand in the start's ([0]) and the stop's ([1]) place, and
  // its lattice, shared by copies; none for Code 39, whose alphabet and
  // lattice_ it is.
  struct Rivals {
    std::vector<Glyph> glyphs;
    Lattice lattice;
  };
  std::shared_ptr<const Rivals> rivals_[2];
  detail::Frame frame_;
  double noise_ = 1.0;  // residual variance per sample the ends left
  double endScore_ = kInf;
  bool reversed_ = false;
  long firstScored_ = 0;
  std::vector<Node> nodes_;
  // A child the search tried: its score, its squared error, the drift step.
  struct Trial {
    double score = kInf;
    double sse = 0;
    int step = -1;
  };
  // Scratch kept between the search's steps, so that they allocate nothing;
  // a copy starts without.
  struct Scratch {
    Scratch() = default;
    Scratch(const Scratch&) {}
    Scratch& operator=(const Scratch&) { return *this; }
    std::vector<Trial> trials;
    std::vector<std::pair<double, std::size_t>> order;
    std::deque<GlyphBank> pool;
    std::vector<std::pair<long, long>> poolKeys;
  };
  Scratch scratch_;
  int best_ = -1;
  int runnerUp_ = -1;
  double polished_ = kInf;
  bool refitted_ = false;  // the frame is the refit's
  bool endsOutside_ = false;
  Followed followed_;
};

}  // namespace markwire::barcode::synthesis::detail
