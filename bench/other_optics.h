// A second optical model, written apart from the simulator's, so that the
// decoders are also measured on waveforms whose physics none of them was
// tuned on: the spot a mix of two Gaussians (a wide halo around the core),
// the sensor integrating over each sample period, bars printed wider than
// drawn (ink spread), a speed that wanders as two slow sine waves, and quiet
// zones of 8 modules.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace markwire::bench {

struct OtherOptics {
  double samplesPerModule = 3;
  double blurModules = 0.3;  // sigma of the spot's core; the halo is twice as wide
  double noise = 2;          // gray values, Gaussian
  double inkSpread = 0.1;    // modules every bar grows by
  double speedWander = 0.03;
  double quietModules = 8;
  std::uint64_t seed = 1;
};

// widths: bar first, in modules (the simulator's encoder gives them).
std::vector<std::uint8_t> RenderOther(std::span<const double> widths, const OtherOptics& optics);

}  // namespace markwire::bench
