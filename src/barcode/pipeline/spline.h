// Resampling the conditioned samples with a uniform cubic B-spline (end
// values extended by reflection), ten points per sample interval, and
// listing the curve's turning points. The arithmetic is single precision
// where the reader software rounds to single precision, so that the curve
// matches it point for point.
#pragma once

#include <span>
#include <utility>

#include "barcode/barcode_types.h"

namespace markwire::barcode {

// Empties `waveform`, then fills it with (L - 1) x m + 1 points; fewer than
// two samples, or m < 1, leave it empty.
void ResampleSpline(std::span<const double> samples, Waveform& waveform, int m);

// The curve through knots (xs[j], ys[j]) at x, 0 <= x <= L - 1. Needs at
// least two knots.
float EvaluateSpline(std::span<const float> xs, std::span<const float> ys, float x);

// The knot interval (lo, hi) that holds x; the last knot belongs to the last
// interval.
std::pair<std::size_t, std::size_t> FindKnotInterval(std::span<const float> xs, float x);

// Empties `positions`, then lists position 0, every turning point (a plateau
// by its last point), and the last position. A curve without any change
// gives 0 and N - 1; a single point gives 0 alone; an empty curve gives
// nothing.
void FindTurningPoints(std::span<const double> waveform, Positions& positions);

}  // namespace markwire::barcode
