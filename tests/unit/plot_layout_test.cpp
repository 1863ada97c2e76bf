// The layout of the tool's pictures: an area's points in the reader's
// numbers, axis labels that stay apart, label rows, and a picture that
// reaches its file whole or not at all.
#include "plot_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace markwire::cli {
namespace {

std::vector<long> From(long first, long count, long step = 1) {
  std::vector<long> numbers;
  for (long i = 0; i < count; ++i) numbers.push_back(first + i * step);
  return numbers;
}

TEST(AreaGrid, WalksFromTheFirstCornerAsManyPointsAsTheLibraryCounts) {
  const AreaGrid forward = AreaGrid::FromCorners(3, 2, 7, 5);
  EXPECT_EQ(forward.lines, 5);
  EXPECT_EQ(forward.columns, 4);
  EXPECT_EQ(forward.LineOf(0), 3);
  EXPECT_EQ(forward.LineOf(4), 7);
  EXPECT_EQ(forward.ColumnOf(3), 5);
  // Reversed corners: |last - first + 1| points, walked downward.
  const AreaGrid back = AreaGrid::FromCorners(7, 5, 3, 2);
  EXPECT_EQ(back.lines, 3);
  EXPECT_EQ(back.columns, 2);
  EXPECT_EQ(back.LineOf(2), 5);
  EXPECT_EQ(back.ColumnOf(1), 4);
  EXPECT_EQ(AreaGrid::FromCorners(4, 4, 3, 3).lines, 0);
}

TEST(AxisTicks, LabelsRoundNumbersFarEnoughApartAndBothEnds) {
  // Room for every row.
  EXPECT_EQ(AxisTicks(From(1, 5), 20, 14), (std::vector<long>{0, 1, 2, 3, 4}));
  // Lines 1 to 100 at 4.8 pixels: every fifth line number (24 pixels
  // apart), and the ends.
  const auto ticks = AxisTicks(From(1, 100), 4.8, 14);
  EXPECT_EQ(ticks.front(), 0);
  EXPECT_EQ(ticks.back(), 99);
  EXPECT_EQ(ticks[1], 4);  // line 5
  EXPECT_EQ(ticks.size(), 21u);
  for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_GE((ticks[i] - ticks[i - 1]) * 4.8, 14);
  for (std::size_t i = 1; i + 1 < ticks.size(); ++i) EXPECT_EQ((ticks[i] + 1) % 5, 0);
  // Descending numbers (corners in reverse order) label their multiples too.
  EXPECT_EQ(AxisTicks(From(12, 12, -1), 10, 18), (std::vector<long>{0, 2, 4, 6, 8, 11}));
  // Lines 1 to 7 at 4 pixels with 14 between labels: 5 is a multiple, but
  // too close to 7, the last, which keeps its label.
  EXPECT_EQ(AxisTicks(From(1, 7), 4, 14), (std::vector<long>{0, 6}));
  // A last row too close to the first is left out; one row, one label.
  EXPECT_EQ(AxisTicks(From(1, 2), 5, 14), (std::vector<long>{0}));
  EXPECT_EQ(AxisTicks(From(9, 1), 5, 14), (std::vector<long>{0}));
  EXPECT_TRUE(AxisTicks({}, 5, 14).empty());
}

TEST(LabelRows, ALabelGoesToTheFirstRowWhereItTouchesNoOther) {
  EXPECT_EQ(LabelRows({{0, 10}, {12, 20}, {22, 30}}, 1), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(LabelRows({{0, 10}, {5, 15}, {8, 18}, {16, 20}}, 1), (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(LabelRows({{0, 10}, {10.5, 12}}, 1), (std::vector<int>{0, 1}));
}

TEST(XmlEscaped, LeavesNoMarkupInText) {
  EXPECT_EQ(XmlEscaped("a<b>&'\"\x01"), "a&lt;b&gt;&amp;&apos;&quot;?");
}

TEST(WriteFileWhole, ReplacesTheFileOrLeavesNothing) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("markwire-plot-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "p.svg").string();
  std::string error;
  ASSERT_TRUE(WriteFileWhole(path, "<svg/>", error)) << error;
  ASSERT_TRUE(WriteFileWhole(path, "<svg>2</svg>", error)) << error;
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "<svg>2</svg>");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  // A directory in the way: refused, the reason names the path, and no
  // temporary file stays beside it.
  std::filesystem::create_directories(dir / "d.svg");
  EXPECT_FALSE(WriteFileWhole((dir / "d.svg").string(), "<svg/>", error));
  EXPECT_NE(error.find("d.svg"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
  EXPECT_FALSE(WriteFileWhole((dir / "none" / "p.svg").string(), "<svg/>", error));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace markwire::cli
