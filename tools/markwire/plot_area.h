// The gray levels of an area read as a picture an operator can read: each
// side a grid of cells in the reader's line and column numbers, labelled
// axes, a gray scale, and every cell's value on hover.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "plot_layout.h"

namespace markwire::cli {

// One side's values, in the order the reader walks the grid.
using AreaSide = std::pair<char, std::vector<int>>;

// The SVG document. `title` heads it (the command, say).
std::string AreaPicture(const std::string& title, const AreaGrid& grid,
                        const std::vector<AreaSide>& sides);

}  // namespace markwire::cli
