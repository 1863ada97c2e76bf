// The barcode stages on hostile input. (Random waveforms through every
// symbology path of the read are the barcode fuzz target's: fuzz/.)
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
