// Conditioning of the received samples before resampling: a recursive 1-3-1
// smoothing filter, then trimming the flat stretches before and after the
// symbol.
#pragma once

#include <cstddef>
#include <vector>

namespace markwire::barcode {

// For i = 1 .. L - 2 in order, s[i] = 0.2 x ((s[i + 1] + s[i - 1]) + 3 s[i]),
// s[i - 1] being the value already replaced (the filter feeds its output
// forward). The ends stay; fewer than three samples stay as they are.
void SmoothSamples(std::vector<double>& samples);

// Removes the flat head (keeping its last sample) and the flat tail (keeping
// its first sample); a sample is different when it is more than 5.0 away. A
// waveform without any difference keeps only its last sample. Returns how
// many samples went from the head.
std::size_t TrimFlatEnds(std::vector<double>& samples);

}  // namespace markwire::barcode
