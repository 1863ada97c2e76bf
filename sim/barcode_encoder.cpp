#include "barcode_encoder.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "barcode/symbols/code128_check.h"

namespace markwire::sim {

namespace {

using Widths = std::vector<double>;
using Result = std::variant<Widths, std::string>;

// Code 39: nine elements per character, bar first, "1" wide. The bars carry
// a two-of-five code and one of the spaces is wide, except for the last four
// characters, which have three wide spaces and no wide bar.
struct Code39Row {
  char symbol;
  std::string_view pattern;
};
constexpr std::array<Code39Row, 44> kCode39 = {{
    {'0', "000110100"}, {'1', "100100001"}, {'2', "001100001"}, {'3', "101100000"},
    {'4', "000110001"}, {'5', "100110000"}, {'6', "001110000"}, {'7', "000100101"},
    {'8', "100100100"}, {'9', "001100100"}, {'A', "100001001"}, {'B', "001001001"},
    {'C', "101001000"}, {'D', "000011001"}, {'E', "100011000"}, {'F', "001011000"},
    {'G', "000001101"}, {'H', "100001100"}, {'I', "001001100"}, {'J', "000011100"},
    {'K', "100000011"}, {'L', "001000011"}, {'M', "101000010"}, {'N', "000010011"},
    {'O', "100010010"}, {'P', "001010010"}, {'Q', "000000111"}, {'R', "100000110"},
    {'S', "001000110"}, {'T', "000010110"}, {'U', "110000001"}, {'V', "011000001"},
    {'W', "111000000"}, {'X', "010010001"}, {'Y', "110010000"}, {'Z', "011010000"},
    {'-', "010000101"}, {'.', "110000100"}, {' ', "011000100"}, {'*', "010010100"},
    {'$', "010101000"}, {'/', "010100010"}, {'+', "010001010"}, {'%', "000101010"},
}};

// Interleaved 2 of 5: the five elements of each digit, "1" wide.
constexpr std::array<std::string_view, 10> kTwoOfFive = {
    "00110", "10001", "01001", "11000", "00101", "10100", "01100", "00011", "10010", "01010"};

// Code 128: the six widths in modules of every symbol value, bar first.
constexpr std::array<std::string_view, 106> kCode128 = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232"};
constexpr std::string_view kCode128Stop = "2331112";
constexpr int kFnc1 = 102;
constexpr int kStartC = barcode::code128::kStartCValue;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A character for a one-line reason: card files may hold any byte.
std::string Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  char text[16];
  if (byte >= 0x20 && byte < 0x7F) {
    std::snprintf(text, sizeof text, "\"%c\"", c);
  } else {
    std::snprintf(text, sizeof text, "byte 0x%02X", byte);
  }
  return text;
}

void AddNarrowWide(Widths& widths, std::string_view pattern, double wide) {
  for (const char c : pattern) widths.push_back(c == '1' ? wide : 1.0);
}

void AddModules(Widths& widths, std::string_view pattern) {
  for (const char c : pattern) widths.push_back(c - '0');
}

std::string_view Code39Pattern(char c) {
  // The library decodes the hyphen's pattern as "_", so a card that reads "_"
  // must carry a hyphen.
  if (c == '_') c = '-';
  for (const auto& row : kCode39)
    if (row.symbol == c) return row.pattern;
  return {};
}

std::string CheckDigits(std::string_view text, bool evenCount) {
  for (const char c : text)
    if (!IsDigit(c)) return "digits only, not " + Shown(c);
  if (evenCount && text.size() % 2 != 0)
    return "an even number of digits, not " + std::to_string(text.size());
  return {};
}

Result EncodeCode39(std::string_view text, const EncodeOptions& options) {
  if (!std::isfinite(options.gapModules) || options.gapModules <= 0)
    return "the character gap must be more than 0 modules";
  // "*" frames the symbol; inside the text it would end it early.
  for (const char c : text)
    if (c == '*' || Code39Pattern(c).empty()) return "Code 39 has no character " + Shown(c);
  Widths widths;
  widths.reserve((text.size() + 2) * 10);
  const auto add = [&](char c) {
    if (!widths.empty()) widths.push_back(options.gapModules);
    AddNarrowWide(widths, Code39Pattern(c), options.wideRatio);
  };
  add('*');
  for (const char c : text) add(c);
  add('*');
  return widths;
}

Result EncodeInterleaved(std::string_view text, const EncodeOptions& options) {
  if (std::string reason = CheckDigits(text, true); !reason.empty()) return reason;
  Widths widths = {1, 1, 1, 1};
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string_view bars = kTwoOfFive[text[i] - '0'];
    const std::string_view spaces = kTwoOfFive[text[i + 1] - '0'];
    for (std::size_t k = 0; k < 5; ++k) {
      widths.push_back(bars[k] == '1' ? options.wideRatio : 1.0);
      widths.push_back(spaces[k] == '1' ? options.wideRatio : 1.0);
    }
  }
  widths.insert(widths.end(), {options.wideRatio, 1, 1});
  return widths;
}

Result EncodeCode128(std::string_view text) {
  if (std::string reason = CheckDigits(text, true); !reason.empty()) return reason;
  std::vector<int> values = {kFnc1};
  for (std::size_t i = 0; i < text.size(); i += 2)
    values.push_back((text[i] - '0') * 10 + (text[i + 1] - '0'));
  // Reduced as it goes, so that no text is long enough to overflow it.
  int sum = kStartC;
  for (std::size_t i = 0; i < values.size(); ++i)
    sum = barcode::code128::AddToCheck(sum, static_cast<long long>(i + 1), values[i]);
  Widths widths;
  widths.reserve((values.size() + 2) * 6 + 7);
  AddModules(widths, kCode128[kStartC]);
  for (const int value : values) AddModules(widths, kCode128[value]);
  AddModules(widths, kCode128[sum]);
  AddModules(widths, kCode128Stop);
  return widths;
}

}  // namespace

std::variant<std::vector<double>, std::string> EncodeBarcode(BarcodeKind kind,
                                                             std::string_view text,
                                                             const EncodeOptions& options) {
  if (text.empty()) return std::string("nothing to encode");
  const bool narrowWide = kind == BarcodeKind::Code39 || kind == BarcodeKind::Interleaved2of5;
  if (narrowWide && !(options.wideRatio >= 2.0 && options.wideRatio <= 3.0)) {
    char reason[80];
    std::snprintf(reason, sizeof reason, "the wide to narrow ratio must be 2.0 to 3.0, not %g",
                  options.wideRatio);
    return std::string(reason);
  }
  switch (kind) {
    case BarcodeKind::Code39:
      return EncodeCode39(text, options);
    case BarcodeKind::Interleaved2of5:
      return EncodeInterleaved(text, options);
    case BarcodeKind::Code128:
      return EncodeCode128(text);
  }
  return "unknown symbology " + std::to_string(static_cast<int>(kind));
}

}  // namespace markwire::sim
