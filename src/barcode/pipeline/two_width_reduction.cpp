#include "barcode/pipeline/two_width_reduction.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace markwire::barcode {
namespace {

// A bar-to-space edge of a real symbol swings far more than this; quiet-zone
// wiggles and print noise stay below it.
constexpr double kBigSwing = 15.0;
constexpr double kFirstTolerance = 3.0;
constexpr double kSwingCeiling = 255.0;

// A count no list can reach: what a negative character count asks for.
constexpr long kUnreachable = std::numeric_limits<long>::max();

// The counts are computed in 64 bits and saturate, so that a huge character
// count stays huge where long has only 32 bits.
long Saturate(std::int64_t v) {
  return static_cast<long>(std::min<std::int64_t>(v, std::numeric_limits<long>::max()));
}

double Swing(std::span<const double> waveform, const Positions& positions, std::size_t i) {
  return std::abs(ValueAt(waveform, positions[i + 1]) - ValueAt(waveform, positions[i]));
}

// The merges read the curve at the positions over and over: its values are
// kept beside the list (values[i] is the curve at positions[i]), and only a
// merged position is read anew.
double Swing(const std::vector<double>& values, std::size_t i) {
  return std::abs(values[i + 1] - values[i]);
}

// One merge pass, done as a single compaction over the list instead of one
// erase per merge; the surgery is the same. After a merge the pass resumes
// two places behind the merged position, so the position that ends up right
// behind it is kept without being looked at.
void MergePass(std::span<const double> waveform, Positions& positions, std::vector<double>& values,
               double tolerance) {
  const std::size_t n = positions.size();
  const auto small = [&](std::size_t i) { return Swing(values, i) <= tolerance; };
  const auto keep = [&](std::size_t out, std::size_t from) {
    positions[out] = positions[from];
    values[out] = values[from];
  };
  std::size_t out = 0;
  std::size_t p = 0;
  while (p + 1 < n) {
    if (!small(p)) {
      keep(out++, p++);
      continue;
    }
    std::size_t q = p + 1;
    while (q + 1 < n && small(q)) ++q;
    positions[out] = (positions[p] + positions[q]) * 0.5;
    values[out] = ValueAt(waveform, positions[out]);
    ++out;
    if (q + 1 == n) {
      // The run of small swings reaches the last position, so no big swing
      // closes it: all of it becomes one position midway between p and the
      // last one, which is how a single small swing at the end merges too.
      p = n;
      break;
    }
    // A single small swing takes its second position along; a longer run
    // keeps the position where it ends.
    const std::size_t kept = q == p + 1 ? p + 2 : q;
    keep(out++, kept);
    p = kept + 1;
  }
  if (p + 1 == n) keep(out++, p);
  positions.resize(out);
  values.resize(out);
}

// SmallestSwing on the kept values.
double SmallestKeptSwing(const std::vector<double>& values, double floor) {
  double smallest = kSwingCeiling;
  for (std::size_t i = 0; i + 1 < values.size(); ++i) {
    const double s = Swing(values, i);
    if (s <= smallest) smallest = s;
  }
  return smallest < floor ? floor : smallest;
}

// The smallest finite swing, if the list has one.
std::optional<double> SmallestFiniteSwing(const std::vector<double>& values) {
  std::optional<double> smallest;
  for (std::size_t i = 0; i + 1 < values.size(); ++i) {
    const double s = Swing(values, i);
    if (std::isfinite(s) && (!smallest || s < *smallest)) smallest = s;
  }
  return smallest;
}

}  // namespace

long FrameMinimum(int symbology, int expectedCount) {
  if (expectedCount < 0) return kUnreachable;
  const std::int64_t c = expectedCount;
  switch (symbology) {
    case kCode39:
      return Saturate(10 * c + 19);
    case kInterleaved2of5:
      return Saturate(5 * c + 7);
    default:
      return Saturate(c);
  }
}

long ElementLimit(int symbology, int expectedCount) {
  if (expectedCount < 0) return kUnreachable;
  if (symbology != kInterleaved2of5) return FrameMinimum(symbology, expectedCount);
  // Digits come in pairs, so an odd count is read as the next even one.
  const std::int64_t c = expectedCount;
  return Saturate(5 * (c % 2 == 0 ? c : c + 1) + 7);
}

bool ReduceToBarFrame(std::span<const double> waveform, Positions& positions, int expectedCount,
                      int symbology) {
  const long minimum = FrameMinimum(symbology, expectedCount);
  const std::size_t n = positions.size();
  if (std::cmp_less(n, minimum)) return false;
  if (n < 2) return false;  // no swing to frame by

  std::vector<double> vals(n);
  for (std::size_t i = 0; i < n; ++i) vals[i] = ValueAt(waveform, positions[i]);
  const auto big = [&](std::size_t a, std::size_t b) {
    return std::abs(vals[b] - vals[a]) > kBigSwing;
  };

  // The first big swing against the direction the list starts with is the
  // first bar's edge; the quiet zone in front of it only wiggles.
  const bool startsRising = vals[1] > vals[0];
  std::optional<std::size_t> head;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (big(i, i + 1) && (vals[i + 1] > vals[i]) != startsRising) {
      head = i;
      break;
    }
  }
  const bool endsFallingBack = vals[n - 2] > vals[n - 1];
  std::optional<std::size_t> tail;
  for (std::size_t j = n - 1; j >= 1; --j) {
    if (big(j - 1, j) && (vals[j - 1] > vals[j]) != endsFallingBack) {
      tail = j;
      break;
    }
  }
  // A last edge in front of the first one frames nothing.
  if (!head || !tail || *tail < *head) return false;

  positions.erase(positions.begin() + static_cast<std::ptrdiff_t>(*tail + 1), positions.end());
  positions.erase(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(*head));
  if (std::cmp_less(positions.size(), minimum)) return false;

  // The cuts can leave the bright side of an edge at either end; the decoders
  // want the list to begin and end with a bar.
  if (positions.size() >= 2 && ValueAt(waveform, positions[0]) > ValueAt(waveform, positions[1])) {
    positions.erase(positions.begin());
    if (std::cmp_less(positions.size(), minimum)) return false;
  }
  const std::size_t last = positions.size() - 1;
  if (positions.size() >= 2 &&
      ValueAt(waveform, positions[last]) > ValueAt(waveform, positions[last - 1])) {
    positions.pop_back();
    if (std::cmp_less(positions.size(), minimum)) return false;
  }
  return true;
}

double SmallestSwing(std::span<const double> waveform, const Positions& positions, double floor) {
  double smallest = kSwingCeiling;
  for (std::size_t i = 0; i + 1 < positions.size(); ++i) {
    const double s = Swing(waveform, positions, i);
    if (s <= smallest) smallest = s;
  }
  return smallest < floor ? floor : smallest;
}

void MergeSmallSwings(std::span<const double> waveform, Positions& positions,
                      std::size_t elementLimit) {
  double tolerance = kFirstTolerance;
  // The floor of every later tolerance; it rises by one per pass so that a
  // pass always merges something, however even the swings are.
  double least = kFirstTolerance;
  std::vector<double> values(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) values[i] = ValueAt(waveform, positions[i]);
  while (positions.size() > elementLimit) {
    MergePass(waveform, positions, values, tolerance);
    if (positions.size() <= elementLimit) return;
    least += 1.0;
    tolerance = SmallestKeptSwing(values, least);

    // Only swings above the 255 ceiling can escape the tolerance. The passes
    // until the floor climbs up to them would change nothing, so the floor
    // jumps there at once; without any finite swing (a single position, or a
    // curve of NaN and infinities) no pass can ever merge, and the list stays
    // longer than the limit.
    const std::optional<double> smallest = SmallestFiniteSwing(values);
    if (!smallest) return;
    if (*smallest > tolerance) {
      least = std::ceil(*smallest);
      tolerance = SmallestKeptSwing(values, least);
    }
  }
}

}  // namespace markwire::barcode
