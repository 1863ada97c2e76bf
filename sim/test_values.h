// The values the reader measures for its test read-outs: gray levels of the
// points of a card, the calibration levels of its sensor channels and the
// response curve of one sensor. They are made up, but shaped like a real
// reader's, so that a program that plots or checks them sees something
// plausible: light paper, dark marks, smooth curves with a little noise. The
// same request always gives the same values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace markwire::sim {

// The reader has one sensor channel per column of a card.
inline constexpr int kSensorChannels = 48;
// The column that carries the printed timing mark of every line.
inline constexpr int kTimingColumn = 1;

enum class CardSide { A, B };

// A rectangle of points, corners as the command gives them, in any order.
struct Area {
  long firstLine = 0;
  long firstColumn = 0;
  long lastLine = 0;
  long lastColumn = 0;
  // |(lastLine - firstLine + 1) x (lastColumn - firstColumn + 1)|: the count
  // the library computes, which for corners in reverse order is not the
  // number of points between them.
  std::int64_t Count() const;
};

// The gray level of every point of the area on one side, one byte each.
// `cardText` is the card in the reader (empty for none): character i is line
// i + 1, and a digit d or a letter k-th in the alphabet marks column 2 + d or
// 2 + k; a "*" marks the columns of both "A" and "B". Only side A carries
// answers; both sides carry the timing marks. The points are walked line by
// line from the first corner toward the last, |lastLine - firstLine + 1|
// lines of |lastColumn - firstColumn + 1| points, so that there are always
// Count() values.
std::string AreaLevels(const Area& area, CardSide side, std::string_view cardText);

// The calibration level of each sensor channel, side A's channels first:
// 2 x kSensorChannels values.
std::string ChannelLevels();

// The response of sensor `sensor` over its 256 input steps: low, rising
// smoothly through the middle, high.
std::string ResponseCurve(long sensor);

}  // namespace markwire::sim
