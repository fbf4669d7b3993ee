#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krt {

// What a window of the client showed, to be shown again at the next start.
struct WindowView {
    std::string layout;     // a named layout or "All cameras"
    int page = 0;           // of "All cameras"
    std::string channelId;  // the camera of the single view; empty in the grid or layout
    bool fullScreen = false;
    int screen = 0;
    std::string geometry;  // the window system's own text for the window's place and size
    std::string server{};  // of the single view's camera; empty: the first server

    bool operator==(const WindowView&) const = default;
};

// The main window and the layouts opened in windows of their own.
struct ViewState {
    WindowView main;
    std::vector<WindowView> extraWindows;

    bool operator==(const ViewState&) const = default;
};

// What the command line asks the client to show once logged in; with none of it, the view
// of the last exit comes back.
struct StartRequest {
    std::optional<std::string> layout;
    bool fullScreen = false;
    std::optional<int> screen;
    std::optional<std::string> tour;
    bool alarmMonitor = false;  // full screen, on `screen` when given

    bool any() const { return layout || fullScreen || screen || tour || alarmMonitor; }
};

std::string viewStateText(const ViewState& state);
// Nothing for a text that is not a saved view: the client then starts as it always has.
std::optional<ViewState> parseViewState(std::string_view text);

// The screen asked for, or the first when there is no such screen.
int chosenScreen(int requested, int screenCount);

}  // namespace krt
