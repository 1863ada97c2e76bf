#include "barcode/synthesis/optics.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace markwire::barcode::synthesis::detail {

NormalCdf::NormalCdf() {
  for (std::size_t i = 0; i < kPoints; ++i)
    table_[2 * i] = 0.5 * std::erfc(-(kLow + static_cast<double>(i) / kPerUnit) / std::sqrt(2.0));
  table_[0] = 0.0;
  table_[2 * (kPoints - 1)] = 1.0;
  for (std::size_t i = 0; i + 1 < kPoints; ++i)
    table_[2 * i + 1] = table_[2 * i + 2] - table_[2 * i];
  table_[2 * kPoints - 1] = 0.0;  // flat beyond the last point
}

const NormalCdf& Phi() {
  static const NormalCdf cdf;
  return cdf;
}

long AddBars(std::span<const Bar> bars, double at, const Frame& f, long ks, long ke,
             std::span<double> out, double sign, double scale) {
  const NormalCdf& phi = Phi();
  // Outside a bar and its edges' reach it adds nothing, well inside it full
  // ink.
  const double reach = EdgeReach(f.sigma);
  const double inv = 1 / f.sigma;
  const double perSample = 1 / f.spm;
  long work = 0;
  for (const auto& [left, right] : bars) {
    const double a = left * scale + at - f.spread / 2;
    const double b = right * scale + at + f.spread / 2;
    const long from = ClampIndex(std::floor(f.K(a - reach)), ks, ke);
    const long to = ClampIndex(std::ceil(f.K(b + reach)) + 1, ks, ke);
    // The start's blur reaches up to startEnd, the end's from endStart.
    const long startEnd = ClampIndex(std::ceil(f.K(a + reach)), from, to);
    const long endStart = ClampIndex(std::floor(f.K(b - reach)), from, to);
    work += (startEnd - from) + (to - endStart) + (to - from) / 2;
    for (long k = from; k < to; ++k) {
      const bool nearStart = k < startEnd, nearEnd = k >= endStart;
      double dark = 1.0;
      if (nearStart || nearEnd) {
        const double u = (static_cast<double>(k) - f.k0) * perSample;
        dark = (nearStart ? phi((u - a) * inv) : 1.0) - (nearEnd ? phi((u - b) * inv) : 0.0);
      }
      out[static_cast<std::size_t>(k - ks)] += sign * dark;
    }
  }
  return work;
}

std::vector<double> RunningExtreme(std::span<const double> y, long h, bool maximum) {
  const long n = static_cast<long>(y.size());
  std::vector<double> out(y.size());
  std::deque<long> window;
  const auto better = [&](long a, long b) {
    return maximum ? y[static_cast<std::size_t>(a)] >= y[static_cast<std::size_t>(b)]
                   : y[static_cast<std::size_t>(a)] <= y[static_cast<std::size_t>(b)];
  };
  long next = 0;
  for (long k = 0; k < n; ++k) {
    for (; next < n && next <= k + h; ++next) {
      while (!window.empty() && better(next, window.back())) window.pop_back();
      window.push_back(next);
    }
    while (window.front() < k - h) window.pop_front();
    out[static_cast<std::size_t>(k)] = y[static_cast<std::size_t>(window.front())];
  }
  return out;
}

LevelFit FitLevels(std::span<const double> y, std::span<const double> d) {
  LevelFit fit;
  const std::size_t n = std::min(y.size(), d.size());
  if (n < 3) return fit;
  double my = 0, md = 0;
  for (std::size_t i = 0; i < n; ++i) {
    my += y[i];
    md += d[i];
  }
  my /= static_cast<double>(n);
  md /= static_cast<double>(n);
  double sdd = 0, sdy = 0, syy = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sdd += (d[i] - md) * (d[i] - md);
    sdy += (d[i] - md) * (y[i] - my);
    syy += (y[i] - my) * (y[i] - my);
  }
  if (sdd < 1e-9 || sdy >= 0) return fit;
  fit.contrast = sdy / sdd;
  fit.space = my - fit.contrast * md;
  fit.sse = std::max(0.0, syy - fit.contrast * sdy);
  return fit;
}

}  // namespace markwire::barcode::synthesis::detail
