#pragma once

#include <array>
#include <string>

#include "common/video_channel.h"
#include "video/video_layout.h"

namespace krt {

// The link row at the top of the Videos page: three 30 × 40 links and the page list, spread
// over the width with equal gaps.
struct TopRowLayout {
    std::array<Rect, 3> links;
    Rect comboBox;

    bool operator==(const TopRowLayout&) const = default;
};
TopRowLayout topRowLayout(int pageWidth, int comboWidth, int comboHeight);

// What a relayout depends on: the tiles are filled anew when the grid or the page changed,
// and only re-fitted when the page's size alone changed; a scroll alone moves nothing.
struct LayoutKey {
    int rows = 0;
    int cols = 0;
    int pageIndex = 0;

    bool operator==(const LayoutKey&) const = default;
};

}  // namespace krt
