// Types shared by the barcode stages: plain values, no session, no port.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace markwire::barcode {

// The first number of a card format's barcode line.
enum Symbology : int { kCode128 = 1, kInterleaved2of5 = 2, kCode39 = 3 };

// The resampled curve: ten points per sample interval.
using Waveform = std::vector<double>;
// Ordered positions into a Waveform, first of every turning point, later of
// one extremum per bar or space. Whole numbers at first; halves and other
// fractions after some stages.
using Positions = std::vector<double>;
// Element patterns, one per symbol character, as a decoder produces them.
using PatternList = std::vector<std::string>;

// The curve's value at position p: the point at index p truncated toward
// zero. Every stage reads positions this way. Positions outside the curve
// (only bad input can make them) read as the nearest end point; an empty
// curve reads 0.
inline double ValueAt(std::span<const double> waveform, double p) {
  if (waveform.empty()) return 0.0;
  if (!(p >= 0)) return waveform.front();  // also NaN
  const double last = static_cast<double>(waveform.size() - 1);
  return waveform[static_cast<std::size_t>(p < last ? p : last)];
}

}  // namespace markwire::barcode
