#include "barcode/pipeline/spline.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

namespace markwire::barcode {
namespace {

// The weights are scaled by multiplying with the double nearest one sixth,
// not by dividing by six: the two differ in the last place, and the curve
// has to match the reader software's point for point.
constexpr double kOneSixth = 1.0 / 6.0;

float Single(double v) {
  return static_cast<float>(v);
}

}  // namespace

std::pair<std::size_t, std::size_t> FindKnotInterval(std::span<const float> xs, float x) {
  const std::size_t count = xs.size();
  if (count < 2) return {0, 0};
  for (std::size_t k = 1; k + 1 < count; ++k) {
    if (x < xs[k]) return {k - 1, k};
  }
  // Also x beyond the last knot, or NaN: the last interval is the only one
  // that every caller can evaluate.
  return {count - 2, count - 1};
}

namespace {

// The curve at x, which lies in the knot interval (lo, hi).
float EvaluateInInterval(std::span<const float> xs, std::span<const float> ys, std::size_t lo,
                         std::size_t hi, float x) {
  const std::size_t count = xs.size();
  const double width = static_cast<double>(xs[hi]) - static_cast<double>(xs[lo]);
  // Knots from a caller that repeats an abscissa have no interval to speak
  // of; their left end is as good a value as any.
  const float t = width != 0.0 ? Single((static_cast<double>(x) - xs[lo]) / width) : 0.0f;

  // Reflecting the end values makes the curve pass through the first and the
  // last sample instead of sagging toward zero there.
  const float before = lo > 0 ? ys[lo - 1] : 2.0f * ys[0] - ys[1];
  const float after = hi + 1 < count ? ys[hi + 1] : 2.0f * ys[count - 1] - ys[count - 2];

  const double u = t;
  const double b0 = (((3.0 - u) * u - 3.0) * u + 1.0) * kOneSixth;
  const double b1 = ((3.0 * u - 6.0) * (u * u) + 4.0) * kOneSixth;
  const double b2 = (((3.0 - 3.0 * u) * u + 3.0) * u + 1.0) * kOneSixth;
  const float square = t * t;  // single precision on purpose, as the reader has it
  const double b3 = static_cast<double>(square) * u * kOneSixth;

  // The reader software keeps its running sum in a float for the first two
  // terms only; the rounding points are part of the curve.
  const float first = Single(b0 * before);
  const float second = Single(first + b1 * ys[lo]);
  const double third = second + b2 * ys[hi];
  return Single(third + b3 * after);
}

}  // namespace

float EvaluateSpline(std::span<const float> xs, std::span<const float> ys, float x) {
  const std::size_t count = std::min(xs.size(), ys.size());
  if (count == 0) return 0.0f;
  if (count == 1) return ys[0];
  xs = xs.first(count);
  ys = ys.first(count);
  const auto [lo, hi] = FindKnotInterval(xs, x);
  return EvaluateInInterval(xs, ys, lo, hi, x);
}

void ResampleSpline(std::span<const double> samples, Waveform& waveform, int m) {
  waveform.clear();
  const std::size_t count = samples.size();
  // Fewer than two samples have no interval: the curve stays empty and the
  // read fails for want of turning points.
  if (count < 2 || m < 1) return;

  std::vector<float> xs(count);
  std::vector<float> ys(count);
  for (std::size_t j = 0; j < count; ++j) {
    xs[j] = static_cast<float>(j);
    ys[j] = Single(samples[j]);
  }

  const auto perInterval = static_cast<std::size_t>(m);
  if (count - 1 <= (std::numeric_limits<std::size_t>::max() - 1) / perInterval) {
    waveform.reserve((count - 1) * perInterval + 1);
  }
  const double md = m;
  // Every point of interval j lies at or after knot j - 1 and before knot j,
  // so it is the interval the knot search would find (the last interval
  // also holds the last knot); passing it on saves that search per point.
  for (std::size_t j = 1; j < count; ++j) {
    for (int k = 0; k < m; ++k) {
      const float x =
          Single((static_cast<double>(m - k) * xs[j - 1] + k * static_cast<double>(xs[j])) / md);
      waveform.push_back(EvaluateInInterval(xs, ys, j - 1, j, x));
    }
  }
  waveform.push_back(EvaluateInInterval(xs, ys, count - 2, count - 1, xs[count - 1]));
}

void FindTurningPoints(std::span<const double> waveform, Positions& positions) {
  positions.clear();
  const std::size_t n = waveform.size();
  if (n == 0) return;
  if (n == 1) {
    // First and last position coincide; listing it twice would break the
    // strictly increasing order every later stage relies on.
    positions.push_back(0.0);
    return;
  }

  std::size_t i = 1;
  while (i < n && !(waveform[i] != waveform[i - 1])) ++i;
  if (i == n) {
    positions = {0.0, static_cast<double>(n - 1)};
    return;
  }

  bool rising = waveform[i] > waveform[i - 1];
  positions.push_back(0.0);
  for (std::size_t m = i + 1; m < n; ++m) {
    // A plateau is recorded by its last point: the turn is certain only when
    // the curve leaves it.
    if (!rising && waveform[m] > waveform[m - 1]) {
      positions.push_back(static_cast<double>(m - 1));
      rising = true;
    } else if (rising && waveform[m] < waveform[m - 1]) {
      positions.push_back(static_cast<double>(m - 1));
      rising = false;
    }
  }
  positions.push_back(static_cast<double>(n - 1));
}

}  // namespace markwire::barcode
