// The printed shape of every symbol character the second decoder can try:
// its bars as intervals in modules from the character's start, how far the
// next character starts, and the pattern the classic decoders would have
// written for it (so that both decoders' results translate alike).
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "barcode/barcode_types.h"

namespace markwire::barcode::synthesis {

struct Glyph {
  // One or two patterns, as the classic decoder appends them (an Interleaved
  // 2 of 5 digit pair appends its bars' and its spaces' pattern).
  std::vector<std::string> patterns;
  std::vector<std::pair<double, double>> bars;  // [start, end) in modules
  int value = 0;  // Code 128: the symbol value; others: the index in the alphabet
  std::string shown;  // for explanations: "A", "47", "FNC1"
};

// The start and the stop character of a symbology at a wide:narrow ratio
// (empty glyphs for an unknown symbology).
Glyph StartGlyph(int symbology, double wide);
Glyph StopGlyph(int symbology, double wide);

// The characters of one symbol, in reading order, as slots: the start, the
// data characters, (Code 128) the check character, the stop. Every glyph a
// slot can take has the same advance, so each slot starts at a fixed place.
class SymbolLayout {
 public:
  // count: the data characters the read expects (Code 39 characters,
  // Interleaved 2 of 5 digits, Code 128 digit pairs). wide: the wide:narrow
  // ratio; gap: the space between Code 39 characters, in modules.
  SymbolLayout(int symbology, int count, double wide, double gap);

  // False when no symbol of this kind has `count` data characters (an odd
  // Interleaved 2 of 5 count, zero characters, an unknown symbology).
  bool Valid() const { return slots_ > 2; }
  int Symbology() const { return symbology_; }
  int Slots() const { return slots_; }
  bool IsData(int slot) const { return slot > 0 && slot <= dataSlots_; }
  bool IsCheck(int slot) const { return hasCheck_ && slot == dataSlots_ + 1; }
  int DataSlots() const { return dataSlots_; }
  double SlotStart(int slot) const { return starts_[static_cast<std::size_t>(slot)]; }
  // From a slot's start to the next one's (the last: to the symbol's end).
  double Advance(int slot) const {
    return slot + 1 < slots_ ? SlotStart(slot + 1) - SlotStart(slot) : length_ - SlotStart(slot);
  }
  // From the first bar's start to the last bar's end.
  double Length() const { return length_; }
  double Wide() const { return wide_; }
  double Gap() const { return gap_; }
  // The widest space inside a symbol, in modules: paper in front of the
  // start or behind the stop has to be wider to be told from it.
  double WidestSpace() const;

  // The characters that could stand in the start's (or the stop's) place
  // instead: Code 39 every data character; Code 128 every other character
  // (before the stop's bar of two modules, in its place); Interleaved 2 of
  // 5, whose data characters are far wider, the other end's character and
  // the stop backwards.
  std::vector<Glyph> EndRivals(bool start) const;

  const Glyph& Start() const { return start_; }
  const Glyph& Stop() const { return stop_; }
  std::span<const Glyph> Alphabet() const { return alphabet_; }
  // Code 128: the glyph of a symbol value 0..102.
  const Glyph& Code128Value(int value) const { return alphabet_[static_cast<std::size_t>(value)]; }
  // The glyph of slot `slot` when the data slots hold `data` (alphabet
  // indices) — the start, a data glyph, the check character or the stop.
  const Glyph& GlyphAt(int slot, std::span<const int> data) const;
  // Code 128: the check value of the data so far (data values, weight 1 on).
  static int CheckValue(std::span<const int> data);
  // The alphabet index of a data pattern (or pair of patterns), -1 if none.
  int FindData(std::span<const std::string> patterns) const;

 private:
  int symbology_;
  int slots_ = 0;
  int dataSlots_ = 0;
  bool hasCheck_ = false;
  double wide_;
  double gap_;
  std::vector<double> starts_;
  double length_ = 0;
  Glyph start_;
  Glyph stop_;
  std::vector<Glyph> alphabet_;
};

}  // namespace markwire::barcode::synthesis
