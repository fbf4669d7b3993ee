#include "video/video_page_logic.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

struct TopRowCase {
    int pageWidth;
    int comboWidth;
    int gap;
};

void PrintTo(const TopRowCase& c, std::ostream* out) {
    *out << c.pageWidth << " wide, list " << c.comboWidth;
}

class TopRow : public testing::TestWithParam<TopRowCase> {};

TEST_P(TopRow, SpreadsTheLinksAndTheListWithEqualGaps) {
    const TopRowCase& c = GetParam();
    const TopRowLayout layout = topRowLayout(c.pageWidth, c.comboWidth, 22);
    const int a = c.gap;
    EXPECT_EQ(layout.links[0], (Rect{a, 5, 30, 40}));
    EXPECT_EQ(layout.links[1], (Rect{2 * a + 30, 5, 30, 40}));
    EXPECT_EQ(layout.links[2], (Rect{3 * a + 60, 5, 30, 40}));
    EXPECT_EQ(layout.comboBox, (Rect{4 * a + 90, 5, c.comboWidth, 22}));
}

INSTANTIATE_TEST_SUITE_P(Cases, TopRow,
                         testing::Values(TopRowCase{240, 70, 20}, TopRowCase{241, 70, 20},
                                         TopRowCase{640, 100, 112},
                                         // Narrower than its contents: the gap is negative.
                                         TopRowCase{100, 70, -15}));

}  // namespace
}  // namespace krt
