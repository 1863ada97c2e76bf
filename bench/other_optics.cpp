#include "other_optics.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace markwire::bench {
namespace {

// Uniform and Gaussian draws from the 64-bit Mersenne twister alone, whose
// sequence the standard fixes: the same seed gives the same waveform with
// any standard library.
class Draws {
 public:
  explicit Draws(std::uint64_t seed) : engine_(seed) {}
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  double Gaussian() {
    const double u = 1.0 - Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2 * std::numbers::pi * Uniform());
  }

 private:
  std::mt19937_64 engine_;
};

double Covered(double a, double b, double x, double sigma) {
  const double s = std::max(sigma, 1e-3) * std::numbers::sqrt2;
  return 0.5 * (std::erfc((a - x) / s) - std::erfc((b - x) / s));
}

}  // namespace

std::vector<std::uint8_t> RenderOther(std::span<const double> widths, const OtherOptics& o) {
  std::vector<std::uint8_t> out;
  if (!(o.samplesPerModule > 0)) return out;
  std::vector<double> edges = {o.quietModules};
  for (const double w : widths) edges.push_back(edges.back() + std::max(w, 0.0));
  const double total = edges.back() + o.quietModules;
  Draws draw(o.seed);
  const double gain = 0.8 + 0.4 * draw.Uniform();
  const double offset = -15 + 30 * draw.Uniform();
  const double bar = 35 * gain + offset;
  const double space = 210 * gain + offset;
  const double phase1 = 2 * std::numbers::pi * draw.Uniform();
  const double phase2 = 2 * std::numbers::pi * draw.Uniform();
  constexpr int kAperturePoints = 5;
  for (double x = draw.Uniform() / o.samplesPerModule; x < total;) {
    const double t = x / total * 2 * std::numbers::pi;
    const double speed =
        1 + o.speedWander * (0.6 * std::sin(1.3 * t + phase1) + 0.4 * std::sin(2.7 * t + phase2));
    const double step = speed / o.samplesPerModule;
    double dark = 0;
    for (int p = 0; p < kAperturePoints; ++p) {
      const double at = x + (p - kAperturePoints / 2) * step / kAperturePoints;
      for (std::size_t i = 0; i + 1 < edges.size(); i += 2) {
        const double a = edges[i] - o.inkSpread / 2;
        const double b = edges[i + 1] + o.inkSpread / 2;
        dark += (0.8 * Covered(a, b, at, o.blurModules) +
                 0.2 * Covered(a, b, at, 2 * o.blurModules)) /
                kAperturePoints;
      }
    }
    const double level = space + (bar - space) * dark + o.noise * draw.Gaussian();
    out.push_back(static_cast<std::uint8_t>(std::clamp(std::round(level), 0.0, 255.0)));
    x += step;
  }
  return out;
}

}  // namespace markwire::bench
