#include "barcode/symbols/code128_decoder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "barcode/symbols/code128_check.h"

namespace markwire::barcode {
namespace {

using detail::Roundings;

// Far beyond any width sum a symbol can have, yet small enough for floor()
// to convert to int without overflow.
constexpr double kLargestPairSum = 1e6;
// A candidate no width check passes: whatever width precedes it, the width
// it gives is far below 1.
constexpr int kUnreachable = -1000;

// Sums of neighbouring widths of Start C (2-1-1-2-3-2) and of the stop
// (2-3-3-1-1-1-2).
constexpr std::array<int, 5> kStartCSums = {3, 2, 3, 5, 5};
constexpr std::array<int, 6> kStopSums = {5, 6, 4, 2, 2, 3};
// The last bar of Start C: the first data character's widths follow on it.
constexpr int kStartCLastWidth = 2;
constexpr int kCharacterModules = 11;
constexpr int kCombinations = 3 * 3 * 3 * 3 * 3 * 3;

bool CanTake(const Roundings& r, int value) {
  return std::find(r.candidates.begin(), r.candidates.end(), value) != r.candidates.end();
}

std::array<double, 6> WindowErrors(std::span<const Roundings, 6> window) {
  std::array<double, 6> errors{};
  for (std::size_t i = 0; i < errors.size(); ++i) errors[i] = window[i].error;
  return errors;
}

int LastWidth(const std::string& pattern) {
  return pattern.back() - '0';
}

class Search {
 public:
  Search(std::vector<Roundings> roundings, PatternList& patterns, const SymbolTables& tables)
      : r_(std::move(roundings)), patterns_(patterns), tables_(tables) {}

  bool FindStartC() const {
    for (std::size_t i = 0; i < kStartCSums.size(); ++i) {
      if (!CanTake(r_[i], kStartCSums[i])) return false;
    }
    return true;
  }

  bool FindStop() const {
    const std::size_t first = r_.size() - kStopSums.size();
    for (std::size_t i = 0; i < kStopSums.size(); ++i) {
      if (!CanTake(r_[first + i], kStopSums[i])) return false;
    }
    return true;
  }

  // Data characters are counted from the front. One ranking, from the first
  // data window, serves them all.
  std::optional<int> DecodeDataSymbols(std::size_t characters) {
    const std::array<int, 6> rank = detail::RankByError(WindowErrors(Window(5)));
    int prev = kStartCLastWidth;
    const auto known = [this](std::string_view p) { return tables_.FindSymbol(p).has_value(); };
    for (std::size_t j = 0; j < characters; ++j) {
      const std::size_t start = 5 + 6 * j;
      if (start + 6 > r_.size()) return std::nullopt;
      auto pattern = detail::FirstCombination(Window(start), rank, prev, known);
      if (!pattern) return std::nullopt;
      prev = LastWidth(*pattern);
      patterns_.push_back(std::move(*pattern));
    }
    return prev;
  }

  // The check character is counted from the back, eight pairSums before the
  // last, and accepted only when the check sum holds.
  bool DecodeCheckSymbol(int prev) {
    const std::size_t start = r_.size() - 13;
    const auto window = Window(start);
    const auto sums = [this](std::string_view p) { return VerifyCheckSum(patterns_, p, tables_); };
    auto pattern =
        detail::FirstCombination(window, detail::RankByError(WindowErrors(window)), prev, sums);
    if (!pattern) return false;
    patterns_.push_back(std::move(*pattern));
    return true;
  }

 private:
  std::span<const Roundings, 6> Window(std::size_t start) const {
    return std::span(r_).subspan(start).first<6>();
  }

  std::vector<Roundings> r_;
  PatternList& patterns_;
  const SymbolTables& tables_;
};

}  // namespace

namespace detail {

Roundings RoundPairSum(double pairSum) {
  if (!std::isfinite(pairSum) || std::fabs(pairSum) > kLargestPairSum) {
    return {{kUnreachable, kUnreachable, kUnreachable}, std::numeric_limits<double>::infinity()};
  }
  const double floored = std::floor(pairSum);
  const double fraction = pairSum - floored;
  const int f = static_cast<int>(floored);
  if (fraction >= 0.5) return {{f + 1, f, f + 2}, floored + 1 - pairSum};
  return {{f, f + 1, f - 1}, fraction};
}

std::array<int, 6> RankByError(const std::array<double, 6>& errors) {
  // NaN would break the ordering the sort relies on; it ranks as least
  // certain.
  const auto key = [&errors](int i) {
    const double e = errors[static_cast<std::size_t>(i)];
    return std::isnan(e) ? std::numeric_limits<double>::infinity() : e;
  };
  std::array<int, 6> rank{};
  std::iota(rank.begin(), rank.end(), 0);
  std::stable_sort(rank.begin(), rank.end(), [&key](int a, int b) { return key(a) < key(b); });
  return rank;
}

std::optional<std::string> FirstCombination(std::span<const Roundings, 6> window,
                                            const std::array<int, 6>& rank, int prev,
                                            const std::function<bool(std::string_view)>& accept) {
  std::string pattern(6, '0');
  for (int t = 0; t < kCombinations; ++t) {
    // The ranked-first position is the most significant digit of t, so the
    // roundings of the least certain pairSums change first.
    std::array<int, 6> choice{};
    int rest = t;
    for (int k = 5; k >= 0; --k) {
      choice[static_cast<std::size_t>(rank[static_cast<std::size_t>(k)])] = rest % 3;
      rest /= 3;
    }
    int width = prev;
    int sum = 0;
    bool valid = true;
    for (std::size_t i = 0; i < 6 && valid; ++i) {
      width = window[i].candidates[static_cast<std::size_t>(choice[i])] - width;
      valid = width >= 1 && width <= 4;
      pattern[i] = static_cast<char>('0' + (valid ? width : 0));
      sum += width;
    }
    if (valid && sum == kCharacterModules && accept(pattern)) return pattern;
  }
  return std::nullopt;
}

}  // namespace detail

Code128Outcome DecodeCode128(std::span<const double> positions, PatternList& patterns,
                             const SymbolTables& tables, int count, bool reversed) {
  Code128Outcome outcome;
  const long long least = 6LL * std::max(count, 0) + 25;
  const std::size_t n = positions.size();
  if (static_cast<long long>(n) < least) return outcome;
  outcome.traced = true;

  // The first bar of the start and the last bar of the stop are two modules
  // each, so their centres lie 11 x K modules apart.
  const std::size_t k = (n - 7) / 6 + 1;
  const double module =
      (positions.back() - positions.front()) / (kCharacterModules * static_cast<double>(k));
  // Positions that do not rise, or that overflow, leave no module to measure
  // with; no start character can be found on them.
  if (!std::isfinite(module) || !(module > 0)) {
    outcome.startMissing = true;
    return outcome;
  }

  std::vector<Roundings> roundings(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const std::size_t j = reversed ? n - 2 - i : i;
    roundings[i] = detail::RoundPairSum(2 * (positions[j + 1] - positions[j]) / module);
  }

  Search search(std::move(roundings), patterns, tables);
  if (!search.FindStartC()) {
    outcome.startMissing = true;
    return outcome;
  }
  if (!search.FindStop()) return outcome;
  const auto prev = search.DecodeDataSymbols(k - 3);
  if (!prev) return outcome;
  outcome.decoded = search.DecodeCheckSymbol(*prev);
  return outcome;
}

bool VerifyCheckSum(const PatternList& patterns, std::string_view checkPattern,
                    const SymbolTables& tables) {
  const int check = SymbolValue(tables.FindSymbol(checkPattern));
  if (check < 0) return false;
  long long sum = code128::kStartCValue;
  long long position = 1;
  for (const std::string& pattern : patterns) {
    const int value = SymbolValue(tables.FindSymbol(pattern));
    if (value < 0) return false;
    sum = code128::AddToCheck(sum, position, value);
    ++position;
  }
  return sum == check;
}

int SymbolValue(std::optional<std::string_view> symbol) {
  if (!symbol || symbol->empty()) return -1;
  const std::string_view s = *symbol;
  if (s[0] >= '0' && s[0] <= '9') {
    // Leading digits, as atoi reads them; held below overflow.
    int value = 0;
    for (std::size_t i = 0; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      if (value > (INT_MAX - 9) / 10) break;
      value = value * 10 + (s[i] - '0');
    }
    return value;
  }
  static constexpr std::pair<std::string_view, int> kNames[] = {
      {"CODEB", 100},  {"CODEA", 101},  {"FNC1", 102},
      {"STARTA", 103}, {"STARTB", 104}, {"STARTC", 105},
  };
  for (const auto& [name, value] : kNames) {
    if (s == name) return value;
  }
  return -1;
}

}  // namespace markwire::barcode
