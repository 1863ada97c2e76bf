// What the simulated reader's sensor takes from a card's barcode area. A real
// reader knows nothing of symbologies; the simulated one prints each card's
// barcode text in the symbology and length that the downloaded format's
// barcode line asks for, since that is what the library will try to decode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "barcode_encoder.h"
#include "waveform_model.h"

namespace markwire::sim {

// The reader's length field has four digits.
inline constexpr std::size_t kMostWaveformSamples = 9999;
// Far more characters than the library ever reads (123). The bound keeps a
// wild number in a format from costing time and memory.
inline constexpr long kLongestBarcodeField = 999;

// The symbology of a barcode line's first number. Numbers other than 1 to 3
// print Code 128, the symbology the library tries for them.
BarcodeKind KindOfLine(long symbology);

// The text as the card carries it in a field of `length` characters: right
// aligned, so that a number keeps its low-order digits when cut and is padded
// on the left, with "0" for the digit symbologies and with spaces for
// Code 39. Code 128 and Interleaved 2 of 5 carry digit pairs only, so an odd
// length gets one more leading "0". An empty text stays empty: no barcode is
// printed.
std::string FitBarcodeText(BarcodeKind kind, std::string_view text, long length);

// The card's barcode as the sensor samples it, in reading order: the line's
// first number picks the symbology, its fifth the length. Empty when the card
// has no barcode or its text has no symbol in that symbology (letters in a
// digit symbology, lowercase in Code 39): then there is nothing to sample.
// At most kMostWaveformSamples: beyond that both ends are cut evenly, which
// takes the quiet zones first and, for a symbol too long on its own, its ends.
std::vector<std::uint8_t> SampleCardBarcode(const std::array<long, 5>& line,
                                            std::string_view barcode, const OpticsOptions& optics,
                                            double wideRatio);

}  // namespace markwire::sim
