#include "layouts/layout_template.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace krt {
namespace {

struct TemplateCase {
    std::string_view id;
    std::size_t cells;
    Rect first;
    Rect last;
};

void PrintTo(const TemplateCase& c, std::ostream* out) {
    *out << c.id;
}

bool overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

class TemplateCells : public testing::TestWithParam<TemplateCase> {};

// A full-screen wall of 1280 × 1024 with 2-pixel gaps.
TEST_P(TemplateCells, FillTheWallWithoutOverlap) {
    constexpr int kWidth = 1280;
    constexpr int kHeight = 1024;
    constexpr int kGap = 2;
    const TemplateCase& c = GetParam();
    const std::optional<LayoutTemplate> shape = findLayoutTemplate(c.id);
    ASSERT_TRUE(shape);
    const std::vector<Rect> rects = layoutCellRects(*shape, kWidth, kHeight, kGap);
    ASSERT_EQ(rects.size(), c.cells);
    EXPECT_EQ(rects.front(), c.first);
    EXPECT_EQ(rects.back(), c.last);
    int right = 0;
    int bottom = 0;
    for (std::size_t k = 0; k < rects.size(); ++k) {
        const Rect& cell = rects[k];
        EXPECT_GE(cell.x, kGap);
        EXPECT_GE(cell.y, kGap);
        right = std::max(right, cell.x + cell.width);
        bottom = std::max(bottom, cell.y + cell.height);
        for (std::size_t other = k + 1; other < rects.size(); ++other) {
            EXPECT_FALSE(overlap(cell, rects[other])) << k << " and " << other;
        }
    }
    // Every row and column has its share: the last ones end one gap before the edge.
    EXPECT_EQ(right, kWidth - kGap);
    EXPECT_EQ(bottom, kHeight - kGap);
    // No hole: the middle of every unit of the grid lies in one cell.
    for (int row = 0; row < shape->rows; ++row) {
        for (int column = 0; column < shape->columns; ++column) {
            const int x = (2 * column + 1) * kWidth / (2 * shape->columns);
            const int y = (2 * row + 1) * kHeight / (2 * shape->rows);
            EXPECT_EQ(std::ranges::count_if(rects,
                                            [x, y](const Rect& cell) {
                                                return overlap(cell, Rect{x, y, 1, 1});
                                            }),
                      1)
                << row << "," << column;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Every, TemplateCells,
    testing::Values(TemplateCase{"1", 1, {2, 2, 1276, 1020}, {2, 2, 1276, 1020}},
                    TemplateCase{"2x2", 4, {2, 2, 637, 509}, {641, 513, 637, 509}},
                    TemplateCase{"3x3", 9, {2, 2, 424, 339}, {854, 684, 424, 338}},
                    TemplateCase{"4x4", 16, {2, 2, 318, 254}, {961, 769, 317, 253}},
                    TemplateCase{"5x5", 25, {2, 2, 254, 203}, {1025, 820, 253, 202}},
                    TemplateCase{"6x6", 36, {2, 2, 211, 169}, {1067, 854, 211, 168}},
                    TemplateCase{"8x8", 64, {2, 2, 158, 126}, {1121, 897, 157, 125}},
                    TemplateCase{"1+5", 6, {2, 2, 850, 680}, {854, 684, 424, 338}},
                    TemplateCase{"1+7", 8, {2, 2, 957, 765}, {961, 769, 317, 253}},
                    TemplateCase{"1+12", 13, {322, 258, 637, 509}, {961, 769, 317, 253}},
                    TemplateCase{"2+8", 10, {2, 2, 638, 510}, {961, 769, 317, 253}}));

TEST(TemplateCells, EveryTemplateIsInTheTableAndTooSmallAnAreaGivesEmptyCells) {
    EXPECT_EQ(layoutTemplates().size(), 11U);
    EXPECT_FALSE(findLayoutTemplate("7x7"));
    for (const LayoutTemplate& shape : layoutTemplates()) {
        for (const Rect& cell : layoutCellRects(shape, 10, 10, 2)) {
            EXPECT_GE(cell.width, 0) << shape.id;
            EXPECT_GE(cell.height, 0) << shape.id;
        }
    }
}

TEST(TemplateCells, KeyboardStepsGoToTheNeighbourAndStopAtTheEdge) {
    struct Step {
        std::string_view id;
        int from;
        int dx;
        int dy;
        int to;
    };
    for (const Step& step :
         {Step{"2x2", 0, 1, 0, 1}, Step{"2x2", 1, 1, 0, 1}, Step{"2x2", 0, 0, 1, 2},
          Step{"2x2", 3, 0, -1, 1}, Step{"1+5", 0, 1, 0, 1}, Step{"1+5", 0, 0, 1, 3},
          Step{"1+5", 4, 0, -1, 0}, Step{"1+5", 2, -1, 0, 0}, Step{"1+12", 0, -1, 0, 5},
          Step{"1+12", 0, 1, 0, 6}, Step{"1+12", 2, 0, 1, 0}, Step{"2+8", 1, -1, 0, 0},
          Step{"8x8", 63, 1, 1, 63}, Step{"1", 0, -1, -1, 0}}) {
        EXPECT_EQ(neighbourCell(*findLayoutTemplate(step.id), step.from, step.dx, step.dy), step.to)
            << step.id << " " << step.from << " by " << step.dx << "," << step.dy;
    }
}

}  // namespace
}  // namespace krt
