// Decoders of the two-width symbologies, Code 39 and Interleaved 2 of 5: the
// width of every element is measured on the curve around its extremum, the
// widest elements of each character are marked wide, and one pattern per
// character is appended to the list. Only the framing (element count, start
// and stop) is checked here; the patterns become text in the translation.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>

#include "barcode/barcode_types.h"

namespace markwire::barcode {

// The width, in curve points, of the element whose extremum is at index p,
// with the extrema of its neighbours at `left` and `right` (either may be
// absent, not both). A run goes on while the difference from the extremum's
// value stays within 0.3 of the swing to that neighbour. Both neighbours: the
// two runs added; only the right: twice the right run; only the left: twice
// the left run plus 2. A run stops at the ends of the curve.
int ElementWidth(std::span<const double> waveform, std::optional<long> left, long p,
                 std::optional<long> right);

// `count` data characters between "*" and "*": needs exactly 10 x count + 19
// positions (else false, list untouched). Empties the list, appends the
// count + 2 patterns; with forward false each pattern and the list's order
// are reversed. True when the first and last pattern are "*" (the list keeps
// what it got either way).
bool DecodeCode39(std::span<const double> waveform, std::span<const double> positions,
                  PatternList& patterns, int count, bool forward);
// One character: the three widest of its nine elements (ties to the later
// element) are wide.
void ClassifyCode39Character(std::span<const double> waveform, const std::array<long, 9>& positions,
                             PatternList& patterns, bool forward);

// `count` digits (rounded up to even): needs exactly 5n + 7 positions (else
// false, list untouched). Appends start, digit and stop patterns (the caller
// passes the list empty). True when the first pattern is "0000" and the last
// "100".
bool DecodeInterleaved2of5(std::span<const double> waveform, std::span<const double> positions,
                           PatternList& patterns, int count);
// Appends the start, digit-pair and stop patterns; returns the list's size.
// Fewer than seven positions (no room for a start and a stop) append nothing.
std::size_t BuildInterleavedPatterns(std::span<const double> waveform,
                                     std::span<const double> positions, PatternList& patterns);

// The wide/narrow rules on measured widths, apart from the curve.
namespace detail {

// "1" at the `wideCount` widest elements: each pass picks the widest element
// not picked yet, ties to the later one.
std::string MarkWidest(std::span<const int> widths, int wideCount);
// Interleaved 2 of 5 start: wide when farther than half the truncated mean
// from it.
std::string StartPattern(const std::array<int, 4>& widths);
// Interleaved 2 of 5 stop: the single widest, ties to the earlier one.
std::string StopPattern(const std::array<int, 3>& widths);

}  // namespace detail

}  // namespace markwire::barcode
