#pragma once

#include <optional>
#include <string_view>

#include "control/ptz_sender.h"

namespace krt {

// The keys the Videos page answers, whatever the window system calls them.
enum class VideoKey {
    PageUp,
    PageDown,
    Enter,
    Space,
    Left,
    Right,
    Up,
    Down,
    Plus,
    Minus,
    Home,
    Help,
    FullScreen,
    Escape,
    Snapshot,   // S
    Record,     // R
    ZoomIn,     // Ctrl and +: plain + zooms a PTZ camera
    ZoomOut,    // Ctrl and -
    ZoomReset,  // Ctrl and 0
};

enum class VideoKeyAction {
    None,
    PreviousPage,
    NextPage,
    ToggleSingleView,  // on the tile with the keyboard focus
    MoveFocus,         // by (dx, dy) tiles in the grid
    PtzMove,           // press of a PTZ button while held, its release when the key comes up
    BackToGrid,
    ShowShortcuts,
    ToggleFullScreen,
    LeaveFullScreen,
    // On the tile the keys act on: the single view's, or the framed one of the grid.
    SaveSnapshot,
    ToggleRecording,
    ZoomIn,
    ZoomOut,
    ResetZoom,
};

// What the page shows when the key is pressed.
struct VideoKeyContext {
    bool singleView = false;
    bool ptzView = false;  // the single view of a camera that moves
    bool fullScreen = false;
};

struct VideoKeyOutcome {
    VideoKeyAction action = VideoKeyAction::None;
    int dx = 0;
    int dy = 0;
    std::optional<PtzButton> ptzButton;

    bool operator==(const VideoKeyOutcome&) const = default;
};

// What a key press does. Escape does something only in full screen: it never closes the window.
VideoKeyOutcome actionForKey(VideoKey key, const VideoKeyContext& context);

// The tile that gets the keyboard focus after a move by (dx, dy), kept inside the grid.
int movedTileFocus(int focusedTile, int dx, int dy, int rows, int cols);

// The page after a step back (-1) or forward (+1); nothing past the first or last page.
std::optional<int> steppedPage(int pageIndex, int step, int pageCount);

// The list that "?" and F1 show.
std::string_view videoShortcutsText();

}  // namespace krt
