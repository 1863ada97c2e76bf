// Layout for the tool's pictures, apart from any drawing: where an area
// read's points stand on the card, which of them an axis labels, on which
// row a label goes so that labels do not overlap, and how a picture reaches
// its file. Pure, so that tests can hold it to its rules.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace markwire::cli {

// The points of an area read as the reader walks them: from the first
// corner toward the last, |last - first + 1| lines of |last - first + 1|
// columns (the count the library asks for, which for corners in reverse
// order is not the number of lines between them). Lines and columns are
// the reader's own numbers, as the command gives them.
struct AreaGrid {
  long firstLine = 1, firstColumn = 1;
  long lineStep = 1, columnStep = 1;  // +1 or -1
  long lines = 0, columns = 0;

  static AreaGrid FromCorners(long firstLine, long firstColumn, long lastLine, long lastColumn);
  long LineOf(long row) const { return firstLine + row * lineStep; }
  long ColumnOf(long column) const { return firstColumn + column * columnStep; }
};

// The rows an axis labels, ascending, when the rows are numbered `numbers`
// (in order), each is `pitch` pixels and labels need `room` pixels between
// them: those whose number is a multiple of the least of 1, 2, 5, 10, 20,
// 50, ... that leaves the room, and the first and the last row; a multiple
// that comes too close to either gives way, and the last row too close to
// the first.
std::vector<long> AxisTicks(const std::vector<long>& numbers, double pitch, double room);

// Labels on a line: each wants [left, right) in pixels, in order of left.
// Returns each one's row (0 first), the lowest row where it does not touch
// the label before it on that row.
std::vector<int> LabelRows(const std::vector<std::pair<double, double>>& extents, double gap);

// Text made safe inside an XML element or attribute.
std::string XmlEscaped(std::string_view text);

// Writes `content` to `path` whole or not at all: into a new file beside
// it, renamed over `path` once written and closed. On failure nothing new
// is left and `error` says why.
bool WriteFileWhole(const std::string& path, std::string_view content, std::string& error);

}  // namespace markwire::cli
