#pragma once

#include <array>
#include <string>

#include "common/video_channel.h"
#include "video/video_layout.h"

namespace krt {

// The two names of a tile's title bar: the ChannelID alone for the grid, "ID - Description"
// for the single view. Both empty without a channel.
struct TitleTexts {
    std::string shortText;
    std::string longText;

    bool operator==(const TitleTexts&) const = default;
};
TitleTexts titleTexts(const VideoChannel* channel);

// The link row at the top of the Videos page: three 30 × 40 links and the page list, spread
// over the width with equal gaps.
struct TopRowLayout {
    std::array<Rect, 3> links;
    Rect comboBox;

    bool operator==(const TopRowLayout&) const = default;
};
TopRowLayout topRowLayout(int pageWidth, int comboWidth, int comboHeight);

// The height of the scrollable content the page sets whenever its size changes.
int scrollHeightOnResize(int clientWidth, int rows, int cols);
// The height of the scrollable content the page sets up when it opens; without a grid the
// height kept so far.
int initialScrollHeight(int clientWidth, int rows, int cols, int keptScrollHeight);
// The scroll bar is needed only when the content with 8 pixels to spare is not shorter than
// the page.
bool initialScrollBarNeeded(int scrollHeight, int clientHeight);

// What a relayout depends on: nothing moves unless the grid or the page changed.
struct LayoutKey {
    int rows = 0;
    int cols = 0;
    int pageIndex = 0;

    bool operator==(const LayoutKey&) const = default;
};

}  // namespace krt
