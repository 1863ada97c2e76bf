// The simulated cards' barcodes: the symbols against the standards, the
// ground truth of every decode test. card_barcode_test.cpp decodes them end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "barcode_encoder.h"

namespace markwire::sim {
namespace {

using Widths = std::vector<double>;

Widths Encode(BarcodeKind kind, std::string_view text, EncodeOptions options = {}) {
  return std::get<Widths>(EncodeBarcode(kind, text, options));
}

// Every `step`-th of `count` elements from `from`, as the standard writes
// them: module digits ("211232") or, with `wideMarks`, "1" for each wide one.
std::string Elements(const Widths& w, std::size_t from, std::size_t count, bool wideMarks = false,
                     std::size_t step = 1) {
  std::string text;
  for (std::size_t i = from; i < from + count * step; i += step)
    text += wideMarks ? (w.at(i) > 1 ? '1' : '0') : static_cast<char>('0' + w.at(i));
  return text;
}

TEST(SimBarcodeEncoder, Code128CarriesStartCFnc1ThePairsTheCheckAndTheStop) {
  const Widths symbol = Encode(BarcodeKind::Code128, "123456");
  // Start C, FNC1, three pairs and the check character, 11 modules each; the stop 13.
  ASSERT_EQ(symbol.size(), 6u * 6 + 7);
  EXPECT_EQ(std::accumulate(symbol.begin(), symbol.end(), 0.0), 11 * 6 + 13);
  // Start C 211232, FNC1 411131, 12, 34, 56, the check and the stop 2331112. The
  // check: 105 (Start C) + each value times its position from 1 at FNC1 (102), modulo
  // 103: 207 + 2x12 + 3x34 + 4x56 = 5x103 + 42; "00", 2x103 + 1; "99999999", 15x103 + 48.
  EXPECT_EQ(Elements(symbol, 0, 43), "2112324111311122321311233311211121332331112");
  EXPECT_EQ(Elements(Encode(BarcodeKind::Code128, "00"), 18, 6), "222122");
  EXPECT_EQ(Elements(Encode(BarcodeKind::Code128, "99999999"), 36, 6), "313121");
}

TEST(SimBarcodeEncoder, Code39AndInterleaved2of5MakeTheirStandardsWideElements) {
  const Widths symbol = Encode(BarcodeKind::Code39, "A-_1");
  // "*", four characters, "*": nine elements each, and a gap between two.
  ASSERT_EQ(symbol.size(), 6u * 9 + 5);
  const Widths wider = Encode(BarcodeKind::Code39, "A-_1", {3.0, 2.0});
  EXPECT_EQ(std::accumulate(wider.begin(), wider.end(), 0.0), 6 * (6 + 3 * 3.0) + 5 * 2.0);
  EXPECT_EQ(Elements(symbol, 0, 19, true), "0100101000100001001");  // "*", gap, "A"
  EXPECT_EQ(Elements(symbol, 20, 9), Elements(symbol, 30, 9));      // "_" is printed as "-"
  // Two wide bars and a wide space, or three wide spaces for the last four; none alike.
  std::set<std::string> seen = {"010010100"};
  for (const char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%")) {
    const Widths w = Encode(BarcodeKind::Code39, std::string(1, c));
    const std::string bars = Elements(w, 10, 5, true, 2), spaces = Elements(w, 11, 4, true, 2);
    const bool special = std::string_view("$/+%").find(c) != std::string_view::npos;
    EXPECT_EQ(std::count(bars.begin(), bars.end(), '1'), special ? 0 : 2) << c;
    EXPECT_EQ(std::count(spaces.begin(), spaces.end(), '1'), special ? 3 : 1) << c;
    EXPECT_TRUE(seen.insert(Elements(w, 10, 9, true)).second) << c;
  }
  // Interleaved 2 of 5: start, pairs of ten elements (2 of 5 wide per digit),
  // stop; the first digit of a pair in the bars, the second in the spaces.
  const Widths i25 = Encode(BarcodeKind::Interleaved2of5, "1290");
  ASSERT_EQ(i25.size(), 4u + 2 * 10 + 3);
  EXPECT_EQ(std::accumulate(i25.begin(), i25.end(), 0.0),
            4 + 2 * 2 * (3 + 2 * 2.5) + (2.5 + 1 + 1));
  EXPECT_EQ(Elements(i25, 0, 4, true) + Elements(i25, 24, 3, true), "0000100");
  EXPECT_EQ(Elements(i25, 4, 5, true, 2) + Elements(i25, 5, 5, true, 2), "1000101001");  // 1, 2
  const Widths digits = Encode(BarcodeKind::Interleaved2of5, "0123456789");
  std::set<std::string> patterns;
  for (std::size_t d = 0; d < 10; ++d) {
    const std::string five = Elements(digits, 4 + d / 2 * 10 + d % 2, 5, true, 2);
    EXPECT_EQ(std::count(five.begin(), five.end(), '1'), 2) << d;
    EXPECT_TRUE(patterns.insert(five).second) << d;
  }
}

}  // namespace
}  // namespace markwire::sim
