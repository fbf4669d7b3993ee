#include "video/video_layout.h"

#include <algorithm>

namespace krt {
namespace {

constexpr int kLinkRowHeight = 40;
constexpr int kTileMargin = 5;
constexpr int kTitleBarHeight = 15;
constexpr int kButtonBottomMargin = 10;

}  // namespace

int pageCount(int channelCount, int rows, int cols) {
    const int perPage = rows * cols;
    if (perPage <= 0 || channelCount <= 0) {
        return 0;
    }
    return channelCount / perPage + (channelCount % perPage != 0 ? 1 : 0);
}

int firstChannelOfPage(int pageIndex, int rows, int cols) {
    return pageIndex * rows * cols;
}

std::optional<int> channelForTile(int pageIndex, int rows, int cols, int tile, int channelCount) {
    const int channel = firstChannelOfPage(pageIndex, rows, cols) + tile;
    if (channel < 0 || channel >= channelCount) {
        return std::nullopt;
    }
    return channel;
}

int availableTileHeight(int clientHeight, std::optional<int> ptzButtonHeight) {
    const int bottom =
        ptzButtonHeight ? clientHeight - *ptzButtonHeight - kButtonBottomMargin : clientHeight;
    return bottom - kLinkRowHeight;
}

namespace {

bool fits(const TileGeometry& geometry, int clientWidth, int availableHeight, int rows, int cols) {
    return geometry.tileWidth >= 0 && geometry.tileHeight >= 0 &&
           cols * geometry.tileWidth + (cols + 1) * kTileMargin <= clientWidth &&
           rows * geometry.tileHeight + (rows + 1) * kTileMargin <= availableHeight;
}

// The largest tiles with a 4:3 picture that fit both ways, the room left spread as gaps.
TileGeometry fitBothWays(int clientWidth, int availableHeight, int rows, int cols) {
    const int widthForPictures = (clientWidth - (cols + 1) * kTileMargin) / cols;
    const int heightForPictures =
        (availableHeight - (rows + 1) * kTileMargin) / rows - kTitleBarHeight;
    const int pictureWidth = std::max(std::min(widthForPictures, 4 * heightForPictures / 3), 0);
    TileGeometry geometry;
    geometry.tileWidth = pictureWidth;
    geometry.tileHeight = 3 * pictureWidth / 4 + kTitleBarHeight;
    geometry.gapX = std::max((clientWidth - cols * geometry.tileWidth) / (cols + 1), kTileMargin);
    geometry.gapY =
        std::max((availableHeight - rows * geometry.tileHeight) / (rows + 1), kTileMargin);
    return geometry;
}

}  // namespace

TileGeometry tileGeometry(int clientWidth, int clientHeight, int availableHeight, int rows,
                          int cols) {
    if (rows <= 0 || cols <= 0) {
        return {};
    }
    TileGeometry geometry;
    if (clientHeight > clientWidth) {
        geometry.tileWidth = clientWidth / cols - kTileMargin * (cols + 1);
        geometry.tileHeight = 3 * geometry.tileWidth / 4 + kTitleBarHeight;
        geometry.gapY = (availableHeight - rows * geometry.tileHeight) / (rows + 1);
        geometry.gapX = kTileMargin;
    } else {
        geometry.tileHeight = availableHeight / rows - kTileMargin * (rows + 1);
        geometry.tileWidth = 4 * geometry.tileHeight / 3;
        geometry.gapX = (clientWidth - cols * geometry.tileWidth) / (cols + 1);
        geometry.gapY = kTileMargin;
    }
    if (!fits(geometry, clientWidth, availableHeight, rows, cols)) {
        return fitBothWays(clientWidth, availableHeight, rows, cols);
    }
    return geometry;
}

Rect tileRect(const TileGeometry& geometry, int row, int column) {
    return {geometry.gapX + column * (geometry.tileWidth + geometry.gapX),
            kLinkRowHeight + geometry.gapY + row * (geometry.tileHeight + geometry.gapY),
            geometry.tileWidth, geometry.tileHeight};
}

int pageContentHeight(const TileGeometry& geometry, int rows, std::optional<int> ptzButtonHeight) {
    const int tiles = std::max(rows, 0) * (geometry.tileHeight + geometry.gapY) + geometry.gapY;
    return kLinkRowHeight + tiles + (ptzButtonHeight ? *ptzButtonHeight + kButtonBottomMargin : 0);
}

std::array<PageLink, 3> pageLinks(int pageIndex, int pageCount) {
    const auto link = [](int number, Rgb colour, bool visible) {
        return PageLink{std::to_string(number), colour, visible};
    };
    if (pageIndex <= 0) {
        return {link(1, kCurrentPageColour, true), link(2, kOtherPageColour, pageCount >= 2),
                link(3, kOtherPageColour, pageCount >= 3)};
    }
    return {link(pageIndex, kOtherPageColour, true), link(pageIndex + 1, kCurrentPageColour, true),
            link(pageIndex + 2, kOtherPageColour, pageCount >= pageIndex + 2)};
}

std::vector<std::string> pageListItems(int pageCount) {
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(std::max(pageCount, 0)));
    for (int page = 1; page <= pageCount; ++page) {
        items.push_back("Page " + std::to_string(page));
    }
    return items;
}

std::array<Rect, 6> ptzButtonRects(int clientWidth, int clientHeight, int buttonHeight) {
    constexpr int kGap = kButtonBottomMargin;
    const int width = (clientWidth - 70) / 6;
    const int y = clientHeight - buttonHeight - kGap;
    std::array<Rect, 6> rects;
    for (int k = 0; k < 6; ++k) {
        rects[static_cast<std::size_t>(k)] = {kGap + k * (width + kGap), y, width, buttonHeight};
    }
    return rects;
}

std::optional<PageView> viewAfterTap(bool singleView, int channelIndex, int gridColumns) {
    if (channelIndex < 0 || gridColumns <= 0) {
        return std::nullopt;
    }
    if (singleView) {
        return PageView{gridColumns, gridColumns, channelIndex / (gridColumns * gridColumns),
                        false};
    }
    return PageView{1, 1, channelIndex, true};
}

}  // namespace krt
