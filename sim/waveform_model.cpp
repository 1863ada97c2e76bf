#include "waveform_model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>

namespace markwire::sim {

namespace {

// The standard library's distributions differ between implementations; these
// draws are fixed arithmetic, so a seed means the same card everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (auto& word : state_) word = SplitMix(seed);
  }

  // xoshiro256**
  std::uint64_t Next() {
    const std::uint64_t result = Rotate(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotate(state_[3], 45);
    return result;
  }

  // [0, 1)
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // [-1, 1)
  double Symmetric() { return 2.0 * Uniform() - 1.0; }

  // Marsaglia's polar method: no trigonometry, and every draw is used.
  double Gaussian() {
    if (spare_) return *std::exchange(spare_, std::nullopt);
    double u, v, s;
    do {
      u = Symmetric();
      v = Symmetric();
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double scale = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * scale;
    return u * scale;
  }

  static std::uint64_t SplitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

 private:
  static std::uint64_t Rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  std::uint64_t state_[4];
  std::optional<double> spare_;
};

// Every effect draws from its own stream, so that turning one of them off or
// changing the length of the symbol leaves the draws of the others as they were.
std::uint64_t StreamSeed(std::uint64_t seed, std::uint64_t stream) {
  std::uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03ULL);
  return Random::SplitMix(x);
}

// Beyond this many sigmas an edge changes the blurred level by less than
// 1e-15 of the contrast.
constexpr double kBlurReach = 8.0;

// The card's speed changes direction about this many times while the whole
// symbol passes: slow beside the elements, as a transport belt's wobble is.
constexpr double kSpeedKnotsPerScan = 3.0;
constexpr double kShortestSpeedKnot = 16.0;  // samples
constexpr double kWildestJitter = 0.5;

// A smooth random curve within -1..1: random heights at regular knots,
// joined by smoothstep, which never overshoots the knots.
class SpeedCurve {
 public:
  SpeedCurve(std::uint64_t seed, double knotSamples) : random_(seed), spacing_(knotSamples) {}

  double At(std::size_t sample) {
    const double knot = static_cast<double>(sample) / spacing_;
    const auto index = static_cast<std::size_t>(knot);
    while (knots_.size() < index + 2) knots_.push_back(random_.Symmetric());
    const double t = knot - static_cast<double>(index);
    const double s = t * t * (3.0 - 2.0 * t);
    return knots_[index] + (knots_[index + 1] - knots_[index]) * s;
  }

 private:
  Random random_;
  double spacing_;
  std::vector<double> knots_;
};

double NonNegative(double value) {
  return std::isfinite(value) && value > 0 ? value : 0.0;
}

}  // namespace

std::vector<std::uint8_t> RenderWaveform(std::span<const double> widths,
                                         const OpticsOptions& options) {
  const double perModule = options.samplesPerModule;
  if (!std::isfinite(perModule) || perModule <= 0) return {};
  const double quiet = NonNegative(options.quietModules);
  const double sigma = NonNegative(options.blurModules);
  const double noise = NonNegative(options.noise);
  const double jitter = std::min(NonNegative(options.speedJitter), kWildestJitter);

  // Bar i covers [starts[i], ends[i]) on the card, counted from the start of
  // the leading quiet zone.
  std::vector<double> starts, ends;
  starts.reserve(widths.size() / 2 + 1);
  ends.reserve(widths.size() / 2 + 1);
  double edge = quiet;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const double next = edge + NonNegative(widths[i]);
    if (i % 2 == 0) {
      starts.push_back(edge);
      ends.push_back(next);
    }
    edge = next;
  }
  const double length = edge + quiet;

  Random card(StreamSeed(options.seed, 1));
  const double gain = 1.0 + options.gainSpread * card.Symmetric();
  const double offset = options.offsetSpread * card.Symmetric();
  const double phase = card.Uniform();
  const double barLevel = gain * options.barLevel + offset;
  const double spaceLevel = gain * options.spaceLevel + offset;
  Random noiseDraws(StreamSeed(options.seed, 2));
  SpeedCurve speed(StreamSeed(options.seed, 3),
                   std::max(length * perModule / kSpeedKnotsPerScan, kShortestSpeedKnot));

  std::vector<std::uint8_t> samples;
  samples.reserve(static_cast<std::size_t>(length * perModule / (1.0 - jitter)) + 2);
  const double spread = sigma * std::sqrt(2.0);
  std::size_t first = 0;  // the first bar that can still reach the current sample
  double drift = 0;       // samples gained or lost to the speed so far
  for (std::size_t k = 0;; ++k) {
    // Computed afresh rather than summed step by step, so that without jitter
    // the positions are exact and the count is length x samplesPerModule.
    const double x = (static_cast<double>(k) + phase + drift) / perModule;
    if (x >= length) break;
    double dark = 0;  // how much of the spot the bars cover, 0..1
    if (sigma == 0) {
      while (first < ends.size() && ends[first] <= x) ++first;
      if (first < starts.size() && starts[first] <= x) dark = 1;
    } else {
      const double reach = kBlurReach * sigma;
      while (first < ends.size() && ends[first] < x - reach) ++first;
      // The Gaussian spot integrated over each bar it touches.
      for (std::size_t i = first; i < starts.size() && starts[i] < x + reach; ++i)
        dark += 0.5 * (std::erfc((starts[i] - x) / spread) - std::erfc((ends[i] - x) / spread));
    }
    double level = spaceLevel + (barLevel - spaceLevel) * dark;
    if (noise > 0) level += noise * noiseDraws.Gaussian();
    if (std::isnan(level)) level = 0;  // levels given as NaN: the sample reads black
    samples.push_back(static_cast<std::uint8_t>(std::clamp(std::round(level), 0.0, 255.0)));
    if (jitter > 0) drift += jitter * speed.At(k);
  }
  return samples;
}

}  // namespace markwire::sim
