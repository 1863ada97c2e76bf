// The element-pattern tables of Code 128 (code set C), Interleaved 2 of 5
// and Code 39, the lookup every decoder goes through, and the translation of
// a decoder's pattern list into text.
//
// Patterns: Code 39 nine "0"/"1" (three "1" = wide), Interleaved 2 of 5 five
// "0"/"1" (two wide), Code 128 six widths "1".."4" summing to 11 (the stop:
// seven, summing to 13). The Code 39 pattern the standard gives the hyphen is
// keyed "_"; there is no "-" row.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string_view>

#include "barcode/barcode_types.h"

namespace markwire::barcode {

struct SymbolRow {
  std::string_view symbol;   // "00".."99", "CODEB", "FNC1", "A", "*", ...
  std::string_view pattern;  // element pattern
};

// The rows of one symbology: 107 for Code 128, 10 for Interleaved 2 of 5, 44
// for Code 39; none for any other number.
std::span<const SymbolRow> SymbolRows(int symbology);

// An ordered map of text constants, compared byte-wise as unsigned bytes.
using PatternMap = std::map<std::string_view, std::string_view>;

// The two tables one session reads barcodes with. The symbol table holds the
// rows of the last symbology built; the pattern index (pattern to symbol)
// only grows, so rows of earlier reads are still found. One instance per
// session: no two sessions share them.
class SymbolTables {
 public:
  // Empties the symbol table, then fills it with the rows of `symbology`.
  void BuildSymbolTable(int symbology);
  // Adds every row of the symbol table to the pattern index (a pattern
  // already there takes the new symbol).
  void BuildPatternIndex();
  // The symbol of the pattern-index row whose key equals `pattern`.
  std::optional<std::string_view> FindSymbol(std::string_view pattern) const;

  const PatternMap& SymbolTable() const { return symbolTable_; }
  const PatternMap& PatternIndex() const { return patternIndex_; }

 private:
  PatternMap symbolTable_;
  PatternMap patternIndex_;
};

// Writes the symbols of every pattern, in order, NUL-terminated, into `out`
// (patterns without a row add nothing). Never writes past out: a text longer
// than out.size() - 1 is cut there. Used for Code 128.
void TranslateAllPatterns(const SymbolTables& tables, const PatternList& patterns,
                          std::span<char> out);
// The same without the first and the last pattern (start and stop); returns
// the length written. Fewer than three patterns: "" and 0. Used for Code 39
// and Interleaved 2 of 5.
std::size_t TranslateDataPatterns(const SymbolTables& tables, const PatternList& patterns,
                                  std::span<char> out);

}  // namespace markwire::barcode
