#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "alarms/alarm_event.h"
#include "common/camera_ref.h"

namespace krt {

// The alarm monitor: a window of N cells that puts an alarmed camera live in front of the
// operator. Everything it decides is nextMonitorState(); the window only shows the cells and
// carries out the events.
using MonitorClock = std::chrono::steady_clock;

inline constexpr std::chrono::seconds kDefaultMonitorHold{30};
// An operator who used the window (key, click, wheel) this recently is busy: the cells stay.
inline constexpr std::chrono::seconds kOperatorBusy{20};

// Which alarms may take a cell, and for how long. The first rule that matches an alarm decides;
// an alarm no rule matches takes a cell for kDefaultMonitorHold.
struct MonitorRule {
    std::optional<CameraRef> camera;       // none: every camera
    std::optional<std::string> alarmName;  // none: every alarm
    enum class Cell { taken, refused };
    Cell cell = Cell::taken;
    std::chrono::seconds hold = kDefaultMonitorHold;
};

struct MonitorCell {
    AlarmEvent alarm;  // the newest alarm of the camera: its name and time are what the cell says
    MonitorClock::time_point heldUntil;
    bool pinned = false;      // a pinned cell neither ends with its hold nor gives way
    int repeats = 0;          // how often the alarm it says came again while held
    std::uint64_t order = 0;  // when its newest alarm came, among all the monitor's alarms

    CameraRef camera() const { return alarm.camera(); }
    bool operator==(const MonitorCell&) const = default;
};

// Everything the monitor knows, changed only by nextMonitorState().
struct MonitorState {
    std::vector<std::optional<MonitorCell>> cells;  // N of them, empty or holding a camera
    std::vector<AlarmEvent> pending;  // came while the operator was busy, applied when idle
    std::vector<AlarmEvent> unshown;  // found every cell pinned or taken by newer ones: "more"
    bool tourPaused = false;          // by the monitor, for its cells
    std::uint64_t alarmsSeen = 0;

    bool operator==(const MonitorState&) const = default;
};

MonitorState emptyMonitor(int cellCount);

struct OperatorAction {
    enum class Kind {
        pin,
        unpin,
        dismiss,    // frees the cell
        review,     // asks for the review of the cell's alarm
        clearMore,  // the operator has seen the alarms counted as "more"
    };
    Kind kind;
    int cell = 0;  // not for clearMore
};

// What happened since the last call. The spans need to live only for the call.
struct MonitorInput {
    std::span<const AlarmEvent> alarms;  // in the order they came
    std::span<const OperatorAction> actions;
    std::optional<MonitorClock::time_point> lastOperatorUse;
    bool touring = false;  // the window has a tour, running or paused by the monitor
};

// What the window is to do.
namespace monitor_event {
struct CellFilled {
    int cell;
    CameraRef camera;
    bool operator==(const CellFilled&) const = default;
};
struct CellReused {  // its hold extended, its text now the newest alarm's
    int cell;
    CameraRef camera;
    bool operator==(const CellReused&) const = default;
};
struct CellReleased {
    enum class Reason { holdOver, dismissed, gaveWay };
    int cell;
    CameraRef camera;
    Reason reason;
    bool operator==(const CellReleased&) const = default;
};
struct PulseCamera {  // its alarm waits for the busy operator: the tile showing it pulses
    CameraRef camera;
    bool operator==(const PulseCamera&) const = default;
};
struct PauseTour {
    bool operator==(const PauseTour&) const = default;
};
struct ResumeTour {  // at the step it was paused on
    bool operator==(const ResumeTour&) const = default;
};
struct MoreAlarms {  // "+N more": every alarm not shown since the operator last cleared them
    std::vector<AlarmEvent> alarms;
    bool operator==(const MoreAlarms&) const = default;
};
struct ReviewAsked {
    AlarmEvent alarm;
    bool operator==(const ReviewAsked&) const = default;
};
}  // namespace monitor_event

using MonitorEvent =
    std::variant<monitor_event::CellFilled, monitor_event::CellReused, monitor_event::CellReleased,
                 monitor_event::PulseCamera, monitor_event::PauseTour, monitor_event::ResumeTour,
                 monitor_event::MoreAlarms, monitor_event::ReviewAsked>;

struct MonitorStep {
    MonitorState state;
    std::vector<MonitorEvent> events;  // in the order the window carries them out
};

// One call: the operator's actions first, then the ends of holds and the alarms, unless the
// operator is busy, when the cells stay as they are (but for the operator's own actions) and
// the alarms wait. A cell takes at most one new camera per call, so a burst never flickers:
// the newest alarms' cameras are shown and the rest counted as "more".
MonitorStep nextMonitorState(const MonitorState& state, const MonitorInput& input,
                             std::span<const MonitorRule> rules, MonitorClock::time_point now);

}  // namespace krt
