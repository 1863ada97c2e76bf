// The barcodes on the simulated cards: the symbols against the symbology
// standards, the optical model against the ideal profile it blurs, and the
// reader's "PR/" answer over the in-memory line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "barcode_encoder.h"
#include "card_source.h"
#include "fault.h"
#include "memory_link.h"
#include "reader_machine.h"
#include "virtual_clock.h"
#include "waveform_model.h"

namespace markwire::sim {
namespace {

using namespace std::string_view_literals;
using Widths = std::vector<double>;

Widths Encode(BarcodeKind kind, std::string_view text, EncodeOptions options = {}) {
  auto result = EncodeBarcode(kind, text, options);
  if (auto* reason = std::get_if<std::string>(&result)) ADD_FAILURE() << text << ": " << *reason;
  auto* widths = std::get_if<Widths>(&result);
  return widths ? *widths : Widths{};
}

double Sum(const Widths& w) {
  return std::accumulate(w.begin(), w.end(), 0.0);
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
  EXPECT_EQ(Sum(symbol), 11.0 * 6 + 13);
  // Start C, FNC1, 12, 34, 56
  EXPECT_EQ(Elements(symbol, 0, 30),
            "211232"
            "411131"
            "112232"
            "131123"
            "331121");
  EXPECT_EQ(Elements(Encode(BarcodeKind::Code128, "99"), 12, 6), "113141");
  EXPECT_EQ(Elements(symbol, 36, 7), "2331112");
  for (std::size_t c = 0; c < 36; c += 6) {
    // The standard's parity: the bars of every character add up to an even count.
    EXPECT_EQ(static_cast<int>(symbol[c] + symbol[c + 2] + symbol[c + 4]) % 2, 0) << c;
    EXPECT_EQ(Sum({symbol.begin() + c, symbol.begin() + c + 6}), 11) << c;
  }
  // The check character: 105 for Start C plus each value times its position,
  // counted from 1 at FNC1 (102), modulo 103.
  const struct {
    std::string text, check;
  } checks[] = {
      // 105 + 1x102 + 2x12 + 3x34 + 4x56 = 557 = 5x103 + 42, which is 112133.
      {"123456", "112133"},
      // 105 + 1x102 = 207 = 2x103 + 1, which is 222122 ("00" has value 0).
      {"00", "222122"},
      // 105 + 102 + 99x(2 + 3 + 4 + 5) = 1593 = 15x103 + 48, which is 313121.
      {"99999999", "313121"},
  };
  for (const auto& c : checks) {
    const Widths w = Encode(BarcodeKind::Code128, c.text);
    EXPECT_EQ(Elements(w, w.size() - 13, 6), c.check) << c.text;
  }
}

TEST(SimBarcodeEncoder, Code39AndInterleaved2of5MakeTheirStandardsWideElements) {
  const Widths symbol = Encode(BarcodeKind::Code39, "A-_1");
  // "*", four characters, "*": nine elements each, and a gap between two.
  ASSERT_EQ(symbol.size(), 6u * 9 + 5);
  EXPECT_EQ(Sum(symbol), 6 * (6 + 3 * 2.5) + 5 * 1.0);
  EXPECT_EQ(Sum(Encode(BarcodeKind::Code39, "A-_1", {3.0, 2.0})), 6 * (6 + 3 * 3.0) + 5 * 2.0);
  EXPECT_EQ(Elements(symbol, 0, 19, true), "0100101000100001001");  // "*", gap, "A"
  EXPECT_EQ(Elements(symbol, 20, 9), Elements(symbol, 30, 9));      // "_" is printed as "-"
  // Every character: two wide bars and one wide space, or three wide spaces
  // for the last four; no two alike, none like "*".
  std::set<std::string> seen = {"010010100"};
  for (const char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%")) {
    const Widths w = Encode(BarcodeKind::Code39, std::string(1, c));
    ASSERT_EQ(w.size(), 29u) << c;
    const std::string bars = Elements(w, 10, 5, true, 2), spaces = Elements(w, 11, 4, true, 2);
    const bool special = std::string_view("$/+%").find(c) != std::string_view::npos;
    EXPECT_EQ(std::count(bars.begin(), bars.end(), '1'), special ? 0 : 2) << c;
    EXPECT_EQ(std::count(spaces.begin(), spaces.end(), '1'), special ? 3 : 1) << c;
    EXPECT_TRUE(seen.insert(Elements(w, 10, 9, true)).second) << c;
  }

  const Widths i25 = Encode(BarcodeKind::Interleaved2of5, "1290");
  // Start, two pairs of ten elements (3 narrow and 2 wide per digit), stop.
  ASSERT_EQ(i25.size(), 4u + 2 * 10 + 3);
  EXPECT_EQ(Sum(i25), 4 + 2 * 2 * (3 + 2 * 2.5) + (2.5 + 1 + 1));
  EXPECT_EQ(Elements(i25, 0, 4, true) + Elements(i25, 24, 3, true), "0000100");
  // The first digit of a pair in the bars, the second in the spaces.
  EXPECT_EQ(Elements(i25, 4, 5, true, 2) + Elements(i25, 5, 5, true, 2), "1000101001");    // 1, 2
  EXPECT_EQ(Elements(i25, 14, 5, true, 2) + Elements(i25, 15, 5, true, 2), "0101000110");  // 9, 0
  const Widths digits = Encode(BarcodeKind::Interleaved2of5, "0123456789");
  std::set<std::string> patterns;
  for (std::size_t d = 0; d < 10; ++d) {
    const std::string five = Elements(digits, 4 + d / 2 * 10 + d % 2, 5, true, 2);
    EXPECT_EQ(std::count(five.begin(), five.end(), '1'), 2) << d;
    patterns.insert(five);
  }
  EXPECT_EQ(patterns.size(), 10u);
}

TEST(SimBarcodeEncoder, RefusesWhatTheSymbologyCannotCarryWithAReason) {
  const struct {
    BarcodeKind kind;
    std::string text;
    EncodeOptions options;
  } refused[] = {
      {BarcodeKind::Code39, "abc", {}},
      {BarcodeKind::Code39, "A*B", {}},
      {BarcodeKind::Code39, "A", {1.5, 1.0}},
      {BarcodeKind::Code39, "A", {2.5, 0.0}},
      {BarcodeKind::Interleaved2of5, "12A4", {}},
      {BarcodeKind::Interleaved2of5, "123", {}},
      {BarcodeKind::Code128, "12AB", {}},
      {BarcodeKind::Code128, "12345", {}},
      {BarcodeKind::Code128, "", {}},
  };
  for (const auto& r : refused) {
    const auto result = EncodeBarcode(r.kind, r.text, r.options);
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << r.text;
    EXPECT_FALSE(std::get<std::string>(result).empty());
  }
}

OpticsOptions Clean(double samplesPerModule) {
  OpticsOptions o;
  o.samplesPerModule = samplesPerModule;
  o.blurModules = o.noise = o.speedJitter = o.gainSpread = o.offsetSpread = 0;
  o.quietModules = 5;
  return o;
}

TEST(SimOptics, CleanOpticsSampleTheIdealProfileAndTheSeedDecidesTheCard) {
  const Widths symbol = Encode(BarcodeKind::Code128, "1234");
  for (const int perModule : {1, 3}) {
    std::vector<std::uint8_t> ideal(5 * perModule, 215);
    for (std::size_t i = 0; i < symbol.size(); ++i)
      ideal.insert(ideal.end(), static_cast<std::size_t>(symbol[i]) * perModule,
                   i % 2 == 0 ? 40 : 215);
    ideal.insert(ideal.end(), 5 * perModule, 215);
    OpticsOptions o = Clean(perModule);
    for (o.seed = 1; o.seed <= 3; ++o.seed) EXPECT_EQ(RenderWaveform(symbol, o), ideal);
  }
  OpticsOptions o;
  const std::vector<std::uint8_t> card = RenderWaveform(symbol, o);
  EXPECT_EQ(RenderWaveform(symbol, o), card);
  // Without noise or drift, the card's gain, offset and phase alone still
  // tell two cards apart.
  o.noise = o.speedJitter = 0;
  const std::vector<std::uint8_t> quiet = RenderWaveform(symbol, o);
  ++o.seed;
  EXPECT_NE(RenderWaveform(symbol, o), quiet);
}

TEST(SimOptics, HeavierBlurLowersTheContrastOfANarrowBarOnly) {
  OpticsOptions o = Clean(10);
  const auto darkest = [&o](double modules, double blur) {
    o.blurModules = blur;
    const auto samples = RenderWaveform(Widths{modules}, o);
    return *std::min_element(samples.begin(), samples.end());
  };
  EXPECT_EQ(darkest(1, 0), 40);
  EXPECT_GT(darkest(1, 0.3), 40 + 5);
  EXPECT_GT(darkest(1, 0.6), darkest(1, 0.3) + 20);
  EXPECT_LE(darkest(6, 0.6), 41);  // the spot is normalized
}

// A plain threshold reader still finds every element, in order and about as
// wide as printed, through the default blur, noise and drift.
TEST(SimOptics, MidLevelCrossingsRecoverTheElements) {
  const Widths symbol = Encode(BarcodeKind::Code39, "CODE-39");
  for (const double perModule : {5.0, 3.7}) {
    for (std::uint64_t seed = 1; seed <= 5; ++seed) {
      OpticsOptions o;
      o.samplesPerModule = perModule;
      o.seed = seed;
      const auto samples = RenderWaveform(symbol, o);
      const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
      Widths runs;
      bool dark = false;
      for (const std::uint8_t s : samples) {
        if ((s < (*lo + *hi) / 2.0) != dark) {
          dark = !dark;
          runs.push_back(0);
        }
        if (!runs.empty()) ++runs.back();
      }
      runs.pop_back();  // the trailing quiet zone
      ASSERT_EQ(runs.size(), symbol.size()) << perModule << " per module, seed " << seed;
      for (std::size_t i = 0; i < runs.size(); ++i)
        EXPECT_NEAR(runs[i] / perModule, symbol[i], 0.5) << i << ", seed " << seed;
    }
  }
}

class SimWaveformTest : public ::testing::Test {
 protected:
  void Make(std::vector<Card> cards) {
    machine_ =
        std::make_unique<ReaderMachine>(config_, std::make_unique<ListCards>(std::move(cards)));
    link_ = std::make_unique<MemoryLink>(clock_, *machine_);
    ASSERT_TRUE(link_->Open("sim", kReaderLine));
    ASSERT_EQ(Exchange("ONLINE/"), "ONLINE/EN");
  }

  std::string Exchange(std::string_view command) {
    link_->Write({reinterpret_cast<const std::uint8_t*>(command.data()), command.size()});
    std::string all, chunk(4096, '\0');
    while (const unsigned got =
               link_->Read({reinterpret_cast<std::uint8_t*>(chunk.data()), chunk.size()}, 60'000))
      all.append(chunk, 0, got);
    return all;
  }

  void Download(std::string_view line) {
    for (const std::string_view command : {std::string_view("S a.txt/"), line, "EN/"sv})
      ASSERT_EQ(Exchange(command), std::string(command) + "EN");
  }

  // What the reader must send for `text` on card `number`: last sample first.
  std::string Expected(BarcodeKind kind, std::string_view text, std::uint64_t number) {
    OpticsOptions optics = config_.barcodeOptics;
    optics.seed += number;
    const auto samples = RenderWaveform(Encode(kind, text), optics);
    char count[8];
    std::snprintf(count, sizeof count, "%04zu", samples.size());
    return "PR/EN" + std::string(count) + std::string(samples.rbegin(), samples.rend());
  }

  ReaderConfig config_;
  VirtualClock clock_;
  std::unique_ptr<ReaderMachine> machine_;
  std::unique_ptr<MemoryLink> link_;
};

TEST_F(SimWaveformTest, SendsTheCurrentCardsBarcodeLastSampleFirst) {
  config_.barcodeOptics.seed = 40;
  Make({{"A", "12345678"}, {"B", "12345678"}, {"C", ""}, {"D", "12ab"}, {"E", "7"}});
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  EXPECT_EQ(Exchange("PR/"), "PR/EN0000");  // no format yet
  Download("f 3 010 020 01 08/");
  const std::string first = Exchange("PR/");
  EXPECT_EQ(first, Expected(BarcodeKind::Code39, "12345678", 1));
  EXPECT_EQ(Exchange("PR/"), first);  // the same card answers alike
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  // The same text on the next card: another gain, offset, phase and noise.
  EXPECT_EQ(Exchange("PR/"), Expected(BarcodeKind::Code39, "12345678", 2));
  Download("f 3 010 020 01 10/");  // padded with spaces
  EXPECT_EQ(Exchange("PR/"), Expected(BarcodeKind::Code39, "  12345678", 2));
  Download("f 1 010 020 01 07/");  // cut to seven digits, and one "0" for the pairs
  EXPECT_EQ(Exchange("PR/"), Expected(BarcodeKind::Code128, "02345678", 2));
  Download("T/");  // no barcode line
  EXPECT_EQ(Exchange("PR/"), "PR/EN0000");
  Download("f 2 010 020 01 04/");
  EXPECT_EQ(Exchange("-/"), "-/EN");
  EXPECT_EQ(Exchange("PR/"), "PR/EN0000");  // no card in the reader
  for (int card = 0; card < 2; ++card) {    // no barcode; letters in Interleaved 2 of 5
    ASSERT_EQ(Exchange("R/"), "R/ENEN");
    EXPECT_EQ(Exchange("PR/"), "PR/EN0000");
  }
  ASSERT_EQ(Exchange("R/"), "R/ENEN");
  // 998 spaces and a "7" in Code 39 make tens of thousands of samples.
  Download("f 3 010 020 01 999/");
  const std::string capped = Exchange("PR/");
  EXPECT_EQ(capped.substr(0, 9), "PR/EN9999");
  EXPECT_EQ(capped.size(), 9u + 9999);
}

// The faults that need to know the reply's shape; those that cut a reply
// short treat "PR/" like any other command.
TEST_F(SimWaveformTest, FaultsShapeTheWaveformBlock) {
  using Kind = Fault::Kind;
  using From = std::function<std::string(const std::string&)>;  // the normal reply
  const struct {
    Fault fault;
    From expected;
  } cases[] = {
      {{Kind::GarbageLength, "PR", "", -1}, [](auto& n) { return "PR/EN12x4" + n.substr(9); }},
      // All the samples announced, only 25 sent.
      {{Kind::ShortBlock, "PR", "25", -1}, [](auto& n) { return n.substr(0, 9 + 25); }},
      {{Kind::HangUp, "PR", "", -1}, [](auto& n) { return n.substr(0, 9 + (n.size() - 9) / 2); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FaultKindName(c.fault.kind));
    Make({{"A", "12345678"}});
    Download("f 1 010 020 01 08/");
    ASSERT_EQ(Exchange("R/"), "R/ENEN");
    const std::string normal = Exchange("PR/");
    machine_->AddFault(c.fault);
    EXPECT_EQ(Exchange("PR/"), c.expected(normal));
    EXPECT_EQ(link_->IsValid(), c.fault.kind != Kind::HangUp);
  }
}

}  // namespace
}  // namespace markwire::sim
