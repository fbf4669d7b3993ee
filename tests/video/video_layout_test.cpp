#include "video/video_layout.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

struct PageCountCase {
    int channels;
    int rows;
    int cols;
    int pages;
};

void PrintTo(const PageCountCase& c, std::ostream* out) {
    *out << c.channels << " channels in " << c.rows << "x" << c.cols;
}

class PageCount : public testing::TestWithParam<PageCountCase> {};

TEST_P(PageCount, RoundsUpAPartPage) {
    const PageCountCase& c = GetParam();
    EXPECT_EQ(pageCount(c.channels, c.rows, c.cols), c.pages);
}

INSTANTIATE_TEST_SUITE_P(Cases, PageCount,
                         testing::Values(PageCountCase{9, 2, 2, 3}, PageCountCase{8, 2, 2, 2},
                                         PageCountCase{1, 2, 2, 1}, PageCountCase{9, 1, 1, 9},
                                         PageCountCase{0, 2, 2, 0},
                                         // The grid before the sheet sets it is 0 × 0.
                                         PageCountCase{9, 0, 0, 0}));

TEST(TileChannels, NineChannelsGridPageTwoShowsOnlyChannelEight) {
    constexpr int kChannels = 9;
    EXPECT_EQ(firstChannelOfPage(2, 2, 2), 8);
    EXPECT_EQ(channelForTile(2, 2, 2, 0, kChannels), 8);
    for (int tile = 1; tile < 4; ++tile) {
        EXPECT_EQ(channelForTile(2, 2, 2, tile, kChannels), std::nullopt) << tile;
    }
    for (int tile = 0; tile < 4; ++tile) {
        EXPECT_EQ(channelForTile(1, 2, 2, tile, kChannels), 4 + tile) << tile;
    }
    EXPECT_EQ(channelForTile(6, 1, 1, 0, kChannels), 6);
}

struct LinksCase {
    int pageIndex;
    int pages;
    std::array<PageLink, 3> links;
};

void PrintTo(const LinksCase& c, std::ostream* out) {
    *out << "page index " << c.pageIndex << " of " << c.pages;
}

class PageLinks : public testing::TestWithParam<LinksCase> {};

TEST_P(PageLinks, CurrentPageRedNeighboursBlue) {
    EXPECT_EQ(pageLinks(GetParam().pageIndex, GetParam().pages), GetParam().links);
}

constexpr Rgb kRed = kCurrentPageColour;
constexpr Rgb kBlue = kOtherPageColour;

INSTANTIATE_TEST_SUITE_P(
    Cases, PageLinks,
    testing::Values(
        LinksCase{2, 3, {{{"2", kBlue, true}, {"3", kRed, true}, {"4", kBlue, false}}}},
        LinksCase{0, 3, {{{"1", kRed, true}, {"2", kBlue, true}, {"3", kBlue, true}}}},
        LinksCase{0, 2, {{{"1", kRed, true}, {"2", kBlue, true}, {"3", kBlue, false}}}},
        // No channels, no pages: the first link still reads "1".
        LinksCase{0, 0, {{{"1", kRed, true}, {"2", kBlue, false}, {"3", kBlue, false}}}},
        LinksCase{6, 9, {{{"6", kBlue, true}, {"7", kRed, true}, {"8", kBlue, true}}}},
        LinksCase{1, 3, {{{"1", kBlue, true}, {"2", kRed, true}, {"3", kBlue, true}}}}));

TEST(PageList, ListsEveryPage) {
    EXPECT_EQ(pageListItems(3), (std::vector<std::string>{"Page 1", "Page 2", "Page 3"}));
    EXPECT_TRUE(pageListItems(0).empty());
}

struct GeometryCase {
    const char* name;
    int width;
    int height;
    std::optional<int> ptzButtonHeight;
    int rows;
    int cols;
    TileGeometry geometry;
    std::vector<Rect> tiles;  // row-major
    int contentHeight;
};

void PrintTo(const GeometryCase& c, std::ostream* out) {
    *out << c.name;
}

class TileLayout : public testing::TestWithParam<GeometryCase> {};

TEST_P(TileLayout, SizesAndPlacesEveryTile) {
    const GeometryCase& c = GetParam();
    const TileGeometry geometry = tileGeometry(
        c.width, c.height, availableTileHeight(c.height, c.ptzButtonHeight), c.rows, c.cols);
    EXPECT_EQ(geometry, c.geometry);
    for (int row = 0; row < c.rows; ++row) {
        for (int column = 0; column < c.cols; ++column) {
            EXPECT_EQ(tileRect(geometry, row, column),
                      c.tiles[static_cast<std::size_t>(row * c.cols + column)])
                << row << "," << column;
        }
    }
    EXPECT_EQ(pageContentHeight(geometry, c.rows, c.ptzButtonHeight), c.contentHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TileLayout,
    testing::Values(
        // u = 120 − 15, t = 78 + 15, A = 228, g = (228 − 186) ÷ 3.
        GeometryCase{"PortraitGrid",
                     240,
                     268,
                     std::nullopt,
                     2,
                     2,
                     {105, 93, 5, 14},
                     {{5, 54, 105, 93}, {115, 54, 105, 93}, {5, 161, 105, 93}, {115, 161, 105, 93}},
                     268},
        // A = 268 − 40 − 20 − 10; u = 240 − 10, t = 172 + 15: ends 6 pixels above the buttons.
        GeometryCase{"PortraitSingleWithPtz",
                     240,
                     268,
                     20,
                     1,
                     1,
                     {230, 187, 5, 5},
                     {{5, 45, 230, 187}},
                     267},
        // A = 200, t = 100 − 15, u = 113, r = (320 − 226) ÷ 3.
        GeometryCase{
            "LandscapeGrid",
            320,
            240,
            std::nullopt,
            2,
            2,
            {113, 85, 31, 5},
            {{31, 45, 113, 85}, {175, 45, 113, 85}, {31, 135, 113, 85}, {175, 135, 113, 85}},
            225},
        // A maximised window: A = 910, t = 455 − 15, u = 586.
        GeometryCase{
            "LargeLandscapeGrid",
            1200,
            950,
            std::nullopt,
            2,
            2,
            {586, 440, 9, 5},
            {{9, 45, 586, 440}, {604, 45, 586, 440}, {9, 490, 586, 440}, {604, 490, 586, 440}},
            935},
        // Fitted to the height, two tiles of 553 would pass the width: fitted to the width,
        // (1000 − 15) ÷ 2 = 492 wide, 369 + 15 high, centred in the height.
        GeometryCase{
            "NearlySquareGridFitsTheWidth",
            1000,
            900,
            std::nullopt,
            2,
            2,
            {492, 384, 5, 30},
            {{5, 70, 492, 384}, {502, 70, 492, 384}, {5, 484, 492, 384}, {502, 484, 492, 384}},
            898},
        // Fitted to the width the picture would cover the buttons: A = 230, picture
        // 205 high, 273 wide.
        GeometryCase{"PortraitSingleAboveTallButtons",
                     300,
                     310,
                     30,
                     1,
                     1,
                     {273, 219, 13, 5},
                     {{13, 45, 273, 219}},
                     309},
        // No room for pictures at all: title bars only, and content below the page.
        GeometryCase{"TooLowForPictures",
                     320,
                     50,
                     std::nullopt,
                     2,
                     2,
                     {0, 15, 106, 5},
                     {{106, 45, 0, 15}, {212, 45, 0, 15}, {106, 65, 0, 15}, {212, 65, 0, 15}},
                     85},
        GeometryCase{"NoGrid", 240, 268, std::nullopt, 0, 0, {}, {}, 40}),
    [](const testing::TestParamInfo<GeometryCase>& param) { return param.param.name; });

TEST(TileLayout, PtzButtonsTakeTheirHeightAndTenPixelsFromTheTiles) {
    EXPECT_EQ(availableTileHeight(268, std::nullopt), 228);
    EXPECT_EQ(availableTileHeight(268, 30), 188);
}

TEST(PtzButtons, OneRowTenPixelsAboveTheBottom) {
    // w = (240 − 70) ÷ 6 = 28, y = 268 − 20 − 10.
    const std::array<Rect, 6> rects = ptzButtonRects(240, 268, 20);
    for (std::size_t k = 0; k < rects.size(); ++k) {
        EXPECT_EQ(rects[k], (Rect{10 + static_cast<int>(k) * 38, 238, 28, 20})) << k;
    }
}

TEST(VideoTap, NineChannelsSingleViewOnChannelSixAndBack) {
    constexpr int kChannels = 9;
    const std::optional<PageView> single = viewAfterTap(false, 6, 2);
    ASSERT_TRUE(single);
    EXPECT_EQ(*single, (PageView{1, 1, 6, true}));
    const std::vector<std::string> items =
        pageListItems(pageCount(kChannels, single->rows, single->cols));
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[static_cast<std::size_t>(single->pageIndex)], "Page 7");

    EXPECT_EQ(viewAfterTap(true, 6, 2), (PageView{2, 2, 1, false}));
}

TEST(VideoTap, ATileWithoutChannelIsIgnored) {
    EXPECT_EQ(viewAfterTap(false, -1, 2), std::nullopt);
    EXPECT_EQ(viewAfterTap(true, -1, 3), std::nullopt);
}

TEST(LargerGrids, PagingLinksAndTapBackFollowTheGrid) {
    struct Case {
        int columns;
        int channels;
        int pages;
        int lastPageTilesWithChannel;
        int tappedChannel;  // back from its single view to this grid page
        int gridPageOfTapped;
    };
    for (const Case& c : {
             Case{3, 9, 1, 9, 8, 0},
             Case{3, 20, 3, 2, 9, 1},
             Case{4, 16, 1, 16, 15, 0},
             Case{4, 40, 3, 8, 33, 2},
             Case{4, 1, 1, 1, 0, 0},
         }) {
        SCOPED_TRACE(testing::Message() << c.columns << " columns, " << c.channels << " channels");
        const int pages = pageCount(c.channels, c.columns, c.columns);
        EXPECT_EQ(pages, c.pages);
        EXPECT_EQ(pageListItems(pages).size(), static_cast<std::size_t>(c.pages));
        const int last = pages - 1;
        int withChannel = 0;
        for (int tile = 0; tile < c.columns * c.columns; ++tile) {
            const std::optional<int> channel =
                channelForTile(last, c.columns, c.columns, tile, c.channels);
            if (channel) {
                EXPECT_EQ(*channel, last * c.columns * c.columns + tile);
                ++withChannel;
            }
        }
        EXPECT_EQ(withChannel, c.lastPageTilesWithChannel);
        EXPECT_EQ(pageLinks(last, pages)[2].visible, last == 0 && pages >= 3);
        EXPECT_EQ(viewAfterTap(false, c.tappedChannel, c.columns),
                  (PageView{1, 1, c.tappedChannel, true}));
        EXPECT_EQ(viewAfterTap(true, c.tappedChannel, c.columns),
                  (PageView{c.columns, c.columns, c.gridPageOfTapped, false}));
    }
}

}  // namespace
}  // namespace krt
