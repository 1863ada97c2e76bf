#include "plot_area.h"

#include <algorithm>
#include <sstream>

namespace markwire::cli {
namespace {

// Cells are as large as lets the larger side of the grid fill about this
// many pixels, within the bounds: a few points stay readable, 9999 do not
// make a poster.
constexpr double kGridPixels = 480;
constexpr double kSmallestCell = 4, kLargestCell = 28;
constexpr double kLineLabels = 44;  // left of a grid: the line numbers and the axis' name
constexpr double kAreaTop = 66;     // the title, the side's title, the column numbers
constexpr double kBetweenSides = 36;
constexpr double kScaleWidth = 14, kScaleHeight = 200, kScaleSpace = 70;
constexpr double kAreaFont = 11;

std::vector<long> Numbers(long count, long first, long step) {
  std::vector<long> numbers(static_cast<std::size_t>(std::max(count, 0L)));
  for (long i = 0; i < count; ++i) numbers[static_cast<std::size_t>(i)] = first + i * step;
  return numbers;
}

}  // namespace

std::string AreaPicture(const std::string& title, const AreaGrid& grid,
                        const std::vector<AreaSide>& sides) {
  const double cell =
      std::clamp(kGridPixels / static_cast<double>(std::max({grid.lines, grid.columns, 1L})),
                 kSmallestCell, kLargestCell);
  const double gridWidth = cell * static_cast<double>(grid.columns);
  const double gridHeight = cell * static_cast<double>(grid.lines);
  const double sideWidth = kLineLabels + gridWidth + kBetweenSides;
  const double width = 10 + static_cast<double>(sides.size()) * sideWidth + kScaleSpace;
  const double height = kAreaTop + std::max(gridHeight, kScaleHeight) + 30;

  int least = 255, most = 0;
  for (const auto& side : sides)
    for (int v : side.second) {
      least = std::min(least, v);
      most = std::max(most, v);
    }

  std::ostringstream svg;
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
      << "' font-family='sans-serif' font-size='" << kAreaFont << "'>\n"
      << "<rect width='100%' height='100%' fill='white'/>\n"
      << "<text x='10' y='16' font-size='13'>" << XmlEscaped(title) << "</text>\n";

  const auto lineNumbers = Numbers(grid.lines, grid.firstLine, grid.lineStep);
  const auto columnNumbers = Numbers(grid.columns, grid.firstColumn, grid.columnStep);
  const auto lineTicks = AxisTicks(lineNumbers, cell, kAreaFont + 3);
  const auto columnTicks = AxisTicks(columnNumbers, cell, 3 * kAreaFont);
  double x0 = 10 + kLineLabels;
  for (const auto& [side, values] : sides) {
    svg << "<g class='side' id='side-" << side << "'>\n";
    svg << "<text x='" << x0 << "' y='34' font-size='13' font-weight='bold'>side " << side
        << "</text>\n";
    // Axis names: columns across the top, lines down the left.
    svg << "<text x='" << x0 + gridWidth
        << "' y='34' text-anchor='end' fill='#555'>column</text>\n";
    svg << "<text transform='translate(" << x0 - kLineLabels + 10 << ','
        << kAreaTop + gridHeight / 2
        << ") rotate(-90)' text-anchor='middle' fill='#555'>line</text>\n";
    for (long c : columnTicks) {
      const double x = x0 + (static_cast<double>(c) + 0.5) * cell;
      svg << "<text class='column' x='" << x << "' y='" << kAreaTop - 8 << "' text-anchor='middle'>"
          << columnNumbers[static_cast<std::size_t>(c)] << "</text>\n"
          << "<line x1='" << x << "' x2='" << x << "' y1='" << kAreaTop - 5 << "' y2='" << kAreaTop
          << "' stroke='black'/>\n";
    }
    for (long l : lineTicks) {
      const double y = kAreaTop + (static_cast<double>(l) + 0.5) * cell;
      svg << "<text class='line' x='" << x0 - 7 << "' y='" << y + kAreaFont / 3
          << "' text-anchor='end'>" << lineNumbers[static_cast<std::size_t>(l)] << "</text>\n"
          << "<line x1='" << x0 - 5 << "' x2='" << x0 << "' y1='" << y << "' y2='" << y
          << "' stroke='black'/>\n";
    }
    // A point the reader did not send stays uncovered, on this background.
    svg << "<rect x='" << x0 << "' y='" << kAreaTop << "' width='" << gridWidth << "' height='"
        << gridHeight << "' fill='#fce' stroke='none'/>\n";
    const long cells = std::min<long>(static_cast<long>(values.size()), grid.lines * grid.columns);
    for (long i = 0; i < cells; ++i) {
      const long row = i / grid.columns, column = i % grid.columns;
      const int v = std::clamp(values[static_cast<std::size_t>(i)], 0, 255);
      svg << "<rect x='" << x0 + static_cast<double>(column) * cell << "' y='"
          << kAreaTop + static_cast<double>(row) * cell << "' width='" << cell << "' height='"
          << cell << "' fill='rgb(" << v << ',' << v << ',' << v << ")'><title>side " << side
          << ", line " << grid.LineOf(row) << ", column " << grid.ColumnOf(column) << ": value "
          << values[static_cast<std::size_t>(i)] << "</title></rect>\n";
    }
    svg << "<rect x='" << x0 << "' y='" << kAreaTop << "' width='" << gridWidth << "' height='"
        << gridHeight << "' fill='none' stroke='#888'/>\n</g>\n";
    x0 += sideWidth;
  }

  // The gray scale: 255 at the top, 0 at the bottom, and the values' range
  // beside it.
  const double sx = x0 - kLineLabels, sy = kAreaTop;
  const auto yOf = [&](int v) { return sy + kScaleHeight * (1 - v / 255.0); };
  svg << "<g class='scale'>\n<defs><linearGradient id='gray' x1='0' y1='1' x2='0' y2='0'>"
      << "<stop offset='0' stop-color='black'/><stop offset='1' stop-color='white'/>"
      << "</linearGradient></defs>\n"
      << "<text x='" << sx << "' y='" << sy - 8 << "'>gray</text>\n"
      << "<rect x='" << sx << "' y='" << sy << "' width='" << kScaleWidth << "' height='"
      << kScaleHeight << "' fill='url(#gray)' stroke='#888'/>\n";
  for (int v : {0, 64, 128, 192, 255})
    svg << "<line x1='" << sx + kScaleWidth << "' x2='" << sx + kScaleWidth + 4 << "' y1='"
        << yOf(v) << "' y2='" << yOf(v) << "' stroke='black'/><text x='" << sx + kScaleWidth + 6
        << "' y='" << yOf(v) + kAreaFont / 3 << "'>" << v << "</text>\n";
  if (least <= most)
    svg << "<line class='range' x1='" << sx - 4 << "' x2='" << sx - 4 << "' y1='" << yOf(most)
        << "' y2='" << yOf(least) << "' stroke='#d33' stroke-width='3'><title>values " << least
        << " to " << most << "</title></line>\n"
        << "<text x='" << sx - 8 << "' y='" << sy + kScaleHeight + 18 << "' fill='#d33'>" << least
        << " to " << most << "</text>\n";
  svg << "</g>\n</svg>\n";
  return svg.str();
}

}  // namespace markwire::cli
