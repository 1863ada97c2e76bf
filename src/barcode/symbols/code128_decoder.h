// The Code 128 decoder for symbols that begin with Start C. It measures no
// single width: twice the distance between neighbouring extrema, in modules,
// is the sum of two element widths. Each such sum is rounded up to three
// ways, and the combinations are searched character by character; the
// symbol table decides the data characters, the modulo-103 check sum the
// check character.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "barcode/barcode_types.h"
#include "barcode/symbols/symbol_tables.h"

namespace markwire::barcode {

struct Code128Outcome {
  bool decoded = false;
  // No Start C at the front: the session records code "10".
  bool startMissing = false;
  // The decoder got past its length check, so the session writes its trace
  // line "successFlag: " and 1 or 0 (decoded).
  bool traced = false;
};

// positions: one per element; at least 6 x count + 25 of them, else nothing
// happens. Appends the data characters' patterns and then the check
// character's to `patterns` (the caller passes it empty). reversed reads the
// positions from the last to the first.
Code128Outcome DecodeCode128(std::span<const double> positions, PatternList& patterns,
                             const SymbolTables& tables, int count, bool reversed);

// True when (105 + sum of i x value(entry i), i from 1) mod 103 is the value
// of the check pattern; false if any value is unknown.
bool VerifyCheckSum(const PatternList& patterns, std::string_view checkPattern,
                    const SymbolTables& tables);

// "00".."99" give 0..99, "CODEB" 100, "CODEA" 101, "FNC1" 102, "STARTA" 103,
// "STARTB" 104, "STARTC" 105; no symbol, or any other, -1.
int SymbolValue(std::optional<std::string_view> symbol);

// The rounding search, apart from the positions.
namespace detail {

// The up to three whole numbers a pairSum is tried as, nearest first, and its
// distance from the nearest. A non-finite or absurdly large pairSum (bad
// input) gets candidates that no width check passes.
struct Roundings {
  std::array<int, 3> candidates{};
  double error = 0.0;
};
Roundings RoundPairSum(double pairSum);

// Window positions 0..5 by ascending rounding error, equal errors in
// position order: the first is the outermost loop of the combination walk.
std::array<int, 6> RankByError(const std::array<double, 6>& errors);

// The combination walk over six consecutive pairSums: the first combination
// of roundings, the position ranked first in the outermost loop, whose widths
// (each from the one before, the first from `prev`) are 1..4, add up to 11
// and form a pattern that `accept` takes.
std::optional<std::string> FirstCombination(std::span<const Roundings, 6> window,
                                            const std::array<int, 6>& rank, int prev,
                                            const std::function<bool(std::string_view)>& accept);

}  // namespace detail

}  // namespace markwire::barcode
