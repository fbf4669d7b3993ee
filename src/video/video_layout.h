#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "media/geometry.h"

namespace krt {

struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;

    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kCurrentPageColour{255, 0, 0};
inline constexpr Rgb kOtherPageColour{0, 0, 255};

// Page arithmetic of the Videos page: rows × cols tiles per page, row-major.
int pageCount(int channelCount, int rows, int cols);
int firstChannelOfPage(int pageIndex, int rows, int cols);
// The catalogue index that tile k shows, nothing past the end of the catalogue.
std::optional<int> channelForTile(int pageIndex, int rows, int cols, int tile, int channelCount);

// Height left for the tiles below the link row: down to the bottom of the page, or down to
// the top of the PTZ buttons when buttons of that height are shown.
int availableTileHeight(int clientHeight, std::optional<int> ptzButtonHeight);

// Size of every tile (with its 15-pixel title bar) and the gaps between them.
struct TileGeometry {
    int tileWidth = 0;
    int tileHeight = 0;
    int gapX = 0;
    int gapY = 0;

    bool operator==(const TileGeometry&) const = default;
};
// Portrait (height > width) fits the tiles to the width, landscape to the available height.
// Tiles that would then reach past the other side (below the available height, or past the
// width) are made smaller so that the grid fits both ways, centred, with at least 5 pixels
// around every tile and a picture area of 4:3 below each title bar.
TileGeometry tileGeometry(int clientWidth, int clientHeight, int availableHeight, int rows,
                          int cols);
// Where the tile of that row and column goes; the first row starts below the 40-pixel link row.
Rect tileRect(const TileGeometry& geometry, int row, int column);

// The height the page's content needs: the link row, the rows of tiles with their gaps and,
// when shown, the PTZ buttons below them. The page shows its scroll bar only when this is
// more than its own height.
int pageContentHeight(const TileGeometry& geometry, int rows, std::optional<int> ptzButtonHeight);

// One of the three page-number links.
struct PageLink {
    std::string text;
    Rgb colour;
    bool visible = false;

    bool operator==(const PageLink&) const = default;
};
// The current page in red with its neighbours in blue; links past the last page are hidden.
std::array<PageLink, 3> pageLinks(int pageIndex, int pageCount);
// The items of the page list: "Page 1" ... "Page N".
std::vector<std::string> pageListItems(int pageCount);

// The six PTZ buttons in one row 10 pixels above the bottom of the page.
std::array<Rect, 6> ptzButtonRects(int clientWidth, int clientHeight, int buttonHeight);

// What tapping a tile does to the page: the single view of the tapped channel, or back from
// it to the page of the grid (gridColumns × gridColumns) that holds the channel.
struct PageView {
    int rows = 0;
    int cols = 0;
    int pageIndex = 0;
    bool singleView = false;

    bool operator==(const PageView&) const = default;
};
// Nothing for a tile that shows no channel (catalogue index -1): the tap is ignored.
std::optional<PageView> viewAfterTap(bool singleView, int channelIndex, int gridColumns);

// The height of the row of page links above the tiles; in full screen that row is hidden and
// the tiles take its room.
inline constexpr int kPageLinkRowHeight = 40;

}  // namespace krt
