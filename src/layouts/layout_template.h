#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "media/geometry.h"

namespace krt {

// One cell of a layout's grid, in grid units: a big cell spans several rows and columns.
struct GridCell {
    int row = 0;
    int column = 0;
    int rowSpan = 1;
    int columnSpan = 1;

    bool operator==(const GridCell&) const = default;
};

// The arrangements a layout can have: uniform grids, and uneven ones with big cells.
struct LayoutTemplate {
    std::string_view id;  // as stored in the layouts file and shown in the template list
    int rows = 1;
    int columns = 1;
    std::span<const GridCell> cells;  // in the order cameras fill them: big cells first
};

// Every template, uniform first (1, 2×2 ... 8×8), then 1+5, 1+7, 1+12 and 2+8.
std::span<const LayoutTemplate> layoutTemplates();
std::optional<LayoutTemplate> findLayoutTemplate(std::string_view id);
// The most cells any template has.
inline constexpr int kMostLayoutCells = 64;

// Where each cell of the template goes in an area of that size, with `gap` pixels between
// and around the cells. Every row and every column gets its share of the area: the pixels a
// division leaves over go one each to the first rows and columns, so nothing stays unused.
std::vector<Rect> layoutCellRects(const LayoutTemplate& layout, int width, int height, int gap);

// The cell the keyboard focus goes to from `cell` by one step (dx, dy of -1, 0 or 1): the
// cell beside its top-left corner in that direction, or the same cell at the edge.
int neighbourCell(const LayoutTemplate& layout, int cell, int dx, int dy);

}  // namespace krt
