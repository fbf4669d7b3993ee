#include "control/video_keys.h"

#include <algorithm>

namespace krt {
namespace {

std::optional<PtzButton> ptzButtonForKey(VideoKey key) {
    switch (key) {
        case VideoKey::Left:
            return PtzButton::Left;
        case VideoKey::Right:
            return PtzButton::Right;
        case VideoKey::Up:
            return PtzButton::Up;
        case VideoKey::Down:
            return PtzButton::Down;
        case VideoKey::Plus:
            return PtzButton::ZoomIn;
        case VideoKey::Minus:
            return PtzButton::ZoomOut;
        default:
            return std::nullopt;
    }
}

VideoKeyOutcome focusMove(int dx, int dy) {
    return {VideoKeyAction::MoveFocus, dx, dy, std::nullopt};
}

VideoKeyOutcome only(VideoKeyAction action) {
    return {action, 0, 0, std::nullopt};
}

}  // namespace

VideoKeyOutcome actionForKey(VideoKey key, const VideoKeyContext& context) {
    if (context.ptzView) {
        if (const std::optional<PtzButton> button = ptzButtonForKey(key)) {
            return {VideoKeyAction::PtzMove, 0, 0, button};
        }
    }
    switch (key) {
        case VideoKey::PageUp:
            return only(VideoKeyAction::PreviousPage);
        case VideoKey::PageDown:
            return only(VideoKeyAction::NextPage);
        case VideoKey::Enter:
        case VideoKey::Space:
            return only(VideoKeyAction::ToggleSingleView);
        case VideoKey::Left:
            return context.singleView ? only(VideoKeyAction::None) : focusMove(-1, 0);
        case VideoKey::Right:
            return context.singleView ? only(VideoKeyAction::None) : focusMove(1, 0);
        case VideoKey::Up:
            return context.singleView ? only(VideoKeyAction::None) : focusMove(0, -1);
        case VideoKey::Down:
            return context.singleView ? only(VideoKeyAction::None) : focusMove(0, 1);
        case VideoKey::Home:
            return context.singleView ? only(VideoKeyAction::BackToGrid)
                                      : only(VideoKeyAction::None);
        case VideoKey::Help:
            return only(VideoKeyAction::ShowShortcuts);
        case VideoKey::FullScreen:
            return only(VideoKeyAction::ToggleFullScreen);
        case VideoKey::Escape:
            return context.fullScreen ? only(VideoKeyAction::LeaveFullScreen)
                                      : only(VideoKeyAction::None);
        case VideoKey::Plus:
        case VideoKey::Minus:
            return only(VideoKeyAction::None);
        case VideoKey::Snapshot:
            return only(VideoKeyAction::SaveSnapshot);
        case VideoKey::Record:
            return only(VideoKeyAction::ToggleRecording);
        case VideoKey::ZoomIn:
            return only(VideoKeyAction::ZoomIn);
        case VideoKey::ZoomOut:
            return only(VideoKeyAction::ZoomOut);
        case VideoKey::ZoomReset:
            return only(VideoKeyAction::ResetZoom);
    }
    return only(VideoKeyAction::None);
}

int movedTileFocus(int focusedTile, int dx, int dy, int rows, int cols) {
    if (rows <= 0 || cols <= 0) {
        return 0;
    }
    const int row = std::clamp(focusedTile / cols + dy, 0, rows - 1);
    const int column = std::clamp(focusedTile % cols + dx, 0, cols - 1);
    return row * cols + column;
}

std::optional<int> steppedPage(int pageIndex, int step, int pageCount) {
    const int page = pageIndex + step;
    if (page < 0 || page >= pageCount || page == pageIndex) {
        return std::nullopt;
    }
    return page;
}

std::string_view videoShortcutsText() {
    return "F11 or double-click\tFull screen on or off\n"
           "Escape\tLeave full screen\n"
           "Page Up / Page Down\tPrevious / next page\n"
           "Arrow keys\tMove the focus frame between tiles\n"
           "Enter or Space\tSingle view of the framed tile, and back\n"
           "Home\tBack to the grid\n"
           "Arrow keys, + and - (held)\tMove a PTZ camera in its single view\n"
           "S\tSave a snapshot of the picture (and copy it)\n"
           "R\tRecord the picture, or stop recording\n"
           "Ctrl and + / - or the wheel\tZoom the picture in / out; drag to move it\n"
           "Ctrl and 0\tThe whole picture again\n"
           "Alt+1 ... Alt+9\tThe named layouts; Alt+0: All cameras\n"
           "P or Pause\tHold a running tour, or let it go on\n"
           "? or F1\tThis list";
}

}  // namespace krt
