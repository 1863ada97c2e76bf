// The model of what the sensor sees, shared by the second decoder's stages:
// where the symbol lies in the samples, each bar blurred by a Gaussian spot,
// paper and ink levels fitted by least squares.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace markwire::barcode::synthesis::detail {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

using Bar = std::pair<double, double>;  // [start, end) in modules

// The standard normal distribution function from a table, linear between
// points 1/64 apart: the search evaluates it millions of times, so without
// a branch. Exactly 0 at and below -8 (and for NaN), exactly 1 at and above
// 8.
class NormalCdf {
 public:
  static constexpr double kLow = -8.0;
  NormalCdf();
  double operator()(double z) const {
    double x = (z - kLow) * kPerUnit;
    x = x > 0.0 ? x : 0.0;  // NaN too
    x = x < kLast ? x : kLast;
    const auto i = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(i);
    return table_[2 * i] + f * table_[2 * i + 1];
  }

 private:
  static constexpr double kPerUnit = 64.0;
  static constexpr double kLast = 16 * 64;
  static constexpr std::size_t kPoints = 16 * 64 + 1;
  std::array<double, 2 * kPoints> table_{};  // value, and the step to the next
};

const NormalCdf& Phi();

inline long ClampIndex(double x, long lo, long hi) {
  if (!(x > static_cast<double>(lo))) return lo;  // NaN too
  if (x >= static_cast<double>(hi)) return hi;
  return static_cast<long>(x);
}

// Where the symbol lies in the samples: sample k sees module (k - k0) / spm
// from the start of the first bar; the spot has a Gaussian profile of sigma
// modules; paper reads `space`, full ink space + contrast (contrast < 0).
struct Frame {
  double k0 = 0;
  double spm = 1;
  double sigma = 0.5;
  double space = 0;
  double contrast = -1;
  // Ink spread: every bar prints this many modules wider, its neighbouring
  // spaces as much narrower.
  double spread = 0;
  double U(double k) const { return (k - k0) / spm; }
  double K(double u) const { return k0 + u * spm; }
};

// How far from an edge, in modules, its blur still moves a sample by more
// than 3e-5 of the contrast (a few thousandths of a gray value): beyond,
// paper reads paper and ink full ink.
inline double EdgeReach(double sigma) {
  return 4.0 * sigma + 0.25;
}

// Adds the darkness (0 paper, 1 ink) of `bars` placed at module `at` (each
// bar's ends scaled by `scale` first) to out[k - ks] for the samples k in
// [ks, ke), times `sign`. Returns the work done in the units of the read's
// budget (synthesis.h): each value of the distribution function one, each
// sample visited a half.
long AddBars(std::span<const Bar> bars, double at, const Frame& f, long ks, long ke,
             std::span<double> out, double sign = 1.0, double scale = 1.0);

// Paper and ink levels that fit samples y to darkness d best (least squares),
// and the squared error left. Ink lighter than paper is no fit at all.
struct LevelFit {
  double sse = kInf;
  double space = 0;
  double contrast = 0;
};
LevelFit FitLevels(std::span<const double> y, std::span<const double> d);

// The running maximum (or minimum) of y over [k - h, k + h], for every k.
std::vector<double> RunningExtreme(std::span<const double> y, long h, bool maximum);

// Sums with four running totals: the loops of the search and the test are
// bound by the latency of one long chain of additions otherwise.
inline double Dot(const double* a, const double* b, std::size_t n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

}  // namespace markwire::barcode::synthesis::detail
