#include "layouts/layout_template.h"

#include <algorithm>
#include <array>

namespace krt {
namespace {

template <std::size_t N>
constexpr std::array<GridCell, N * N> uniformCells() {
    std::array<GridCell, N * N> cells{};
    constexpr int kSide = static_cast<int>(N);
    for (int k = 0; k < kSide * kSide; ++k) {
        cells[static_cast<std::size_t>(k)] = {k / kSide, k % kSide, 1, 1};
    }
    return cells;
}

constexpr auto kCells1 = uniformCells<1>();
constexpr auto kCells2 = uniformCells<2>();
constexpr auto kCells3 = uniformCells<3>();
constexpr auto kCells4 = uniformCells<4>();
constexpr auto kCells5 = uniformCells<5>();
constexpr auto kCells6 = uniformCells<6>();
constexpr auto kCells8 = uniformCells<8>();

// A big cell of 2 × 2 at the top left of 3 × 3, five small ones down its right and along
// the bottom.
constexpr std::array<GridCell, 6> kCells1Plus5{{
    {0, 0, 2, 2},
    {0, 2, 1, 1},
    {1, 2, 1, 1},
    {2, 0, 1, 1},
    {2, 1, 1, 1},
    {2, 2, 1, 1},
}};
// A big cell of 3 × 3 at the top left of 4 × 4, seven small ones around it.
constexpr std::array<GridCell, 8> kCells1Plus7{{
    {0, 0, 3, 3},
    {0, 3, 1, 1},
    {1, 3, 1, 1},
    {2, 3, 1, 1},
    {3, 0, 1, 1},
    {3, 1, 1, 1},
    {3, 2, 1, 1},
    {3, 3, 1, 1},
}};
// A big cell of 2 × 2 in the middle of 4 × 4, twelve small ones around it.
constexpr std::array<GridCell, 13> kCells1Plus12{{
    {1, 1, 2, 2},
    {0, 0, 1, 1},
    {0, 1, 1, 1},
    {0, 2, 1, 1},
    {0, 3, 1, 1},
    {1, 0, 1, 1},
    {1, 3, 1, 1},
    {2, 0, 1, 1},
    {2, 3, 1, 1},
    {3, 0, 1, 1},
    {3, 1, 1, 1},
    {3, 2, 1, 1},
    {3, 3, 1, 1},
}};
// Two big cells of 2 × 2 side by side on top of 4 × 4, eight small ones in two rows below.
constexpr std::array<GridCell, 10> kCells2Plus8{{
    {0, 0, 2, 2},
    {0, 2, 2, 2},
    {2, 0, 1, 1},
    {2, 1, 1, 1},
    {2, 2, 1, 1},
    {2, 3, 1, 1},
    {3, 0, 1, 1},
    {3, 1, 1, 1},
    {3, 2, 1, 1},
    {3, 3, 1, 1},
}};

constexpr std::array<LayoutTemplate, 11> kTemplates{{
    {"1", 1, 1, kCells1},
    {"2x2", 2, 2, kCells2},
    {"3x3", 3, 3, kCells3},
    {"4x4", 4, 4, kCells4},
    {"5x5", 5, 5, kCells5},
    {"6x6", 6, 6, kCells6},
    {"8x8", 8, 8, kCells8},
    {"1+5", 3, 3, kCells1Plus5},
    {"1+7", 4, 4, kCells1Plus7},
    {"1+12", 4, 4, kCells1Plus12},
    {"2+8", 4, 4, kCells2Plus8},
}};

// Where grid line `line` of `count` lies in `length` pixels with `gap` pixels between and
// around the tracks: the first `extra` tracks are one pixel longer than the others.
int trackStart(int line, int count, int length, int gap) {
    const int room = std::max(length - gap * (count + 1), 0);
    const int base = room / count;
    const int extra = room % count;
    return gap + line * (base + gap) + std::min(line, extra);
}

}  // namespace

std::span<const LayoutTemplate> layoutTemplates() {
    return kTemplates;
}

std::optional<LayoutTemplate> findLayoutTemplate(std::string_view id) {
    const auto* found = std::ranges::find(kTemplates, id, &LayoutTemplate::id);
    if (found == kTemplates.end()) {
        return std::nullopt;
    }
    return *found;
}

std::vector<Rect> layoutCellRects(const LayoutTemplate& layout, int width, int height, int gap) {
    std::vector<Rect> rects;
    rects.reserve(layout.cells.size());
    for (const GridCell& cell : layout.cells) {
        const int left = trackStart(cell.column, layout.columns, width, gap);
        const int top = trackStart(cell.row, layout.rows, height, gap);
        // The cell ends where the track after its last one starts, less the gap between.
        const int right =
            trackStart(cell.column + cell.columnSpan, layout.columns, width, gap) - gap;
        const int bottom = trackStart(cell.row + cell.rowSpan, layout.rows, height, gap) - gap;
        rects.push_back({left, top, std::max(right - left, 0), std::max(bottom - top, 0)});
    }
    return rects;
}

int neighbourCell(const LayoutTemplate& layout, int cell, int dx, int dy) {
    const auto count = static_cast<int>(layout.cells.size());
    if (cell < 0 || cell >= count) {
        return 0;
    }
    const GridCell& from = layout.cells[static_cast<std::size_t>(cell)];
    const int row = dy > 0 ? from.row + from.rowSpan : from.row + dy;
    const int column = dx > 0 ? from.column + from.columnSpan : from.column + dx;
    for (int k = 0; k < count; ++k) {
        const GridCell& other = layout.cells[static_cast<std::size_t>(k)];
        if (row >= other.row && row < other.row + other.rowSpan && column >= other.column &&
            column < other.column + other.columnSpan) {
            return k;
        }
    }
    return cell;
}

}  // namespace krt
