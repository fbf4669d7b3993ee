#include "common/scroll_rule.h"

namespace krt {
namespace {

constexpr int kScrollLine = 100;

}  // namespace

int scrollLimit(const ScrollRange& range) {
    return range.maximum - range.page + 1;
}

int scrolledPosition(ScrollAction action, int position, int clientHeight, int limit,
                     int trackPosition) {
    switch (action) {
        case ScrollAction::LineUp:
            return position - kScrollLine > 0 ? position - kScrollLine : 0;
        case ScrollAction::LineDown:
            return position + kScrollLine >= limit ? limit : position + kScrollLine;
        case ScrollAction::PageUp:
            return position - clientHeight < 1 ? 0 : position - clientHeight;
        case ScrollAction::PageDown:
            return position + clientHeight < limit ? position + clientHeight : limit;
        case ScrollAction::ThumbPosition:
        case ScrollAction::ThumbTrack:
            return trackPosition;
        case ScrollAction::Top:
            return 0;
        case ScrollAction::Bottom:
            return limit;
        case ScrollAction::EndScroll:
            break;
    }
    return position;
}

}  // namespace krt
