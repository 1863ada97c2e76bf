// Preparing the positions for the Code 128 decoder: trim the quiet zones,
// move every position to the centre of its element's run of nearly equal
// points, merge positions that share a run, and cut the list to exactly
// 6 x expectedCount + 25 when it is longer.
#pragma once

#include <cstddef>
#include <span>

#include "barcode/barcode_types.h"

namespace markwire::barcode {

// The decoder's position count for `expectedCount` characters. A negative
// count gives the largest long: no trim and no cut happen, and the decoder
// fails for want of positions.
long Code128Positions(int expectedCount);

// Removes positions at both ends brighter than the bar level (the value of
// rank 3 x expectedCount + 12) plus 20.0; does nothing on a list shorter than
// 6 x expectedCount + 25.
void TrimQuietZones(std::span<const double> waveform, Positions& positions, int expectedCount);

// The value that stands at index k when `values` is sorted ascending (an
// in-place selection; `values` is reordered). k must be < values.size();
// a larger k reads as the last index, and an empty array gives 0.
double SelectKth(std::span<double> values, std::size_t k);

// Moves every position to the centre of the run of points within a
// tolerance of its own point (just below the smallest swing above 3.0),
// drops the positions that fall into a run already taken, and cuts the list
// to 6 x expectedCount + 25 from the end with the weaker outermost swing.
// Positions off the curve are read at its nearest end, as ValueAt reads them.
void CentreExtrema(std::span<const double> waveform, Positions& positions, int expectedCount);

}  // namespace markwire::barcode
