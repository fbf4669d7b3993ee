#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace krt {

// Why a PTZ move has to end. A camera left turning is the fault this guards against: every
// way the operator can lose hold of the button or key ends the move.
enum class PtzStopTrigger {
    Released,          // the button or key came up, wherever the pointer was
    FocusLost,         // the window lost the keyboard focus
    Minimised,         // the window (or the page) was hidden or minimised
    TabChanged,        // another tab of the main window was chosen
    PageChanged,       // another page or channel was shown
    GridChanged,       // the grid size changed
    SingleViewClosed,  // back from the single view to the grid
    Reconnected,       // the PTZ connection came back after it was lost
    MoveTimedOut,      // held longer than any operator would without a release
};

std::string_view ptzStopTriggerName(PtzStopTrigger trigger);

// Whether a PTZ move is under way, and which commands keep it safe. Window-free: the page
// sends the codes it returns.
class PtzMoveGuard {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDefaultMoveLimit{30'000};

    explicit PtzMoveGuard(std::chrono::milliseconds moveLimit = kDefaultMoveLimit)
        : m_moveLimit(moveLimit) {}

    // A press starts (or changes) a move: send its press code.
    int press(int pressCode, Clock::time_point now);
    // A release always sends the stop, as the buttons always have, moving or not.
    int release();
    // Any other trigger sends the stop only while a move is in progress.
    std::optional<int> stopFor(PtzStopTrigger trigger);
    // The stop once the move has lasted the limit without a release.
    std::optional<int> tick(Clock::time_point now);

    bool moving() const { return m_moveStart.has_value(); }

  private:
    std::chrono::milliseconds m_moveLimit;
    std::optional<Clock::time_point> m_moveStart;
};

}  // namespace krt
