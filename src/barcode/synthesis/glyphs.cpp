#include "barcode/synthesis/glyphs.h"

#include <algorithm>

#include "barcode/symbols/code128_check.h"
#include "barcode/symbols/symbol_tables.h"

namespace markwire::barcode::synthesis {
namespace {

constexpr int kCode128Data = 103;  // values 0..102: digit pairs, CODEB, CODEA, FNC1
constexpr int kStartC = code128::kStartCValue;

// Bars of alternating bar/space widths, bar first.
std::vector<std::pair<double, double>> BarsOf(std::span<const double> widths) {
  std::vector<std::pair<double, double>> bars;
  double x = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i % 2 == 0) bars.emplace_back(x, x + widths[i]);
    x += widths[i];
  }
  return bars;
}

std::vector<double> NarrowWide(std::string_view pattern, double wide) {
  std::vector<double> widths;
  for (const char c : pattern) widths.push_back(c == '1' ? wide : 1.0);
  return widths;
}

std::vector<double> Modules(std::string_view pattern) {
  std::vector<double> widths;
  for (const char c : pattern) widths.push_back(c - '0');
  return widths;
}

const SymbolRow* FindRow(int symbology, std::string_view symbol) {
  for (const SymbolRow& row : SymbolRows(symbology))
    if (row.symbol == symbol) return &row;
  return nullptr;
}

}  // namespace

Glyph StartGlyph(int symbology, double wide) {
  if (symbology == kCode39) {
    const SymbolRow* star = FindRow(kCode39, "*");
    return {{std::string(star->pattern)}, BarsOf(NarrowWide(star->pattern, wide)), 0, "*"};
  }
  if (symbology == kInterleaved2of5) return {{"0000"}, {{0, 1}, {2, 3}}, 0, "start"};
  if (symbology == kCode128) {
    const SymbolRow* start = FindRow(kCode128, "STARTC");
    return {{std::string(start->pattern)}, BarsOf(Modules(start->pattern)), kStartC, "STARTC"};
  }
  return {};
}

Glyph StopGlyph(int symbology, double wide) {
  if (symbology == kInterleaved2of5) return {{"100"}, {{0, wide}, {wide + 1, wide + 2}}, 0, "stop"};
  if (symbology == kCode128) {
    const SymbolRow* stop = FindRow(kCode128, "STOP");
    return {{std::string(stop->pattern)}, BarsOf(Modules(stop->pattern)), 0, "STOP"};
  }
  return StartGlyph(symbology, wide);
}

SymbolLayout::SymbolLayout(int symbology, int count, double wide, double gap)
    : symbology_(symbology), wide_(wide), gap_(gap) {
  if (count <= 0) return;
  double startAdvance = 0;
  double advance = 0;
  double stopWidth = 0;
  if (symbology == kCode39) {
    for (const SymbolRow& row : SymbolRows(kCode39)) {
      if (row.symbol == "*") continue;
      alphabet_.push_back({{std::string(row.pattern)}, BarsOf(NarrowWide(row.pattern, wide)),
                           static_cast<int>(alphabet_.size()), std::string(row.symbol)});
    }
    dataSlots_ = count;
    startAdvance = advance = 3 * wide + 6 + gap;
    stopWidth = 3 * wide + 6;
  } else if (symbology == kInterleaved2of5) {
    if (count % 2 != 0) return;
    const auto digits = SymbolRows(kInterleaved2of5);
    for (const SymbolRow& first : digits) {
      for (const SymbolRow& second : digits) {
        std::vector<double> widths;
        for (std::size_t k = 0; k < 5; ++k) {
          widths.push_back(first.pattern[k] == '1' ? wide : 1.0);
          widths.push_back(second.pattern[k] == '1' ? wide : 1.0);
        }
        alphabet_.push_back({{std::string(first.pattern), std::string(second.pattern)},
                             BarsOf(widths), static_cast<int>(alphabet_.size()),
                             std::string(first.symbol) + std::string(second.symbol)});
      }
    }
    dataSlots_ = count / 2;
    startAdvance = 4;
    advance = 6 + 4 * wide;
    stopWidth = wide + 2;
  } else if (symbology == kCode128) {
    const auto rows = SymbolRows(kCode128);
    for (int v = 0; v < kCode128Data; ++v) {
      const SymbolRow& row = rows[static_cast<std::size_t>(v)];
      alphabet_.push_back({{std::string(row.pattern)}, BarsOf(Modules(row.pattern)), v,
                           std::string(row.symbol)});
    }
    // The symbols read here carry one character more than the digit pairs
    // (FNC1 first), then the check character.
    dataSlots_ = count + 1;
    hasCheck_ = true;
    startAdvance = advance = 11;
    stopWidth = 13;
  } else {
    return;
  }
  start_ = StartGlyph(symbology, wide);
  stop_ = StopGlyph(symbology, wide);
  slots_ = dataSlots_ + (hasCheck_ ? 3 : 2);
  double x = 0;
  for (int slot = 0; slot < slots_; ++slot) {
    starts_.push_back(x);
    x += slot == 0 ? startAdvance : advance;
  }
  length_ = starts_.back() + stopWidth;
}

double SymbolLayout::WidestSpace() const {
  if (symbology_ == kCode39) return std::max(wide_, gap_);
  if (symbology_ == kInterleaved2of5) return wide_;
  return 4.0;  // Code 128's widest element
}

std::vector<Glyph> SymbolLayout::EndRivals(bool start) const {
  std::vector<Glyph> rivals;
  if (!Valid()) return rivals;
  if (symbology_ == kCode39) return alphabet_;
  if (symbology_ == kInterleaved2of5) {
    if (!start) return {start_};
    Glyph backwards = stop_;
    const double end = stop_.bars.back().second;
    backwards.bars.clear();
    for (auto it = stop_.bars.rbegin(); it != stop_.bars.rend(); ++it)
      backwards.bars.emplace_back(end - it->second, end - it->first);
    backwards.shown = "stop backwards";
    return {stop_, backwards};
  }
  // Code 128: the data values, then START A and START B; START C too in the
  // stop's place.
  const auto rows = SymbolRows(kCode128);
  for (int v = 0; v < kStartC + (start ? 0 : 1); ++v) {
    const SymbolRow& row = rows[static_cast<std::size_t>(v)];
    Glyph rival{{std::string(row.pattern)}, BarsOf(Modules(row.pattern)), v,
                std::string(row.symbol)};
    if (!start) rival.bars.emplace_back(11.0, 13.0);
    rivals.push_back(std::move(rival));
  }
  return rivals;
}

int SymbolLayout::CheckValue(std::span<const int> data) {
  int sum = code128::kStartCValue;
  for (std::size_t i = 0; i < data.size(); ++i)
    sum = code128::AddToCheck(sum, static_cast<long long>(i + 1), data[i]);
  return sum;
}

const Glyph& SymbolLayout::GlyphAt(int slot, std::span<const int> data) const {
  if (slot <= 0) return start_;
  if (IsData(slot)) return alphabet_[static_cast<std::size_t>(data[static_cast<std::size_t>(slot - 1)])];
  if (IsCheck(slot)) return alphabet_[static_cast<std::size_t>(CheckValue(data))];
  return stop_;
}

int SymbolLayout::FindData(std::span<const std::string> patterns) const {
  for (const Glyph& glyph : alphabet_)
    if (std::equal(glyph.patterns.begin(), glyph.patterns.end(), patterns.begin(), patterns.end()))
      return glyph.value;
  return -1;
}

}  // namespace markwire::barcode::synthesis
