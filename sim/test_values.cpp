#include "test_values.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace markwire::sim {

namespace {

constexpr int kPaper = 220;
constexpr int kPrinted = 45;  // the timing marks
constexpr int kPencil = 60;   // a filled answer: darker than paper, less even than print
constexpr int kCurveSteps = 256;

// splitmix64 over the point's coordinates: noise that depends on nothing but
// the request.
std::uint64_t Mix(std::uint64_t z) {
  z += 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A value in [-spread, spread].
int Noise(std::uint64_t a, std::uint64_t b, std::uint64_t c, int spread) {
  const std::uint64_t z = Mix(a ^ Mix(b ^ Mix(c)));
  return static_cast<int>(z % static_cast<std::uint64_t>(2 * spread + 1)) - spread;
}

char Level(int value) {
  return static_cast<char>(std::clamp(value, 0, 255));
}

bool Marked(std::string_view cardText, long line, long column) {
  if (line < 1 || static_cast<std::size_t>(line) > cardText.size()) return false;
  const char c = cardText[static_cast<std::size_t>(line - 1)];
  long offset = -1;
  if (c >= '0' && c <= '9') offset = c - '0';
  if (c >= 'A' && c <= 'Z') offset = c - 'A';
  if (c == '*') return column == 2 || column == 3;
  return offset >= 0 && column == 2 + offset;
}

}  // namespace

std::int64_t Area::Count() const {
  return std::llabs(lastLine - firstLine + 1) * std::llabs(lastColumn - firstColumn + 1);
}

std::string AreaLevels(const Area& area, CardSide side, std::string_view cardText) {
  const std::int64_t lines = std::llabs(area.lastLine - area.firstLine + 1);
  const std::int64_t columns = std::llabs(area.lastColumn - area.firstColumn + 1);
  const long lineStep = area.lastLine >= area.firstLine ? 1 : -1;
  const long columnStep = area.lastColumn >= area.firstColumn ? 1 : -1;
  const auto sideKey = static_cast<std::uint64_t>(side == CardSide::A ? 0xA : 0xB);
  std::string levels;
  levels.reserve(static_cast<std::size_t>(lines * columns));
  for (std::int64_t i = 0; i < lines; ++i) {
    const long line = area.firstLine + static_cast<long>(i) * lineStep;
    for (std::int64_t j = 0; j < columns; ++j) {
      const long column = area.firstColumn + static_cast<long>(j) * columnStep;
      int base = kPaper;
      int spread = 12;
      if (column == kTimingColumn) {
        base = kPrinted;
        spread = 8;
      } else if (side == CardSide::A && Marked(cardText, line, column)) {
        base = kPencil;
        spread = 18;
      }
      levels.push_back(Level(base + Noise(static_cast<std::uint64_t>(line),
                                          static_cast<std::uint64_t>(column), sideKey, spread)));
    }
  }
  return levels;
}

std::string ChannelLevels() {
  // Each channel's white level: the lamps light the middle of the track best.
  std::string levels;
  for (std::uint64_t side = 0; side < 2; ++side) {
    for (int channel = 0; channel < kSensorChannels; ++channel) {
      const double fromMiddle = (channel - (kSensorChannels - 1) / 2.0) / kSensorChannels;
      const int value = static_cast<int>(std::lround(228 - 60 * fromMiddle * fromMiddle)) +
                        Noise(side, static_cast<std::uint64_t>(channel), 0x14, 4);
      levels.push_back(Level(value));
    }
  }
  return levels;
}

std::string ResponseCurve(long sensor) {
  // A logistic rise whose midpoint differs a little from sensor to sensor.
  const double middle = 128 + (std::labs(sensor) % 9 - 4) * 5;
  std::string curve;
  for (int step = 0; step < kCurveSteps; ++step) {
    const double rise = 1 / (1 + std::exp(-(step - middle) / 22.0));
    const int value =
        static_cast<int>(std::lround(18 + 214 * rise)) +
        Noise(static_cast<std::uint64_t>(sensor), static_cast<std::uint64_t>(step), 0x16, 2);
    curve.push_back(Level(value));
  }
  return curve;
}

}  // namespace markwire::sim
