// Reducing the turning points to one position per element for Code 39 and
// Interleaved 2 of 5: frame the symbol from its first bar to its last, then
// merge the positions joined by small swings until no more are left than
// the symbol has elements.
#pragma once

#include <cstddef>
#include <span>

#include "barcode/barcode_types.h"

namespace markwire::barcode {

// The least number of elements a symbol of `expectedCount` characters has:
// Code 39 10c + 19, Interleaved 2 of 5 5c + 7, any other symbology c. A
// negative count gives the largest long, a length no list reaches; the
// result saturates there too.
long FrameMinimum(int symbology, int expectedCount);

// The element limit of the merge: Interleaved 2 of 5 counts an odd
// `expectedCount` as the next even one (5e + 7); every other symbology takes
// FrameMinimum. Negative counts as there.
long ElementLimit(int symbology, int expectedCount);

// Cuts the positions to the run between the first and the last big swing
// (> 15.0) against the direction at each end, then drops a leading or
// trailing peak. True when at least the minimum is left.
bool ReduceToBarFrame(std::span<const double> waveform, Positions& positions, int expectedCount,
                      int symbology);

// Merges positions joined by swings within a tolerance (3.0, then the
// smallest swing left but at least 4, 5, ...) until at most `elementLimit`
// positions remain. A list that cannot be merged any further (one position,
// or no finite swing) may stay longer.
void MergeSmallSwings(std::span<const double> waveform, Positions& positions,
                      std::size_t elementLimit);

// The smallest swing between consecutive positions (start 255.0), or `floor`
// when that is smaller.
double SmallestSwing(std::span<const double> waveform, const Positions& positions, double floor);

}  // namespace markwire::barcode
