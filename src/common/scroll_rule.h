#pragma once

namespace krt {

// The scroll rule that the event list and the Videos page share.

// A vertical scroll bar: range 0 to `maximum`, thumb `page` long.
struct ScrollRange {
    int maximum = 0;
    int page = 0;
    bool operator==(const ScrollRange&) const = default;
};
// The largest position the scroll bar allows.
int scrollLimit(const ScrollRange& range);

enum class ScrollAction {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbPosition,
    ThumbTrack,
    Top,
    Bottom,
    EndScroll,
};
// The position after a scroll action from `position`, with the client height as the page
// step and `trackPosition` where the thumb has been dragged to.
int scrolledPosition(ScrollAction action, int position, int clientHeight, int limit,
                     int trackPosition);

}  // namespace krt
