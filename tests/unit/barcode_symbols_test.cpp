// Symbol tables checked against the standards' rules; whole symbols decoded; bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <numeric>
#include <random>

#include "barcode/symbols/code128_decoder.h"
#include "barcode/symbols/symbol_tables.h"
#include "barcode/symbols/two_width_decoder.h"

namespace markwire::barcode {
namespace {

// 2 of 5 with the weights 1, 2, 4, 7, 0: the two wide add up to the digit (0: 11).
std::string TwoOfFive(int digit) {
  constexpr int kWeights[] = {1, 2, 4, 7, 0};
  std::string p = "00000";
  for (std::size_t i = 0; i < 5; ++i)
    for (std::size_t j = i + 1; j < 5; ++j)
      if (kWeights[i] + kWeights[j] == (digit == 0 ? 11 : digit)) p[i] = p[j] = '1';
  return p;
}

// Code 39, bars and spaces interleaved: the digits 1..9, 0 and the later groups of ten share
// bars and differ in the wide space; "% + / $" have narrow bars, one narrow space.
std::string Code39(char c) {
  const auto at = std::string_view("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ_. *").find(c);
  const bool symbol = at == std::string_view::npos;  // one of % + / $
  const std::string bars = symbol ? "00000" : TwoOfFive(static_cast<int>((at + 1) % 10));
  std::string spaces = symbol ? "1111" : "0000", p;
  spaces.at(symbol ? std::string_view("%+/$").find(c) : (at / 10 + 1) % 4) = symbol ? '0' : '1';
  for (std::size_t i = 0; i < 9; ++i) p += i % 2 == 0 ? bars[i / 2] : spaces[i / 2];
  return p;
}

// The Code 128 characters the symbols below need, as the standard gives them.
const std::map<std::string, std::string> kStandard128 = {
    {"00", "212222"},     {"01", "222122"},   {"12", "112232"},    {"24", "311222"},
    {"34", "131123"},     {"44", "132131"},   {"56", "331121"},    {"99", "113141"},
    {"CODEB", "114131"},  {"FNC1", "411131"}, {"CODEA", "311141"}, {"STARTB", "211214"},
    {"STARTC", "211232"}, {"STOP", "2331112"}};

// The widths of Start C, FNC1, the characters given (the check last) and the stop.
std::string Code128(const std::vector<std::string>& characters) {
  std::string widths = kStandard128.at("STARTC") + kStandard128.at("FNC1");
  for (const auto& c : characters) widths += kStandard128.at(c);
  return widths + kStandard128.at("STOP");
}

// Bar-first elements, `widths` x 5 points, in quiet zones: samples (20, 220) and centres.
std::pair<Waveform, Positions> Scan(const std::string& widths) {
  std::pair<Waveform, Positions> s{Waveform(100, 220.0), {}};
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const auto length = static_cast<std::size_t>(5 * (widths[i] - '0'));
    s.second.push_back(static_cast<double>(s.first.size()) + static_cast<double>(length) / 2);
    s.first.insert(s.first.end(), length, i % 2 == 0 ? 20.0 : 220.0);
  }
  s.first.insert(s.first.end(), 100, 220.0);
  return s;
}

// One session's tables after reads of all three symbologies, Code 128 last.
const SymbolTables kTables = [] {
  SymbolTables t;
  for (int s : {kCode39, kInterleaved2of5, kCode128}) t.BuildSymbolTable(s), t.BuildPatternIndex();
  return t;
}();

TEST(SymbolTables, EveryRowFollowsTheStandards) {
  // Code 128: widths 1 to 4 adding up to 11 (the stop 13), the bars to an even
  // number; 00 to 99 in order. The other two: what their rules give.
  for (const auto& [s, p] : SymbolRows(kCode128)) {
    int bars = 0, spaces = 0;
    for (std::size_t i = 0; i < p.size(); ++i) (i % 2 == 0 ? bars : spaces) += p[i] - '0';
    EXPECT_TRUE(bars % 2 == 0 && bars + spaces == (s == "STOP" ? 13 : 11)) << s;
    EXPECT_EQ(p.find_first_not_of("1234"), p.npos) << s;
  }
  for (std::size_t v = 0; v < 100; ++v)
    EXPECT_EQ(SymbolRows(kCode128)[v].symbol, std::to_string(100 + v).substr(1));
  for (int symbology : {kCode39, kInterleaved2of5})
    for (const auto& [s, p] : SymbolRows(symbology)) {
      ASSERT_TRUE(s.size() == 1 && s != "-") << s;  // the hyphen is keyed "_"
      EXPECT_EQ(p, symbology == kCode39 ? Code39(s[0]) : TwoOfFive(s[0] - '0')) << s;
    }
  EXPECT_EQ(kTables.PatternIndex().size(), 107u + 44u + 10u);  // no pattern twice
  for (const auto& [s, p] : kStandard128) EXPECT_EQ(kTables.FindSymbol(p), s);
  for (const auto& [p, s] : {std::pair{"100001001", "A"}, {"010100010", "/"}, {"010000101", "_"}})
    EXPECT_EQ(kTables.FindSymbol(p), s);
}

TEST(SymbolTables, TranslationsSkipUnknownPatternsAndStayInTheBuffer) {
  const PatternList list = {Code39('*'), Code39('A'), "110100000", Code39('B'), Code39('*')};
  std::string out(5, 'x');
  EXPECT_EQ(TranslateDataPatterns(kTables, list, std::span(out).first(2)), 1u);
  EXPECT_EQ(out, std::string("A\0xxx", 5));
  TranslateAllPatterns(kTables, list, std::span(out).first(4));
  EXPECT_EQ(out, std::string("*AB\0x", 5));
}

TEST(TwoWidth, WidthThresholdsAndTieRules) {
  // Swings of 100, so the run threshold is 30; the points exactly at 30 are in.
  const Waveform w = {100, 100, 30, 0, 0, 0, 0, 30, 100, 100};
  EXPECT_EQ(ElementWidth(w, 1, 3, 8), 7);                           // runs 2 + 5
  EXPECT_EQ(ElementWidth(w, std::nullopt, 3, 8), 10);               // twice the right run
  EXPECT_EQ(ElementWidth(w, 1, 3, std::nullopt), 6);                // twice the left run plus 2
  EXPECT_EQ(ElementWidth(w, std::nullopt, 8, 9), 4);                // a run stops at the last point
  EXPECT_EQ(ElementWidth(w, 3, 1, std::nullopt), 6);                // and at the first
  EXPECT_EQ(ElementWidth(w, LONG_MIN, LONG_MAX, std::nullopt), 6);  // off the curve: its ends
  EXPECT_EQ(detail::MarkWidest(std::array{3, 3, 6, 3, 6, 3, 3, 6, 6}, 3), "000010011");
  EXPECT_EQ(detail::StartPattern({4, 4, 4, 7}), "0001");  // m = 19 / 4 = 4, not 4.75
  EXPECT_EQ(detail::StartPattern({4, 4, 4, 6}), "0000");  // 2 is not > 2
  EXPECT_EQ(detail::StopPattern({2, 6, 6}), "010");       // ties to the earlier
}

TEST(TwoWidth, CleanScansDecodeAndWrongCountsLeaveTheListAlone) {
  const std::tuple<bool, std::string, int> symbols[] = {
      {true, "", 0},  {true, "CODE39", 6},  {true, "0123456789", 10}, {true, "WXYZ_. $/+%", 11},
      {false, "", 0}, {false, "123456", 5}, {false, "9081726354", 10}};
  for (const auto& [code39, text, count] : symbols) {
    // Narrow gaps between Code 39 characters; Interleaved 2 of 5 digits in pairs.
    std::string wide = code39 ? Code39('*') : "0000";
    for (char c : code39 ? text + "*" : "") wide.append(1, '0').append(Code39(c));
    for (std::size_t i = 0; !code39 && i + 1 < text.size(); i += 2)
      for (std::size_t k = 0; k < 5; ++k)
        wide += {TwoOfFive(text[i] - '0')[k], TwoOfFive(text[i + 1] - '0')[k]};
    if (!code39) wide += "100";
    for (char& c : wide) c = c == '1' ? '5' : '2';  // narrow 10 points, wide 25
    // A structured binding is captured by copy: clang 14 cannot capture one by reference.
    const auto decode = [&, code39 = code39](PatternList& list, int n, bool mirror = false,
                                             bool forward = true) {
      const auto [w, p] = Scan(mirror ? std::string(wide.rbegin(), wide.rend()) : wide);
      return code39 ? DecodeCode39(w, p, list, n, forward) : DecodeInterleaved2of5(w, p, list, n);
    };
    PatternList forward, backward = {"stale"}, wrong;
    std::array<char, 16> out{};
    EXPECT_TRUE(decode(forward, count)) << text;
    EXPECT_EQ(TranslateDataPatterns(kTables, forward, out), text.size());
    EXPECT_EQ(out.data(), text);
    EXPECT_EQ(decode(backward, count, true, false), code39) << text;  // only Code 39 reads back
    EXPECT_TRUE(!code39 || backward == forward) << text;
    EXPECT_FALSE(decode(wrong, count, true, true)) << text;
    for (int n : {count + 2, count - 2, -1}) {
      PatternList kept = {"kept"};
      EXPECT_FALSE(decode(kept, n)) << text << n;
      EXPECT_EQ(kept, PatternList{"kept"});
    }
  }
}

TEST(Code128, RoundingRankingValuesAndCheckSums) {
  EXPECT_EQ(detail::RoundPairSum(2.5).candidates, (std::array{3, 2, 4}));  // nearest first, .5 up
  EXPECT_EQ(detail::RoundPairSum(2.49).candidates, (std::array{2, 3, 1}));
  EXPECT_EQ(detail::RoundPairSum(3.0).candidates, (std::array{3, 4, 2}));
  for (double x : {std::nan(""), 1e300}) EXPECT_EQ(detail::RoundPairSum(x).error, HUGE_VAL);
  EXPECT_EQ(detail::RankByError({0.1, 0.4, 0.0, 0.3, 0.2, 0.4}), (std::array{2, 0, 4, 3, 1, 5}));
  EXPECT_EQ(detail::RankByError({NAN, 0.5, HUGE_VAL, 0, 0.5, 0.1}), (std::array{3, 5, 1, 4, 0, 2}));

  // The sums of 212222 after a width of 2, blurred: position 5 changes fastest, then 0;
  // past the exact reading, the first valid widths take position 0's third candidate.
  std::array<detail::Roundings, 6> window;
  std::array<double, 6> errors;
  const std::array sums = {4.3, 3.1, 2.8, 4.0, 4.2, 3.6};
  for (int i = 0; i < 6; ++i) errors[i] = (window[i] = detail::RoundPairSum(sums[i])).error;
  const auto rank = detail::RankByError(errors);
  ASSERT_EQ(rank, (std::array{3, 1, 2, 4, 0, 5}));
  EXPECT_EQ(detail::FirstCombination(window, rank, 2, [](auto) { return true; }), "212222");
  EXPECT_EQ(detail::FirstCombination(window, rank, 2, [](auto p) { return p != "212222"; }),
            "121313");

  const auto holds = [](std::vector<std::string> data, const std::string& check) {
    PatternList list;
    for (const auto& d : data) list.push_back(kStandard128.at(d));
    return VerifyCheckSum(list, kStandard128.at(check), kTables);
  };
  EXPECT_TRUE(holds({"12", "34", "56"}, "44"));     // 105 + 12 + 2 x 34 + 3 x 56 = 3 x 103 + 44
  EXPECT_TRUE(holds({"CODEB"}, "FNC1"));            // 105 + 100 = 205 = 103 + 102
  EXPECT_TRUE(holds({"STARTB", "CODEA"}, "FNC1"));  // 105 + 104 + 2 x 101 = 3 x 103 + 102
  EXPECT_FALSE(holds({"12", "STOP"}, "12"));        // the stop has no value
}

TEST(Code128, SymbolsDecodeBothWaysAndFailuresReportWhy) {
  using Outcome = std::tuple<bool, bool, bool>;  // decoded, startMissing, traced
  PatternList list;
  const auto decode = [&list](const Positions& positions, int count, bool reversed = false) {
    list.clear();
    const Code128Outcome out = DecodeCode128(positions, list, kTables, count, reversed);
    EXPECT_TRUE(out.traced || list.empty());
    return Outcome(out.decoded, out.startMissing, out.traced);
  };
  // Check characters: (105 + 102 + 2 x 12 + 3 x 34) mod 103 = 24, and so on.
  for (const std::vector<std::string>& characters : {std::vector<std::string>{"01"},
                                                     {"12", "34", "00", "24"},
                                                     {"56", "44", "24", "99", "00", "12"}}) {
    const int count = static_cast<int>(characters.size()) - 1;
    const std::string widths = Code128(characters);
    EXPECT_EQ(decode(Scan({widths.rbegin(), widths.rend()}).second, count, true),
              Outcome(true, false, true));
    const PatternList backward = list;
    EXPECT_EQ(decode(Scan(widths).second, count), Outcome(true, false, true));
    EXPECT_EQ(list, backward);
    EXPECT_EQ(std::accumulate(list.begin(), list.end(), std::string()),  // FNC1 to the check
              widths.substr(6, 6 * characters.size() + 6));
  }

  // One ranking, of the first data window, serves every data character: blurred so, "12"
  // reads as "15", the check as "30"; ranking each window would find no check character.
  const std::string good = Code128({"12", "34", "00", "24"});
  Positions blurred = Scan(good).second;
  blurred[13] -= 2, blurred[15] += 2;
  ASSERT_EQ(decode(blurred, 3), Outcome(true, false, true));
  EXPECT_EQ(list[1] + list[4], "113222212123");  // "15" and "30"

  const auto with = [&good](std::size_t at, const std::string& w) {
    return Scan(std::string(good).replace(at, w.size(), w)).second;
  };
  EXPECT_EQ(decode(Scan(good.substr(1)).second, 3), Outcome(false, false, false));  // 6 x 3 + 24
  EXPECT_EQ(decode(Scan(good).second, INT_MAX), Outcome(false, false, false));
  EXPECT_EQ(decode(with(0, kStandard128.at("STARTB")), 3), Outcome(false, true, true));
  Positions falling = Scan(good).second;  // leaves no module to measure with
  std::reverse(falling.begin(), falling.end());
  EXPECT_EQ(decode(falling, 3), Outcome(false, true, true));
  // A stop of sums 5 4 4 4 2 3; a wrong check character.
  EXPECT_EQ(decode(with(good.size() - 7, "2313112"), 3), Outcome(false, false, true));
  EXPECT_EQ(decode(with(good.size() - 13, kStandard128.at("99")), 3), Outcome(false, false, true));
}

TEST(Robustness, BadValuesNeverCrashTheDecodersAndPatternsKeepTheirShape) {
  std::mt19937 gen(20240611);
  const auto spoil = [&gen](std::vector<double> v) {  // three values NaN, infinite or huge
    for (int k = 0; k < 3; ++k)
      v[gen() % v.size()] = std::array{std::nan(""), HUGE_VAL, 1e300}[gen() % 3];
    return v;
  };
  const auto [w, p] = Scan(Code128({"12", "34", "00", "24"}));  // 43 elements
  for (int round = 0; round < 300; ++round) {
    PatternList c39, i25, c128;
    EXPECT_EQ(BuildInterleavedPatterns(spoil(w), spoil({p.begin(), p.begin() + 6}), i25), 0u);
    DecodeCode39(spoil(w), spoil({p.begin(), p.begin() + 39}), c39, 2, round % 2);
    for (const auto& q : c39) EXPECT_EQ(std::count(q.begin(), q.end(), '1'), 3) << q;
    DecodeInterleaved2of5(spoil(w), spoil({p.begin(), p.begin() + 37}), i25, 6);
    EXPECT_EQ(i25.size(), 8u);  // six positions gave nothing; now start, three pairs, stop
    const Code128Outcome out = DecodeCode128(spoil(p), c128, kTables, 3, round % 2);
    EXPECT_TRUE(out.traced && (!out.decoded || !out.startMissing));
    for (const auto& q : c128) EXPECT_EQ(q.find_first_not_of("1234"), std::string::npos) << q;
  }
}

}  // namespace
}  // namespace markwire::barcode
