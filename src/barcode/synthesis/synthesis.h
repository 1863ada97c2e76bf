// Decoding by synthesis: the symbol whose rendered waveform best explains the
// samples. The paper and bar levels, the blur, the scale and the start of the
// symbol are estimated from its start and stop characters and quiet zones;
// then a beam search goes character by character through the symbology's
// alphabet (the number of characters is known from the format), following
// the slow drift of the card's speed. A symbol is accepted only when its ends
// and the paper beside them are in the samples, every character of it is
// explained about as well as the whole symbol, and every character, start
// and stop included, explains the samples clearly better than any other
// character in its place would: that same test guards the classic decoders.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "barcode/barcode_types.h"

namespace markwire::barcode::synthesis {

struct Verdict {
  // The samples clearly support the symbol.
  bool accepted = false;
  // The best symbol found (also when refused), as alphabet indices of its
  // data characters in text order; empty when nothing fitted at all.
  std::vector<int> data;
  // The classic decoders' pattern list for that symbol: Code 39 and
  // Interleaved 2 of 5 start, data, stop; Code 128 data and check.
  PatternList patterns;
  // The weakest point: how much worse (in units of the residual noise
  // variance) the best other character in its place fits, or the best
  // other whole symbol the search kept; the data character's index (-1 for
  // the start, the stop, Code 128's check character or a whole symbol), the
  // rival, and both as text.
  double margin = 0;
  int weakest = -1;
  int alternative = -1;  // the rival's alphabet index where `weakest` is one, else -1
  std::string weakestShown;
  std::string alternativeShown;
  bool reversed = false;  // the symbol lies last character first in the samples
  // What the symbol leaves unexplained, per sample (variance), and whether
  // that is hardly more than the paper's own noise.
  double fit = 0;
  bool clean = false;
  // The read ran out of the work it may spend on one waveform (refused).
  bool gaveUp = false;
  std::string explanation;
  // Where the symbol tested lies in the samples the reader was given, for
  // pictures: each slot's (start, data characters in text order, Code
  // 128's check character, stop) first and last bar edge as fractional
  // sample indices, first <= last; and the symbol as rendered, the gray
  // level it gives each sample it was scored on (sample index, level).
  std::vector<std::pair<double, double>> slotSpans;
  std::vector<std::pair<double, double>> rendered;
};

// The least margin every character must have: of a symbol the second
// decoder found, and of a classic decoder's reading, which has a second,
// independent reading behind it.
inline constexpr double kAcceptMargin = 36.0;
inline constexpr double kConfirmMargin = 25.0;

// The work the guard and the second decoder together may spend on one
// waveform, counted in units of about one value of the distribution
// function on one sample (some 40 machine instructions; plainer steps count
// a fraction of a unit). Counted, never timed, so that the outcome does not
// depend on the machine or its load; a read that runs out is refused. Five
// million units are some 200 million instructions, 25 to 40 ms on the
// 2-core VM the benchmarks ran on. A symbol of the barcode table (8
// characters) spends 4 to 10 % of it, the benchmark's blurred 40 Code 39
// characters on 3,733 samples about half.
inline constexpr long kWorkBudget = 5'000'000;

// One waveform framed once (both directions), then tested against a classic
// decoder's symbol and searched, as the read needs.
class SymbolReader {
 public:
  // samples in reading order, unconditioned; count: the data characters
  // (Code 128: digit pairs); workBudget: see kWorkBudget.
  SymbolReader(std::span<const double> samples, int symbology, int count,
               long workBudget = kWorkBudget);
  ~SymbolReader();
  SymbolReader(const SymbolReader&) = delete;
  SymbolReader& operator=(const SymbolReader&) = delete;

  // The guard: does the waveform clearly support the symbol a classic
  // decoder read (its pattern list as written)? Not accepted when the
  // patterns do not form such a symbol.
  Verdict Confirm(const PatternList& patterns) const;
  // The second decoder: the symbol that best explains the samples, tested.
  Verdict Decode() const;
  // The work spent so far on this waveform (framing, tests and searches),
  // in the units of the budget that bounds it.
  long WorkSpent() const;

 private:
  struct Framed;
  int symbology_;
  int count_;
  std::unique_ptr<Framed> framed_;
};

// Searches the samples (in reading order, unconditioned) for a symbol of
// `count` data characters (Code 128: digit pairs) and tests it.
Verdict DecodeBySynthesis(std::span<const double> samples, int symbology, int count);

// Tests the symbol a classic decoder read: its pattern list as the decoder
// wrote it. Not accepted when the patterns do not form such a symbol.
Verdict ConfirmPatterns(std::span<const double> samples, int symbology, int count,
                        const PatternList& patterns);

}  // namespace markwire::barcode::synthesis
