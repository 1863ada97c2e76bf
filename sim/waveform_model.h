// What the reader's barcode sensor sees of a printed symbol: the optics blur
// the edges, the card moves past at a speed that drifts a little, the sensor
// takes its samples at a phase that differs from card to card, each card's
// paper and ink come out a little brighter or darker, and every sample
// carries some noise. The library has to decode through all of that, so the
// simulated reader sends it too.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace markwire::sim {

// Lengths in modules (narrow widths), levels in gray values 0 to 255.
struct OpticsOptions {
  // More than 0; need not be whole.
  double samplesPerModule = 3.0;
  // The sigma of the Gaussian spot, optics and sensor aperture together.
  double blurModules = 0.3;
  // The sigma of the noise added to every sample.
  double noise = 2.0;
  // The card's speed wanders slowly within 1 +- speedJitter (up to 0.5).
  double speedJitter = 0.02;
  // Blank paper before and after the symbol.
  double quietModules = 10.0;
  double barLevel = 40.0;
  double spaceLevel = 215.0;
  // Each card scales both levels by 1 +- gainSpread and shifts them by
  // +- offsetSpread gray values, drawn evenly from the seed.
  double gainSpread = 0.1;
  double offsetSpread = 10.0;
  std::uint64_t seed = 1;
};

// The samples in reading order, from the leading quiet zone to the trailing
// one, rounded and clamped to 0..255. widths: bar first, bars and spaces
// alternating (EncodeBarcode's result); a negative width counts as 0.
//
// The same widths, options and seed give the same samples wherever erfc and
// log round alike: the random numbers are our own arithmetic. A last-bit
// difference in those can move a sample by one gray value only when it falls
// on a half.
// Nothing at all comes back for a samplesPerModule that is not more than 0.
std::vector<std::uint8_t> RenderWaveform(std::span<const double> widths,
                                         const OpticsOptions& options);

}  // namespace markwire::sim
