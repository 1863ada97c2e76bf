// Random waveforms through every symbology path of the barcode read: no
// crash, no read past a buffer (this file also runs in the sanitizer build),
// and the text handed back always has the promised shape.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/pipeline/spline.h"
#include "barcode/synthesis/synthesis.h"

namespace markwire::barcode {
namespace {

class CountingEvents final : public ReadEvents {
 public:
  void ClearPending() override {}
  void SetError(std::string_view code) override { errors += std::string(code) + " "; }
  void Trace(std::string_view line) override { traces += std::string(line) + "\n"; }
  std::string errors, traces;
};

// One of the shapes that break naive code: empty, tiny, flat, saturated,
// spikes, square waves of random periods, and plain noise.
std::vector<std::uint8_t> RandomWaveform(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> kind(0, 7), byte(0, 255), len(0, 1200);
  std::vector<std::uint8_t> w(static_cast<std::size_t>(kind(rng) == 0 ? byte(rng) % 4 : len(rng)));
  const int shape = kind(rng);
  const int period = 1 + byte(rng) % 12;
  for (std::size_t i = 0; i < w.size(); ++i) {
    switch (shape) {
      case 0: w[i] = 0; break;
      case 1: w[i] = 255; break;
      case 2: w[i] = 128; break;
      case 3: w[i] = static_cast<std::uint8_t>(i % 97 == 0 ? 255 : 10); break;
      case 4: w[i] = static_cast<std::uint8_t>((i / period) % 2 ? 220 : 30); break;
      case 5: w[i] = static_cast<std::uint8_t>(((i / period) % 2 ? 200 : 50) + byte(rng) % 20); break;
      default: w[i] = static_cast<std::uint8_t>(byte(rng)); break;
    }
  }
  return w;
}

TEST(BarcodeFuzz, TenThousandRandomWaveformsThroughEverySymbologyPath) {
  std::mt19937_64 rng(20261205);
  const int symbologies[] = {1, 2, 3, 0, 4, -1};
  std::uniform_int_distribution<int> length(-5, 200), pick(0, 5), order(0, 1);
  SymbolTables tables;  // one session's tables across all reads, as in the library
  for (int i = 0; i < 10'000; ++i) {
    const BarcodeLine line{symbologies[pick(rng)], order(rng), order(rng), 0, length(rng)};
    CountingEvents events;
    const auto bytes = RandomWaveform(rng);
    const auto result = DecodeSamples(SamplesInReadingOrder(bytes, line), line, tables, events);
    const auto promised = static_cast<std::size_t>(ClampedLength(line.length));
    ASSERT_LE(result.text.size(), promised) << "read " << i;
    if (!result.decoded && line.symbology != kCode128 && line.symbology != kInterleaved2of5 &&
        line.symbology != kCode39) {
      ASSERT_EQ(result.text, std::string(promised, '.')) << "read " << i;
    }
    for (std::size_t k = 1; k < result.turningPoints.size(); ++k)
      ASSERT_LT(result.turningPoints[k - 1], result.turningPoints[k]) << "read " << i;
  }
  // The index only grows: rows of all three symbologies are there.
  EXPECT_EQ(tables.PatternIndex().size(), 107u + 10u + 44u);
}

// The resampling walks the knot intervals in order instead of searching for
// each point's interval; the curve must be the same to the last bit.
TEST(BarcodeFuzz, ResamplingEqualsTheCurveEvaluatedPointByPoint) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> value(0, 255);
  for (int round = 0; round < 50; ++round) {
    std::vector<double> samples(2 + static_cast<std::size_t>(rng() % 300));
    for (double& v : samples) v = std::round(value(rng));
    Waveform waveform;
    ResampleSpline(samples, waveform, 10);
    std::vector<float> xs(samples.size()), ys(samples.size());
    for (std::size_t j = 0; j < samples.size(); ++j) {
      xs[j] = static_cast<float>(j);
      ys[j] = static_cast<float>(samples[j]);
    }
    ASSERT_EQ(waveform.size(), (samples.size() - 1) * 10 + 1);
    for (std::size_t i = 0; i + 1 < waveform.size(); ++i) {
      const std::size_t j = i / 10 + 1, k = i % 10;
      const float x = static_cast<float>((static_cast<double>(10 - k) * xs[j - 1] +
                                          static_cast<double>(k) * xs[j]) / 10.0);
      ASSERT_EQ(waveform[i], static_cast<double>(EvaluateSpline(xs, ys, x))) << i;
    }
    ASSERT_EQ(waveform.back(), static_cast<double>(EvaluateSpline(xs, ys, xs.back())));
  }
}

TEST(BarcodeFuzz, SecondDecoderAndGuardRefuseHostileWaveforms) {
  std::mt19937_64 rng(99);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::vector<double>> hostile = {{}, {7}, {0, 255}, std::vector<double>(600, 128.0),
                                              std::vector<double>(600, 0.0),
                                              std::vector<double>(600, 255.0)};
  for (const std::size_t n : {600u, 9999u}) {
    std::vector<double> noise(n);
    for (double& v : noise) v = byte(rng);
    hostile.push_back(noise);
  }
  const PatternList patterns(10, "000000000");
  for (const auto& samples : hostile) {
    for (const int symbology : {1, 2, 3, 0}) {
      for (const int count : {-1, 0, 1, 8, 123}) {
        EXPECT_FALSE(synthesis::DecodeBySynthesis(samples, symbology, count).accepted)
            << samples.size() << " samples, symbology " << symbology << ", count " << count;
        EXPECT_FALSE(synthesis::ConfirmPatterns(samples, symbology, count, patterns).accepted);
      }
    }
  }
}

}  // namespace
}  // namespace markwire::barcode
