#include "video/video_page_logic.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(TitleTexts, GridShowsTheIdAndTheSingleViewItsDescriptionToo) {
    VideoChannel gate;
    gate.ChannelID = "7";
    gate.ChannelDescription = "Gate";
    const TitleTexts texts = titleTexts(&gate);
    EXPECT_EQ(texts.shortText, "7");
    EXPECT_EQ(texts.longText, "7 - Gate");
    EXPECT_EQ(titleTexts(nullptr), TitleTexts{});
}

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

struct ScrollHeightCase {
    int width;
    int rows;
    int cols;
    int onResize;
    int initial;
};

void PrintTo(const ScrollHeightCase& c, std::ostream* out) {
    *out << c.width << " wide, " << c.rows << "x" << c.cols;
}

class ScrollHeight : public testing::TestWithParam<ScrollHeightCase> {};

TEST_P(ScrollHeight, FollowsTheWidthAndTheGrid) {
    const ScrollHeightCase& c = GetParam();
    EXPECT_EQ(scrollHeightOnResize(c.width, c.rows, c.cols), c.onResize);
    EXPECT_EQ(initialScrollHeight(c.width, c.rows, c.cols, 33), c.initial);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScrollHeight,
    testing::Values(
        // 2 × ((120 − 10) × 3 ÷ 4) = 2 × 82; ((360 − 30) ÷ 4) × 3 = 82 × 3.
        ScrollHeightCase{240, 2, 2, 164, 246},
        // 1 × ((240 − 5) × 3 ÷ 4) = 176; ((720 − 15) ÷ 4) × 2 = 176 × 2.
        ScrollHeightCase{240, 1, 1, 176, 352},
        // Without a grid: nothing on resize, the kept height when the page opens.
        ScrollHeightCase{240, 0, 0, 0, 33}));

TEST(ScrollBar, IsNeededOnlyWhenTheContentWithEightSpareIsNotShorterThanThePage) {
    EXPECT_FALSE(initialScrollBarNeeded(0, 268));
    EXPECT_FALSE(initialScrollBarNeeded(259, 268));
    EXPECT_TRUE(initialScrollBarNeeded(260, 268));
    EXPECT_TRUE(initialScrollBarNeeded(400, 268));
}

}  // namespace
}  // namespace krt
