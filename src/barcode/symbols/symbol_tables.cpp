#include "barcode/symbols/symbol_tables.h"

#include <algorithm>
#include <iterator>

namespace markwire::barcode {
namespace {

// Code 128, keyed by the meaning of each value in code set C. Widths of bar,
// space, bar, space, bar, space in modules; the stop has a seventh, its final
// two-module bar.
constexpr SymbolRow kCode128Rows[] = {
    {"00", "212222"},     {"01", "222122"},     {"02", "222221"},    {"03", "121223"},
    {"04", "121322"},     {"05", "131222"},     {"06", "122213"},    {"07", "122312"},
    {"08", "132212"},     {"09", "221213"},     {"10", "221312"},    {"11", "231212"},
    {"12", "112232"},     {"13", "122132"},     {"14", "122231"},    {"15", "113222"},
    {"16", "123122"},     {"17", "123221"},     {"18", "223211"},    {"19", "221132"},
    {"20", "221231"},     {"21", "213212"},     {"22", "223112"},    {"23", "312131"},
    {"24", "311222"},     {"25", "321122"},     {"26", "321221"},    {"27", "312212"},
    {"28", "322112"},     {"29", "322211"},     {"30", "212123"},    {"31", "212321"},
    {"32", "232121"},     {"33", "111323"},     {"34", "131123"},    {"35", "131321"},
    {"36", "112313"},     {"37", "132113"},     {"38", "132311"},    {"39", "211313"},
    {"40", "231113"},     {"41", "231311"},     {"42", "112133"},    {"43", "112331"},
    {"44", "132131"},     {"45", "113123"},     {"46", "113321"},    {"47", "133121"},
    {"48", "313121"},     {"49", "211331"},     {"50", "231131"},    {"51", "213113"},
    {"52", "213311"},     {"53", "213131"},     {"54", "311123"},    {"55", "311321"},
    {"56", "331121"},     {"57", "312113"},     {"58", "312311"},    {"59", "332111"},
    {"60", "314111"},     {"61", "221411"},     {"62", "431111"},    {"63", "111224"},
    {"64", "111422"},     {"65", "121124"},     {"66", "121421"},    {"67", "141122"},
    {"68", "141221"},     {"69", "112214"},     {"70", "112412"},    {"71", "122114"},
    {"72", "122411"},     {"73", "142112"},     {"74", "142211"},    {"75", "241211"},
    {"76", "221114"},     {"77", "413111"},     {"78", "241112"},    {"79", "134111"},
    {"80", "111242"},     {"81", "121142"},     {"82", "121241"},    {"83", "114212"},
    {"84", "124112"},     {"85", "124211"},     {"86", "411212"},    {"87", "421112"},
    {"88", "421211"},     {"89", "212141"},     {"90", "214121"},    {"91", "412121"},
    {"92", "111143"},     {"93", "111341"},     {"94", "131141"},    {"95", "114113"},
    {"96", "114311"},     {"97", "411113"},     {"98", "411311"},    {"99", "113141"},
    {"CODEB", "114131"},  {"CODEA", "311141"},  {"FNC1", "411131"},  {"STARTA", "211412"},
    {"STARTB", "211214"}, {"STARTC", "211232"}, {"STOP", "2331112"},
};

// Interleaved 2 of 5: the five bars (or the five spaces) of one digit.
constexpr SymbolRow kInterleavedRows[] = {
    {"0", "00110"}, {"1", "10001"}, {"2", "01001"}, {"3", "11000"}, {"4", "00101"},
    {"5", "10100"}, {"6", "01100"}, {"7", "00011"}, {"8", "10010"}, {"9", "01010"},
};

// Code 39: five bars and four spaces interleaved, "1" wide. The hyphen's
// pattern is keyed "_" deliberately, so it decodes to an underscore and no row
// answers to "-".
constexpr SymbolRow kCode39Rows[] = {
    {"0", "000110100"}, {"1", "100100001"}, {"2", "001100001"}, {"3", "101100000"},
    {"4", "000110001"}, {"5", "100110000"}, {"6", "001110000"}, {"7", "000100101"},
    {"8", "100100100"}, {"9", "001100100"}, {"A", "100001001"}, {"B", "001001001"},
    {"C", "101001000"}, {"D", "000011001"}, {"E", "100011000"}, {"F", "001011000"},
    {"G", "000001101"}, {"H", "100001100"}, {"I", "001001100"}, {"J", "000011100"},
    {"K", "100000011"}, {"L", "001000011"}, {"M", "101000010"}, {"N", "000010011"},
    {"O", "100010010"}, {"P", "001010010"}, {"Q", "000000111"}, {"R", "100000110"},
    {"S", "001000110"}, {"T", "000010110"}, {"U", "110000001"}, {"V", "011000001"},
    {"W", "111000000"}, {"X", "010010001"}, {"Y", "110010000"}, {"Z", "011010000"},
    {"_", "010000101"}, {".", "110000100"}, {" ", "011000100"}, {"*", "010010100"},
    {"$", "010101000"}, {"/", "010100010"}, {"+", "010001010"}, {"%", "000101010"},
};

static_assert(std::size(kCode128Rows) == 107);
static_assert(std::size(kInterleavedRows) == 10);
static_assert(std::size(kCode39Rows) == 44);

// Appends `text` at `used` while room is left for the terminating NUL.
std::size_t AppendClipped(std::span<char> out, std::size_t used, std::string_view text) {
  const std::size_t room = out.size() - 1 - used;
  const std::size_t n = std::min(room, text.size());
  std::copy_n(text.data(), n, out.data() + used);
  return used + n;
}

// The shared body of both translations: writes the symbols of `patterns`,
// NUL-terminated, and returns the length written.
std::size_t Translate(const SymbolTables& tables, std::span<const std::string> patterns,
                      std::span<char> out) {
  if (out.empty()) return 0;
  std::size_t used = 0;
  for (const std::string& pattern : patterns) {
    if (const auto symbol = tables.FindSymbol(pattern)) used = AppendClipped(out, used, *symbol);
  }
  out[used] = '\0';
  return used;
}

}  // namespace

std::span<const SymbolRow> SymbolRows(int symbology) {
  switch (symbology) {
    case kCode128:
      return kCode128Rows;
    case kInterleaved2of5:
      return kInterleavedRows;
    case kCode39:
      return kCode39Rows;
    default:
      return {};
  }
}

void SymbolTables::BuildSymbolTable(int symbology) {
  symbolTable_.clear();
  for (const SymbolRow& row : SymbolRows(symbology)) symbolTable_.emplace(row.symbol, row.pattern);
}

void SymbolTables::BuildPatternIndex() {
  for (const auto& [symbol, pattern] : symbolTable_)
    patternIndex_.insert_or_assign(pattern, symbol);
}

std::optional<std::string_view> SymbolTables::FindSymbol(std::string_view pattern) const {
  const auto it = patternIndex_.find(pattern);
  if (it == patternIndex_.end()) return std::nullopt;
  return it->second;
}

void TranslateAllPatterns(const SymbolTables& tables, const PatternList& patterns,
                          std::span<char> out) {
  Translate(tables, patterns, out);
}

std::size_t TranslateDataPatterns(const SymbolTables& tables, const PatternList& patterns,
                                  std::span<char> out) {
  if (patterns.size() < 3) {
    if (!out.empty()) out[0] = '\0';
    return 0;
  }
  return Translate(tables, std::span(patterns).subspan(1, patterns.size() - 2), out);
}

}  // namespace markwire::barcode
