#include "card_optics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <random>

namespace markwire::bench {
namespace {

// The card is drawn on a fine grid along its length, each grid cell holding
// the share of it covered by ink, so that an edge keeps its position between
// grid points; the optics are applied there, and each sample reads the
// result at the card's position by linear interpolation.
constexpr int kGridPerModule = 32;
constexpr double kGridStep = 1.0 / kGridPerModule;

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  // In [0, 1).
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
  std::size_t Index(std::size_t count) {
    return std::min(count - 1, static_cast<std::size_t>(Uniform() * static_cast<double>(count)));
  }
  // Box-Muller, one value of each pair.
  double Normal() {
    const double u = 1.0 - Uniform();  // (0, 1]: the logarithm stays finite
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * Uniform());
  }

 private:
  std::mt19937_64 engine_;
};

struct Span {
  double from = 0, to = 0;
  double Width() const { return to - from; }
};

// The card along its length: x = 0 where the leading quiet zone begins.
struct Layout {
  std::vector<Span> bars;
  double symbolStart = 0, symbolEnd = 0, end = 0;
};

Layout Lay(std::span<const double> widths, const CardOptics& optics) {
  Layout layout;
  layout.symbolStart = optics.quietModules;
  double x = layout.symbolStart;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const double width = std::max(0.0, widths[i]);
    if (i % 2 == 0) {
      const Span bar{x - optics.growth / 2, x + width + optics.growth / 2};
      if (bar.Width() > 0) layout.bars.push_back(bar);
    }
    x += width;
  }
  layout.symbolEnd = x;
  layout.end = x + optics.quietModules;
  return layout;
}

// The ink cover of each grid cell, 0 to 1; grid cell j spans
// [origin + j * step, origin + (j + 1) * step).
class Cover {
 public:
  Cover(double origin, std::size_t cells) : origin_(origin), share_(cells, 0.0) {}
  // Adds (or with a negative amount takes away) ink over the span.
  void Add(Span span, double amount) {
    const double first = (span.from - origin_) / kGridStep, last = (span.to - origin_) / kGridStep;
    const auto begin = static_cast<std::ptrdiff_t>(std::floor(first));
    const auto stop = static_cast<std::ptrdiff_t>(std::ceil(last));
    for (std::ptrdiff_t j = std::max<std::ptrdiff_t>(begin, 0);
         j < std::min<std::ptrdiff_t>(stop, static_cast<std::ptrdiff_t>(share_.size())); ++j) {
      const double cellFrom = static_cast<double>(j), cellTo = cellFrom + 1;
      const double overlap = std::min(cellTo, last) - std::max(cellFrom, first);
      if (overlap > 0) share_[static_cast<std::size_t>(j)] += amount * overlap;
    }
  }
  std::vector<double> Shares() const {
    std::vector<double> shares = share_;
    for (double& s : shares) s = std::clamp(s, 0.0, 1.0);
    return shares;
  }

 private:
  double origin_;
  std::vector<double> share_;
};

// Places a defect 0.2 to 0.4 module wide (at most half the element) inside
// the element, at least 0.1 module from its edges where there is room.
Span DefectIn(Span element, Random& random) {
  const double width = std::min(random.Uniform(0.2, 0.4), element.Width() / 2);
  const double margin = std::min(0.1, (element.Width() - width) / 2);
  const double from = random.Uniform(element.from + margin, element.to - width - margin);
  return {from, from + width};
}

void AddDefects(const Layout& layout, const CardOptics& optics, Random& random, Cover& cover) {
  std::vector<Span> spaces;
  for (std::size_t k = 0; k + 1 < layout.bars.size(); ++k)
    if (layout.bars[k + 1].from > layout.bars[k].to)
      spaces.push_back({layout.bars[k].to, layout.bars[k + 1].from});
  const auto voidInBar = [&] {
    if (!layout.bars.empty())
      cover.Add(DefectIn(layout.bars[random.Index(layout.bars.size())], random), -1.0);
  };
  const auto speckOnSpace = [&] {
    if (!spaces.empty()) cover.Add(DefectIn(spaces[random.Index(spaces.size())], random), 1.0);
  };
  for (int i = 0; i < optics.voids; ++i) voidInBar();
  for (int i = 0; i < optics.specks; ++i) speckOnSpace();
  for (int i = 0; i < optics.eitherDefects; ++i) {
    if (random.Uniform() < 0.5)
      voidInBar();
    else
      speckOnSpace();
  }
}

// The paper's reflectance relative to blank paper, per grid cell. Ink lets
// through a share t of the light each way, t * t = ink / paper. Light that
// enters the paper under one place and comes out under another passes the
// ink over each (the optical dot gain of printed paper): with a share h of
// the light scattered by kernel K, the reflectance is
// t(x) * ((1 - h) * t(x) + h * (t * K)(x)).
std::vector<double> Reflectance(const std::vector<double>& inkShare, const CardOptics& optics) {
  const double inkReflectance = std::clamp(optics.ink / optics.paper, 0.0, 1.0);
  std::vector<double> reflectance(inkShare.size());
  for (std::size_t j = 0; j < inkShare.size(); ++j)
    reflectance[j] = 1.0 - inkShare[j] * (1.0 - inkReflectance);
  if (optics.haloFraction <= 0 || optics.haloLength <= 0) return reflectance;

  const double through = std::sqrt(inkReflectance);
  std::vector<double> t(inkShare.size());
  for (std::size_t j = 0; j < inkShare.size(); ++j) t[j] = 1.0 - inkShare[j] * (1.0 - through);
  // The exponential kernel on the grid, a^|j| normalized, as a forward and a
  // backward recursion; beyond the grid lies blank paper (t = 1).
  const double a = std::exp(-kGridStep / optics.haloLength);
  const double norm = (1.0 - a) / (1.0 + a);
  std::vector<double> forward(t.size()), backward(t.size());
  double carry = 1.0 / (1.0 - a);
  for (std::size_t j = 0; j < t.size(); ++j) forward[j] = carry = t[j] + a * carry;
  carry = 1.0 / (1.0 - a);
  for (std::size_t j = t.size(); j-- > 0;) backward[j] = carry = t[j] + a * carry;
  const double h = std::clamp(optics.haloFraction, 0.0, 1.0);
  for (std::size_t j = 0; j < t.size(); ++j) {
    const double scattered = norm * (forward[j] + backward[j] - t[j]);
    reflectance[j] = (1.0 - h) * reflectance[j] + h * t[j] * scattered;
  }
  return reflectance;
}

// The spot (a Gaussian) and the aperture (a slit) as one kernel on the grid,
// odd in length, centred.
std::vector<double> SpotKernel(const CardOptics& optics) {
  std::vector<double> spot{1.0};
  if (optics.spotSigma > 0) {
    const double sigma = optics.spotSigma * kGridPerModule;
    const int reach = static_cast<int>(std::ceil(4 * sigma));
    spot.assign(static_cast<std::size_t>(2 * reach + 1), 0.0);
    for (int j = -reach; j <= reach; ++j)
      spot[static_cast<std::size_t>(j + reach)] = std::exp(-0.5 * j * j / (sigma * sigma));
  }
  std::vector<double> slit{1.0};
  if (optics.apertureModules > 0) {
    // Each grid cell weighted by how much of it the slit covers.
    const double half = optics.apertureModules * kGridPerModule / 2;
    const int reach = static_cast<int>(std::ceil(half + 0.5));
    slit.assign(static_cast<std::size_t>(2 * reach + 1), 0.0);
    for (int j = -reach; j <= reach; ++j)
      slit[static_cast<std::size_t>(j + reach)] =
          std::max(0.0, std::min(j + 0.5, half) - std::max(j - 0.5, -half));
  }
  std::vector<double> kernel(spot.size() + slit.size() - 1, 0.0);
  for (std::size_t i = 0; i < spot.size(); ++i)
    for (std::size_t k = 0; k < slit.size(); ++k) kernel[i + k] += spot[i] * slit[k];
  double sum = 0;
  for (double w : kernel) sum += w;
  for (double& w : kernel) w /= sum;
  return kernel;
}

// Beyond the grid the card is blank paper, as at its ends.
std::vector<double> Convolve(const std::vector<double>& signal, const std::vector<double>& kernel) {
  const auto reach = static_cast<std::ptrdiff_t>(kernel.size() / 2);
  const auto n = static_cast<std::ptrdiff_t>(signal.size());
  std::vector<double> out(signal.size(), 0.0);
  for (std::ptrdiff_t j = 0; j < n; ++j) {
    double sum = 0;
    for (std::ptrdiff_t k = -reach; k <= reach; ++k) {
      const std::ptrdiff_t at = j + k;
      sum += kernel[static_cast<std::size_t>(k + reach)] *
             (at < 0 || at >= n ? 1.0 : signal[static_cast<std::size_t>(at)]);
    }
    out[static_cast<std::size_t>(j)] = sum;
  }
  return out;
}

// The card's position at every sample: dx/dt = speed(x) / samplesPerModule,
// t in sample periods, stepped by fourth-order Runge-Kutta from one sample
// to the next (the speed changes over tens of modules, a step covers less
// than one). The first sample comes a random fraction of a period after the
// leading quiet zone's start passes the sensor.
std::vector<double> SamplePositions(const Layout& layout, const CardOptics& optics,
                                    Random& random) {
  const double symbol = layout.symbolEnd - layout.symbolStart;
  double period = 0, phase = 0;
  if (optics.speedWander != 0) {
    period = random.Uniform(optics.wanderPeriodMin, optics.wanderPeriodMax);
    phase = random.Uniform(0, 2 * std::numbers::pi);
  }
  const double start = random.Uniform();
  const auto rate = [&](double x) {
    double speed = 1.0;
    if (symbol > 0) speed += optics.speedRamp * (2 * (x - layout.symbolStart) / symbol - 1);
    if (period > 0)
      speed += optics.speedWander * std::sin(2 * std::numbers::pi * x / period + phase);
    return std::max(0.05, speed) / optics.samplesPerModule;
  };
  const auto step = [&](double x, double dt) {
    const double k1 = rate(x), k2 = rate(x + dt / 2 * k1), k3 = rate(x + dt / 2 * k2),
                 k4 = rate(x + dt * k3);
    return x + dt / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
  };
  std::vector<double> positions;
  for (double x = step(0, start); x < layout.end; x = step(x, 1.0)) positions.push_back(x);
  return positions;
}

}  // namespace

std::vector<std::uint8_t> RenderCard(std::span<const double> widths, const CardOptics& optics) {
  if (!(optics.samplesPerModule > 0) || !(optics.paper > 0)) return {};
  Random geometry(Mix(optics.seed ^ 1)), texture(Mix(optics.seed ^ 2)), noise(Mix(optics.seed ^ 3));

  const Layout layout = Lay(widths, optics);
  const double margin = 4 * optics.spotSigma + optics.apertureModules / 2 +
                        (optics.haloFraction > 0 ? 12 * optics.haloLength : 0) + 2;
  const double origin = -margin;
  const auto cells =
      static_cast<std::size_t>(std::ceil((layout.end + 2 * margin) * kGridPerModule));
  Cover cover(origin, cells);
  for (const Span& bar : layout.bars) cover.Add(bar, 1.0);
  AddDefects(layout, optics, geometry, cover);
  const std::vector<double> seen =
      Convolve(Reflectance(cover.Shares(), optics), SpotKernel(optics));

  const std::vector<double> positions = SamplePositions(layout, optics, geometry);
  std::vector<std::uint8_t> samples;
  samples.reserve(positions.size());
  const double rho = std::clamp(optics.textureCorrelation, 0.0, 0.999999);
  double grain = optics.textureSigma * texture.Normal();
  for (std::size_t i = 0; i < positions.size(); ++i) {
    // The reflectance under the sensor, between the two nearest grid cells'
    // centres.
    const double u = (positions[i] - origin) / kGridStep - 0.5;
    const auto j = static_cast<std::size_t>(
        std::clamp(std::floor(u), 0.0, static_cast<double>(seen.size() - 2)));
    const double f = std::clamp(u - static_cast<double>(j), 0.0, 1.0);
    double level = optics.paper * ((1 - f) * seen[j] + f * seen[j + 1]);

    if (i > 0)
      grain = rho * grain + optics.textureSigma * std::sqrt(1 - rho * rho) * texture.Normal();
    level *= std::max(0.0, 1 + grain / optics.paper);
    if (positions.size() > 1)
      level *=
          1 - optics.levelFall * static_cast<double>(i) / static_cast<double>(positions.size() - 1);
    if (optics.gamma != 1)
      level = optics.paper * std::pow(std::max(0.0, level) / optics.paper, optics.gamma);
    level = level * optics.gain + optics.noise * noise.Normal();
    samples.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(level, 0.0, 255.0))));
  }
  return samples;
}

}  // namespace markwire::bench
