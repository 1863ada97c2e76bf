// Tables checked against the symbologies' construction rules; whole symbols
// encoded here from the standards and decoded end to end; bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "barcode/symbols/code128_decoder.h"
#include "barcode/symbols/symbol_tables.h"
#include "barcode/symbols/two_width_decoder.h"

namespace markwire::barcode {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// 2 of 5 with the weights 1, 2, 4, 7, 0: the two wide ones add up to the
// digit; 4 + 7 stands for 0.
std::string TwoOfFive(int digit) {
  constexpr int kWeights[] = {1, 2, 4, 7, 0};
  std::string p = "00000";
  for (std::size_t i = 0; i < 5; ++i)
    for (std::size_t j = i + 1; j < 5; ++j)
      if (kWeights[i] + kWeights[j] == (digit == 0 ? 11 : digit)) p[i] = p[j] = '1';
  return p;
}

// Code 39: four groups of ten share the bars of the digits 1..9, 0 and differ
// in the wide space; "% + / $" have narrow bars and one narrow space. "_"
// stands for the hyphen.
std::string Code39(char c) {
  constexpr std::string_view kGroups[] = {"UVWXYZ_. *", "1234567890", "ABCDEFGHIJ", "KLMNOPQRST"};
  std::string bars = "00000", spaces = "0000";
  if (const auto at = std::string_view("%+/$").find(c); at != std::string_view::npos) {
    spaces = "1111";
    spaces[at] = '0';
  }
  for (std::size_t g = 0; g < 4; ++g) {
    if (const auto k = kGroups[g].find(c); k != std::string_view::npos) {
      bars = TwoOfFive(static_cast<int>((k + 1) % 10));
      spaces[g] = '1';
    }
  }
  std::string p;
  for (std::size_t i = 0; i < 9; ++i) p += i % 2 == 0 ? bars[i / 2] : spaces[i / 2];
  return p;
}

// The Code 128 characters the symbols below need, as the standard gives them.
const std::map<std::string, std::string> kStandard128 = {
    {"00", "212222"},     {"01", "222122"},   {"12", "112232"},     {"24", "311222"},
    {"34", "131123"},     {"44", "132131"},   {"56", "331121"},     {"99", "113141"},
    {"CODEB", "114131"},  {"FNC1", "411131"}, {"STARTA", "211412"}, {"STARTB", "211214"},
    {"STARTC", "211232"}, {"STOP", "2331112"}};

// Element centres, ten points per module, of a start, FNC1, the pairs, the
// check character (the right one unless given) and a stop.
Positions Code128Scan(const std::vector<std::string>& pairs, std::string start = "STARTC",
                      std::string stop = "2331112", std::string check = "", bool mirror = false) {
  int sum = 105 + 102;
  for (std::size_t i = 0; i < pairs.size(); ++i)
    sum += static_cast<int>(i + 2) * std::stoi(pairs[i]);
  if (check.empty()) check = (sum % 103 < 10 ? "0" : "") + std::to_string(sum % 103);
  std::string widths = kStandard128.at(start) + kStandard128.at("FNC1");
  for (const auto& p : pairs) widths += kStandard128.at(p);
  widths += kStandard128.at(check) + stop;
  if (mirror) std::reverse(widths.begin(), widths.end());
  Positions centres;
  double at = 100;
  for (char w : widths) {
    centres.push_back(at + 5.0 * (w - '0'));
    at += 10.0 * (w - '0');
  }
  return centres;
}

struct Scan {
  Waveform waveform;
  Positions positions;
};

// Two-width elements, bar first: bars 20, spaces 220, narrow 10 points, wide
// 25, quiet zones of 100; one position at each element's centre.
Scan TwoWidthScan(std::string wide, bool mirror = false) {
  if (mirror) std::reverse(wide.begin(), wide.end());
  Scan s{Waveform(100, 220.0), {}};
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const std::size_t length = wide[i] == '1' ? 25 : 10;
    s.positions.push_back(static_cast<double>(s.waveform.size()) + length / 2.0);
    s.waveform.insert(s.waveform.end(), length, i % 2 == 0 ? 20.0 : 220.0);
  }
  s.waveform.insert(s.waveform.end(), 100, 220.0);
  return s;
}

std::string Code39Elements(const std::string& text) {
  std::string e = Code39('*');
  for (char c : text + "*") e += "0" + Code39(c);  // a narrow gap before each
  return e;
}

std::string InterleavedElements(const std::string& digits) {
  std::string e = "0000";
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    for (std::size_t k = 0; k < 5; ++k)
      e += {TwoOfFive(digits[i] - '0')[k], TwoOfFive(digits[i + 1] - '0')[k]};
  return e + "100";
}

SymbolTables TablesFor(std::vector<int> symbologies) {
  SymbolTables t;
  for (int s : symbologies) {
    t.BuildSymbolTable(s);
    t.BuildPatternIndex();
  }
  return t;
}

std::string Text(const SymbolTables& t, const PatternList& list, bool all = false) {
  std::array<char, 128> out{};
  if (all)
    TranslateAllPatterns(t, list, out);
  else
    TranslateDataPatterns(t, list, out);
  return out.data();
}

TEST(SymbolTables, RowsFollowTheStandardsConstruction) {
  std::set<std::string_view> seen;
  for (const auto& [s, p] : SymbolRows(kCode128)) {
    int modules = 0, bars = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
      EXPECT_TRUE(p[i] >= '1' && p[i] <= '4') << s;
      modules += p[i] - '0';
      bars += i % 2 == 0 ? p[i] - '0' : 0;
    }
    EXPECT_EQ(modules, s == "STOP" ? 13 : 11) << s;
    EXPECT_EQ(bars % 2, 0) << s;
    EXPECT_TRUE(seen.insert(p).second) << s;
  }
  EXPECT_EQ(seen.size(), 107u);
  const SymbolTables t128 = TablesFor({kCode128});
  for (const auto& [s, p] : kStandard128) EXPECT_EQ(t128.SymbolTable().at(s), p);
  for (int v = 0; v < 100; ++v)
    EXPECT_EQ(SymbolRows(kCode128)[static_cast<std::size_t>(v)].symbol,
              (v < 10 ? "0" : "") + std::to_string(v));

  for (const auto& [symbology, rows, wide] : std::vector<std::tuple<int, std::size_t, long>>{
           {kCode39, 44, 3}, {kInterleaved2of5, 10, 2}}) {
    seen.clear();
    for (const auto& [s, p] : SymbolRows(symbology)) {
      ASSERT_EQ(s.size(), 1u);
      EXPECT_EQ(p, symbology == kCode39 ? Code39(s[0]) : TwoOfFive(s[0] - '0')) << s;
      EXPECT_EQ(std::count(p.begin(), p.end(), '1'), wide) << s;
      EXPECT_TRUE(seen.insert(p).second) << s;
    }
    EXPECT_EQ(seen.size(), rows);
  }
  // The rows the standard is usually quoted by, and the hyphen's pattern
  // under "_".
  const SymbolTables t39 = TablesFor({kCode39});
  for (const auto& [p, s] :
       {std::pair{"100001001", "A"}, {"010100010", "/"}, {"010010100", "*"}, {"010000101", "_"}})
    EXPECT_EQ(t39.FindSymbol(p), s);
  EXPECT_EQ(t39.SymbolTable().count("-"), 0u);
}

TEST(SymbolTables, IndexGrowsAcrossSymbologiesAndTranslationsStayInTheBuffer) {
  SymbolTables t = TablesFor({kCode39, kCode128});
  EXPECT_EQ(t.SymbolTable().size(), 107u);
  EXPECT_EQ(t.PatternIndex().size(), 151u);
  EXPECT_EQ(t.FindSymbol(Code39('Q')), "Q");
  for (const auto& [p, s] : t.PatternIndex())
    EXPECT_TRUE(p.size() == 9 || t.SymbolTable().at(s) == p) << p;  // only Code 128 rows answer
  t.BuildSymbolTable(0);
  t.BuildPatternIndex();
  EXPECT_TRUE(t.SymbolTable().empty());
  EXPECT_EQ(t.PatternIndex().size(), 151u);

  const PatternList list = {Code39('*'), Code39('A'), "110100000", Code39('B'), Code39('*')};
  EXPECT_EQ(Text(t, list, true), "*AB*");
  struct Case {
    PatternList patterns;
    std::size_t size, length;
  };
  for (const Case& c : std::vector<Case>{
           {list, 8, 2}, {list, 2, 1}, {list, 1, 0}, {list, 0, 0}, {{list[0], list[1]}, 8, 0}}) {
    std::array<char, 9> out;
    out.fill('x');
    EXPECT_EQ(TranslateDataPatterns(t, c.patterns, std::span(out).first(c.size)), c.length);
    EXPECT_EQ(std::string_view(out.data(), c.length), std::string_view("AB").substr(0, c.length));
    EXPECT_EQ(out[c.length], c.size == 0 ? 'x' : '\0');
    EXPECT_EQ(out[c.size], 'x');
    out.fill('x');
    TranslateAllPatterns(t, c.patterns, std::span(out).first(c.size));
    EXPECT_EQ(out[c.size], 'x');
  }
}

TEST(TwoWidth, WidthsAndWideSelection) {
  // Swings of 100, so the run threshold is 30; the point exactly at 30 is in.
  const Waveform w = {100, 100, 0, 0, 0, 0, 0, 30, 100, 100};
  using L = std::optional<long>;
  for (const auto& [left, p, right, width] : std::vector<std::tuple<L, long, L, int>>{
           {1, 3, 8, 7},    // runs 2 + 5
           {{}, 3, 8, 10},  // twice the right run
           {1, 3, {}, 6},   // twice the left run plus 2
           {{}, 8, 9, 4},   // right run ends at the last point
           {3, 1, {}, 6},   // left run ends at the first point
           {-5, 3, 80, 7},  // outside the curve: its end points
           {LONG_MIN, LONG_MAX, {}, 6},
           {{}, 3, {}, 0}}) {
    EXPECT_EQ(ElementWidth(w, left, p, right), width) << p;
  }
  EXPECT_EQ(ElementWidth({}, 0, 1, 2), 0);

  EXPECT_EQ(detail::MarkWidest(std::array{3, 3, 6, 3, 6, 3, 3, 6, 6}, 3), "000010011");
  EXPECT_EQ(detail::MarkWidest(std::array{9, 2, 2, 9, 2}, 2), "10010");
  EXPECT_EQ(detail::StartPattern({4, 4, 4, 4}), "0000");
  EXPECT_EQ(detail::StartPattern({4, 4, 4, 9}), "0001");
  EXPECT_EQ(detail::StartPattern({4, 4, 4, 7}), "0001");  // m = 19 / 4 = 4, not 4.75
  EXPECT_EQ(detail::StartPattern({4, 4, 4, 6}), "0000");  // 2 is not > 2
  EXPECT_EQ(detail::StopPattern({6, 6, 2}), "100");
  EXPECT_EQ(detail::StopPattern({2, 6, 6}), "010");
}

TEST(TwoWidth, CleanScansDecodeAndWrongCountsLeaveTheListAlone) {
  const SymbolTables t = TablesFor({kCode39, kInterleaved2of5});
  for (const std::string text : {"", "CODE39", "0123456789", "WXYZ_. $/+%"}) {
    const int count = static_cast<int>(text.size());
    PatternList forward, backward;
    const Scan scan = TwoWidthScan(Code39Elements(text)),
               mirrored = TwoWidthScan(Code39Elements(text), true);
    EXPECT_TRUE(DecodeCode39(scan.waveform, scan.positions, forward, count, true));
    EXPECT_EQ(Text(t, forward), text);
    EXPECT_TRUE(DecodeCode39(mirrored.waveform, mirrored.positions, backward, count, false));
    EXPECT_EQ(backward, forward);
    EXPECT_FALSE(DecodeCode39(mirrored.waveform, mirrored.positions, backward, count, true));
  }
  for (const auto& [digits, count] :
       std::vector<std::pair<std::string, int>>{{"", 0}, {"123456", 5}, {"9081726354", 10}}) {
    const Scan scan = TwoWidthScan(InterleavedElements(digits));
    PatternList list;
    EXPECT_TRUE(DecodeInterleaved2of5(scan.waveform, scan.positions, list, count));
    EXPECT_EQ(Text(t, list), digits);
    const Scan mirrored = TwoWidthScan(InterleavedElements(digits), true);
    list.clear();
    EXPECT_FALSE(DecodeInterleaved2of5(mirrored.waveform, mirrored.positions, list, count));
  }

  const Scan c39 = TwoWidthScan(Code39Elements("AB")),
             i25 = TwoWidthScan(InterleavedElements("123456"));
  ASSERT_EQ(c39.positions.size(), 39u);
  ASSERT_EQ(i25.positions.size(), 37u);
  for (const auto& [code39, count, n] :
       std::vector<std::tuple<bool, int, std::size_t>>{{true, 2, 38},
                                                       {true, 2, 40},
                                                       {true, -1, 9},
                                                       {true, INT_MAX, 39},
                                                       {false, 5, 36},
                                                       {false, 5, 38},
                                                       {false, -1, 7},
                                                       {false, INT_MAX, 37}}) {
    const Scan& s = code39 ? c39 : i25;
    Positions positions = s.positions;
    positions.resize(n, 2000);
    PatternList list = {"kept"};
    EXPECT_FALSE(code39 ? DecodeCode39(s.waveform, positions, list, count, true)
                        : DecodeInterleaved2of5(s.waveform, positions, list, count));
    EXPECT_EQ(list, PatternList{"kept"});
  }
}

TEST(Code128, RoundingRankingValuesAndCheckSums) {
  for (const auto& [e, c0, c1, c2, error] : std::vector<std::tuple<double, int, int, int, double>>{
           {2.5, 3, 2, 4, 0.5}, {2.49, 2, 3, 1, 0.49}, {3.0, 3, 4, 2, 0.0}}) {
    const auto r = detail::RoundPairSum(e);
    EXPECT_EQ(r.candidates, (std::array{c0, c1, c2})) << e;
    EXPECT_NEAR(r.error, error, 1e-9) << e;
  }
  for (double bad : {kNaN, -kInf, 1e300}) EXPECT_EQ(detail::RoundPairSum(bad).error, kInf);
  EXPECT_EQ(detail::RankByError({0.1, 0.4, 0.0, 0.3, 0.2, 0.4}), (std::array{2, 0, 4, 3, 1, 5}));
  EXPECT_EQ(detail::RankByError({kNaN, 0.5, kInf, 0.0, 0.5, 0.1}), (std::array{3, 5, 1, 4, 0, 2}));

  // The sums of 212222 after a width of 2, blurred: ranked 3, 1, 2, 4, 0, 5,
  // so position 5 changes fastest, then 0. Past the exact reading, the first
  // width-valid character moves position 0 to its third candidate.
  std::array<detail::Roundings, 6> window;
  std::array<double, 6> errors;
  constexpr std::array kSums = {4.3, 3.1, 2.8, 4.0, 4.2, 3.6};
  for (std::size_t i = 0; i < 6; ++i) {
    window[i] = detail::RoundPairSum(kSums[i]);
    errors[i] = window[i].error;
  }
  const auto rank = detail::RankByError(errors);
  ASSERT_EQ(rank, (std::array{3, 1, 2, 4, 0, 5}));
  EXPECT_EQ(detail::FirstCombination(window, rank, 2, [](auto) { return true; }), "212222");
  EXPECT_EQ(detail::FirstCombination(window, rank, 2, [](auto p) { return p != "212222"; }),
            "121313");
  EXPECT_EQ(detail::FirstCombination(window, rank, 2, [](auto) { return false; }), std::nullopt);

  EXPECT_EQ(SymbolValue(std::nullopt), -1);
  EXPECT_EQ(SymbolValue("07"), 7);
  EXPECT_EQ(SymbolValue("CODEA"), 101);
  EXPECT_EQ(SymbolValue("STARTC"), 105);
  EXPECT_EQ(SymbolValue("STOP"), -1);

  const SymbolTables t = TablesFor({kCode128});
  for (const auto& [data, check, holds] :
       std::vector<std::tuple<std::vector<std::string>, std::string, bool>>{
           {{"12", "34", "56"}, "44", true},
           {{"56", "34", "12"}, "44", false},  // weights follow the order
           {{"FNC1", "12", "34"}, "24", true},
           {{"CODEB"}, "FNC1", true},  // 105 + 100 = 205 = 103 + 102
           {{}, "STARTA", false}}) {
    PatternList list;
    for (const auto& d : data) list.push_back(kStandard128.at(d));
    EXPECT_EQ(VerifyCheckSum(list, kStandard128.at(check), t), holds) << check;
  }
  EXPECT_FALSE(
      VerifyCheckSum({kStandard128.at("12"), "2331112"}, kStandard128.at("00"), t));  // STOP
}

TEST(Code128, SymbolsDecodeBothWaysAndFailuresReportWhy) {
  const SymbolTables t = TablesFor({kCode128});
  for (const std::vector<std::string>& pairs :
       {std::vector<std::string>{}, {"12", "34", "00"}, {"56", "44", "24", "99", "00"}}) {
    const int count = static_cast<int>(pairs.size());
    std::string digits;
    for (const auto& p : pairs) digits += p;
    PatternList forward, backward;
    const Code128Outcome out = DecodeCode128(Code128Scan(pairs), forward, t, count, false);
    EXPECT_TRUE(out.decoded && out.traced && !out.startMissing) << digits;
    EXPECT_EQ(Text(t, forward, true).substr(0, 4 + digits.size()), "FNC1" + digits);
    EXPECT_EQ(forward.size(), pairs.size() + 2);
    EXPECT_TRUE(
        DecodeCode128(Code128Scan(pairs, "STARTC", "2331112", "", true), backward, t, count, true)
            .decoded);
    EXPECT_EQ(backward, forward);
  }

  // One ranking, made on the first data window, serves every data character:
  // blurred as here, "12" reads as "15" (and the check then as "30"), where a
  // ranking of its own window would have found no check character.
  Positions blurred = Code128Scan({"12", "34", "00"});
  blurred[13] -= 4;
  blurred[15] += 4;
  PatternList misread;
  EXPECT_TRUE(DecodeCode128(blurred, misread, t, 3, false).decoded);
  EXPECT_EQ(Text(t, misread, true), "FNC115340030");

  const std::vector<std::string> pairs = {"12", "34", "00"};
  Positions shortOne = Code128Scan(pairs), flat(43, 50.0), falling = Code128Scan(pairs);
  shortOne.pop_back();
  std::reverse(falling.begin(), falling.end());
  struct Case {
    const char* name;
    Positions positions;
    int count;
    bool decoded, startMissing, traced;
  };
  for (const Case& c : std::vector<Case>{
           {"6 x count + 24", shortOne, 3, false, false, false},
           {"24 with count below 0", Positions(shortOne.begin(), shortOne.begin() + 24), -1, false,
            false, false},
           {"count below 0 counts as 0", Code128Scan(pairs), -7, true, false, true},
           {"huge count", Code128Scan(pairs), INT_MAX, false, false, false},
           {"Start A", Code128Scan(pairs, "STARTA"), 3, false, true, true},
           {"Start B", Code128Scan(pairs, "STARTB"), 3, false, true, true},
           {"stop sums 5 4 4 4 2 3", Code128Scan(pairs, "STARTC", "2313112"), 3, false, false,
            true},
           {"wrong check", Code128Scan(pairs, "STARTC", "2331112", "99"), 3, false, false, true},
           {"no module", flat, 3, false, true, true},
           {"falling", falling, 3, false, true, true}}) {
    PatternList list;
    const Code128Outcome out = DecodeCode128(c.positions, list, t, c.count, false);
    EXPECT_EQ(std::tuple(out.decoded, out.startMissing, out.traced),
              std::tuple(c.decoded, c.startMissing, c.traced))
        << c.name;
    EXPECT_TRUE(out.traced || list.empty()) << c.name;
  }
}

TEST(Robustness, BadInputNeverCrashesAndStillYieldsWellFormedPatterns) {
  std::mt19937 gen(20240611);
  const auto pick = [&gen](int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen); };
  const auto value = [&] {
    constexpr double kOdd[] = {kNaN,  kInf, -kInf,
                               1e300, -1e6, std::numeric_limits<double>::lowest()};
    return pick(3) == 0 ? kOdd[pick(6)] : std::uniform_real_distribution<double>(0, 3000)(gen);
  };
  const auto index = [&] {
    return pick(4) == 0 ? std::array{LONG_MIN, LONG_MAX, -1L}[static_cast<std::size_t>(pick(3))]
                        : long{pick(3000)};
  };
  const auto list = [&](int n) {  // rising, some of them bad
    Positions p(static_cast<std::size_t>(std::max(n, 0)));
    for (double& v : p) v = std::uniform_real_distribution<double>(0, 3000)(gen);
    std::sort(p.begin(), p.end());
    for (int k = pick(4); k > 0 && !p.empty(); --k)
      p[static_cast<std::size_t>(pick(static_cast<int>(p.size())))] = value();
    return p;
  };
  const SymbolTables t = TablesFor({kCode39, kInterleaved2of5, kCode128});
  const auto ones = [](const std::string& p) { return std::count(p.begin(), p.end(), '1'); };

  for (int round = 0; round < 400; ++round) {
    Waveform w(static_cast<std::size_t>(pick(400)));
    for (double& v : w) v = pick(40) == 0 ? value() : pick(256);
    const int count = pick(10) - 3;
    EXPECT_GE(ElementWidth(w, index(), index(), index()), 0);

    PatternList c39;
    std::array<long, 9> character;
    for (long& i : character) i = index();
    ClassifyCode39Character(w, character, c39, pick(2) == 0);
    DecodeCode39(w, list(pick(3) == 0 ? pick(60) : 10 * count + 19), c39, count, pick(2) == 0);
    for (const auto& p : c39) EXPECT_TRUE(p.size() == 9 && ones(p) == 3) << p;

    PatternList i25;
    DecodeInterleaved2of5(w, list(pick(3) == 0 ? pick(60) : 5 * (count + count % 2) + 7), i25,
                          count);
    const int n = pick(50);
    i25.clear();
    const std::size_t built = BuildInterleavedPatterns(w, list(n), i25);
    EXPECT_EQ(built, i25.size());
    EXPECT_EQ(i25.empty(), n < 7);
    for (std::size_t i = 1; i < i25.size(); ++i)
      EXPECT_EQ(ones(i25[i]), i + 1 < i25.size() ? 2 : 1);

    Positions positions = pick(2) == 0 ? list(pick(70)) : Code128Scan({"12", "34", "00"});
    for (int k = pick(3); k > 0 && !positions.empty(); --k)
      positions[static_cast<std::size_t>(pick(static_cast<int>(positions.size())))] = value();
    PatternList c128;
    const Code128Outcome out =
        DecodeCode128(positions, c128, t, pick(8) == 0 ? INT_MIN : count, pick(2) == 0);
    EXPECT_TRUE(!out.decoded || (out.traced && !out.startMissing));
    EXPECT_TRUE(out.traced || c128.empty());
    for (const auto& p : c128)
      EXPECT_TRUE(p.size() == 6 && p.find_first_not_of("1234") == std::string::npos) << p;

    std::array<char, 24> out2;
    out2.fill('x');
    const auto size = static_cast<std::size_t>(pick(17));
    const std::size_t length =
        TranslateDataPatterns(t, pick(2) == 0 ? c128 : c39, std::span(out2).first(size));
    EXPECT_TRUE(size == 0 ? length == 0 : out2[length] == '\0');
    TranslateAllPatterns(t, pick(2) == 0 ? c128 : c39, std::span(out2).first(size));
    EXPECT_TRUE(std::all_of(out2.begin() + static_cast<long>(size), out2.end(),
                            [](char ch) { return ch == 'x'; }));
  }
}

}  // namespace
}  // namespace markwire::barcode
