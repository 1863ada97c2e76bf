#include "barcode/pipeline/code128_reduction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace markwire::barcode {
namespace {

// A quiet zone reads clearly brighter than the brightest bar; a space inside
// the symbol may come close to it, so the margin is generous.
constexpr double kQuietMargin = 20.0;
// Swings up to this are noise on a plateau, not an edge between elements.
constexpr double kNoiseSwing = 3.0;
// Half a grey level below the smallest real swing keeps the neighbouring
// elements' extrema out of a run.
constexpr double kToleranceMargin = 0.5;
// Without any real swing every point belongs to one run.
constexpr double kNoEdgeTolerance = 1e10;

// The index whose point ValueAt reads for p.
std::size_t IndexAt(std::size_t pointCount, double p) {
  if (pointCount == 0 || !(p >= 0)) return 0;
  const double last = static_cast<double>(pointCount - 1);
  return p < last ? static_cast<std::size_t>(p) : pointCount - 1;
}

double CentreTolerance(std::span<const double> waveform, const Positions& positions) {
  std::optional<double> smallest;
  for (std::size_t i = 0; i + 1 < positions.size(); ++i) {
    const double s =
        std::abs(ValueAt(waveform, positions[i + 1]) - ValueAt(waveform, positions[i]));
    if (s > kNoiseSwing && (!smallest || s < *smallest)) smallest = s;
  }
  const double tolerance = smallest.value_or(kNoEdgeTolerance) - kToleranceMargin;
  return tolerance < kNoiseSwing ? kNoiseSwing : tolerance;
}

}  // namespace

long Code128Positions(int expectedCount) {
  // A negative count asks for a list no read can deliver.
  if (expectedCount < 0) return std::numeric_limits<long>::max();
  const std::int64_t positions = 6 * static_cast<std::int64_t>(expectedCount) + 25;
  return static_cast<long>(std::min<std::int64_t>(positions, std::numeric_limits<long>::max()));
}

double SelectKth(std::span<double> values, std::size_t k) {
  if (values.empty()) return 0.0;
  if (k >= values.size()) k = values.size() - 1;
  // Hoare's FIND. Signed indices, since j can step below lo; the bounds in
  // the scans never stop a scan on ordered input, but keep NaN from walking
  // it off the array.
  const auto target = static_cast<std::ptrdiff_t>(k);
  std::ptrdiff_t lo = 0;
  std::ptrdiff_t hi = static_cast<std::ptrdiff_t>(values.size()) - 1;
  const auto at = [&](std::ptrdiff_t i) -> double& { return values[static_cast<std::size_t>(i)]; };
  while (lo < hi) {
    const double pivot = at(target);
    std::ptrdiff_t i = lo;
    std::ptrdiff_t j = hi;
    while (i <= j) {
      while (i < hi && at(i) < pivot) ++i;
      while (j > lo && pivot < at(j)) --j;
      if (i <= j) {
        std::swap(at(i), at(j));
        ++i;
        --j;
      }
    }
    if (j < target) lo = i;
    if (target < i) hi = j;
  }
  return at(target);
}

void TrimQuietZones(std::span<const double> waveform, Positions& positions, int expectedCount) {
  const long limit = Code128Positions(expectedCount);
  if (std::cmp_less(positions.size(), limit)) return;
  // Only reached with a count of 0 or more, and then the rank lies inside
  // the list; the check is for the reader of this code.
  const std::int64_t rank = 3 * static_cast<std::int64_t>(expectedCount) + 12;
  if (rank < 0 || std::cmp_greater_equal(rank, positions.size())) return;

  std::vector<double> values(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) values[i] = ValueAt(waveform, positions[i]);
  // The symbol has exactly rank + 1 bars; when every bar reads darker than
  // every space, this is the brightest of them.
  const double threshold = SelectKth(values, static_cast<std::size_t>(rank)) + kQuietMargin;

  const auto bright = [&](double p) { return ValueAt(waveform, p) > threshold; };
  std::size_t first = 0;
  std::size_t end = positions.size();
  while (first < end && bright(positions[first])) ++first;
  while (end > first + 1 && bright(positions[end - 1])) --end;
  positions.erase(positions.begin() + static_cast<std::ptrdiff_t>(end), positions.end());
  positions.erase(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(first));
}

void CentreExtrema(std::span<const double> waveform, Positions& positions, int expectedCount) {
  const double tolerance = CentreTolerance(waveform, positions);

  // The run of points within the tolerance of an extremum covers nearly its
  // whole element, so the run's centre is the element's centre; the decoder
  // measures widths as distances between such centres. Positions that fall
  // into a run already taken are noise turns of the same element.
  if (!waveform.empty()) {
    const std::size_t last = waveform.size() - 1;
    const std::size_t n = positions.size();
    std::size_t out = 0;
    std::size_t r = 0;
    while (r < n) {
      double p = positions[r++];
      const std::size_t c = IndexAt(waveform.size(), p);
      const double val = waveform[c];
      const auto within = [&](std::size_t j) { return !(std::abs(val - waveform[j]) > tolerance); };
      // Point 0 is never taken: it is where the curve starts, not part of an
      // element.
      std::size_t left = c;
      while (left > 1 && within(left - 1)) --left;
      std::size_t right = c;
      while (right < last && within(right + 1)) ++right;
      if (left != right) {
        p = (static_cast<double>(left) + static_cast<double>(right)) * 0.5;
        while (r < n && !(positions[r] > static_cast<double>(right))) ++r;
      }
      positions[out++] = p;
    }
    positions.resize(out);
  }

  // Cut from the end whose outermost swing looks less like a real edge,
  // compared with the sign kept; the front goes on a tie.
  const long limit = Code128Positions(expectedCount);
  std::size_t first = 0;
  std::size_t end = positions.size();
  while (std::cmp_greater(end - first, limit) && end - first >= 2) {
    const double front =
        ValueAt(waveform, positions[first + 1]) - ValueAt(waveform, positions[first]);
    const double back =
        ValueAt(waveform, positions[end - 2]) - ValueAt(waveform, positions[end - 1]);
    if (back < front) {
      --end;
    } else {
      ++first;
    }
  }
  positions.erase(positions.begin() + static_cast<std::ptrdiff_t>(end), positions.end());
  positions.erase(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(first));
}

}  // namespace markwire::barcode
