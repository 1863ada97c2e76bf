#include "barcode/symbols/two_width_decoder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace markwire::barcode {
namespace {

constexpr std::string_view kCode39StartStop = "010010100";
constexpr std::string_view kInterleavedStart = "0000";
constexpr std::string_view kInterleavedStop = "100";

// A run stays within the element while its points differ from the extremum
// by no more than this share of the swing to the neighbour.
constexpr double kRunShare = 0.3;

// A position as a curve index: truncated toward zero and, like ValueAt, held
// to the curve, so that NaN, negative or huge positions from bad input never
// reach a cast that overflows.
long CurveIndex(std::size_t size, double p) {
  if (size == 0 || !(p >= 0)) return 0;
  const double last = static_cast<double>(size - 1);
  return p < last ? static_cast<long>(p) : static_cast<long>(size - 1);
}

int ClampWidth(long long width) {
  return static_cast<int>(std::min<long long>(width, INT_MAX));
}

}  // namespace

// At an end of the curve the run stops as if the point beyond the end lay
// outside the element: the run then reaches to the end point. Only bad
// input puts an extremum that close to an end; counting the run to the end
// keeps its width positive and as large as the curve shows it.
int ElementWidth(std::span<const double> waveform, std::optional<long> left, long p,
                 std::optional<long> right) {
  if (waveform.empty() || (!left && !right)) return 0;
  const long last = static_cast<long>(waveform.size() - 1);
  const auto clamp = [last](long i) { return std::clamp(i, 0L, last); };
  p = clamp(p);
  const double v = waveform[static_cast<std::size_t>(p)];

  long long leftRun = 0;
  if (left) {
    const double threshold =
        kRunShare * std::fabs(v - waveform[static_cast<std::size_t>(clamp(*left))]);
    long j = 1;
    while (p - j >= 0 && std::fabs(v - waveform[static_cast<std::size_t>(p - j)]) <= threshold) ++j;
    leftRun = j;
  }
  long long rightRun = 0;
  if (right) {
    const double threshold =
        kRunShare * std::fabs(waveform[static_cast<std::size_t>(clamp(*right))] - v);
    long j = 1;
    while (p + j <= last && std::fabs(waveform[static_cast<std::size_t>(p + j)] - v) <= threshold)
      ++j;
    rightRun = j;
  }
  if (left && right) return ClampWidth(leftRun + rightRun);
  // An end element has only one neighbour to measure against; its one run,
  // doubled, stands in for the half it cannot measure.
  if (right) return ClampWidth(2 * rightRun);
  return ClampWidth(2 * leftRun + 2);
}

namespace detail {

std::string MarkWidest(std::span<const int> widths, int wideCount) {
  std::string pattern(widths.size(), '0');
  for (int pass = 0; pass < wideCount; ++pass) {
    // ">=" lets a later element of equal width take the pick.
    int bestWidth = 0;
    std::size_t best = widths.size();
    for (std::size_t i = 0; i < widths.size(); ++i) {
      if (pattern[i] == '0' && widths[i] >= bestWidth) {
        bestWidth = widths[i];
        best = i;
      }
    }
    if (best == widths.size()) break;
    pattern[best] = '1';
  }
  return pattern;
}

std::string StartPattern(const std::array<int, 4>& widths) {
  long long sum = 0;
  for (int w : widths) sum += w;
  const long long mean = sum / 4;
  std::string pattern(4, '0');
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (std::fabs(static_cast<double>(widths[i] - mean)) > 0.5 * static_cast<double>(mean))
      pattern[i] = '1';
  }
  return pattern;
}

std::string StopPattern(const std::array<int, 3>& widths) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < widths.size(); ++i) {
    if (widths[i] > widths[best]) best = i;
  }
  std::string pattern(3, '0');
  pattern[best] = '1';
  return pattern;
}

}  // namespace detail

void ClassifyCode39Character(std::span<const double> waveform, const std::array<long, 9>& positions,
                             PatternList& patterns, bool forward) {
  // Neighbours stay inside the character: the inter-character gap belongs to
  // no character, so each one is measured on its own nine elements alone.
  std::array<int, 9> widths{};
  for (std::size_t k = 0; k < widths.size(); ++k) {
    const std::optional<long> left = k > 0 ? std::optional(positions[k - 1]) : std::nullopt;
    const std::optional<long> right = k < 8 ? std::optional(positions[k + 1]) : std::nullopt;
    widths[k] = ElementWidth(waveform, left, positions[k], right);
  }
  std::string pattern = detail::MarkWidest(widths, 3);
  if (!forward) std::reverse(pattern.begin(), pattern.end());
  patterns.push_back(std::move(pattern));
}

bool DecodeCode39(std::span<const double> waveform, std::span<const double> positions,
                  PatternList& patterns, int count, bool forward) {
  if (count < 0) return false;
  // count + 2 characters of nine elements and the count + 1 gaps between them.
  const long long needed = 10LL * count + 19;
  if (static_cast<long long>(positions.size()) != needed) return false;

  patterns.clear();
  for (long long c = 0; c < static_cast<long long>(count) + 2; ++c) {
    std::array<long, 9> character{};
    for (std::size_t k = 0; k < character.size(); ++k)
      character[k] = CurveIndex(waveform.size(), positions[static_cast<std::size_t>(10 * c) + k]);
    ClassifyCode39Character(waveform, character, patterns, forward);
  }
  // A symbol read right to left, with each pattern and the list turned
  // round, gives the list it gives read left to right.
  if (!forward) std::reverse(patterns.begin(), patterns.end());
  return !patterns.empty() && patterns.front() == kCode39StartStop &&
         patterns.back() == kCode39StartStop;
}

std::size_t BuildInterleavedPatterns(std::span<const double> waveform,
                                     std::span<const double> positions, PatternList& patterns) {
  const std::size_t n = positions.size();
  if (n < 7) return patterns.size();

  std::vector<long> index(n);
  for (std::size_t i = 0; i < n; ++i) index[i] = CurveIndex(waveform.size(), positions[i]);
  std::vector<int> widths(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::optional<long> left = i > 0 ? std::optional(index[i - 1]) : std::nullopt;
    const std::optional<long> right = i + 1 < n ? std::optional(index[i + 1]) : std::nullopt;
    widths[i] = ElementWidth(waveform, left, index[i], right);
  }

  patterns.push_back(detail::StartPattern({widths[0], widths[1], widths[2], widths[3]}));
  // Each pair interleaves the bars of one digit with the spaces of the next.
  // A list of the wrong length is cut where a whole pair no longer fits.
  for (std::size_t base = 4; base < n - 3 && base + 9 < n; base += 10) {
    std::array<int, 5> bars{};
    std::array<int, 5> spaces{};
    for (std::size_t k = 0; k < 5; ++k) {
      bars[k] = widths[base + 2 * k];
      spaces[k] = widths[base + 2 * k + 1];
    }
    patterns.push_back(detail::MarkWidest(bars, 2));
    patterns.push_back(detail::MarkWidest(spaces, 2));
  }
  patterns.push_back(detail::StopPattern({widths[n - 3], widths[n - 2], widths[n - 1]}));
  return patterns.size();
}

bool DecodeInterleaved2of5(std::span<const double> waveform, std::span<const double> positions,
                           PatternList& patterns, int count) {
  if (count < 0) return false;
  // Digits come in pairs: an odd count is read with one digit more.
  const long long digits = static_cast<long long>(count) + (count % 2 != 0 ? 1 : 0);
  const long long needed = 5 * digits + 7;
  if (static_cast<long long>(positions.size()) != needed) return false;

  BuildInterleavedPatterns(waveform, positions, patterns);
  return !patterns.empty() && patterns.front() == kInterleavedStart &&
         patterns.back() == kInterleavedStop;
}

}  // namespace markwire::barcode
