#include "alarms/alarm_monitor_policy.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <ranges>
#include <utility>

namespace krt {
namespace {

using namespace monitor_event;
using Cells = std::vector<std::optional<MonitorCell>>;

bool sameCamera(const CameraRef& a, const CameraRef& b) {
    return a.channel == b.channel && sameServerName(a.server, b.server);
}

const MonitorRule* ruleFor(std::span<const MonitorRule> rules, const AlarmEvent& alarm) {
    const auto matches = [&](const MonitorRule& rule) {
        return (!rule.camera || sameCamera(*rule.camera, alarm.camera())) &&
               (!rule.alarmName || *rule.alarmName == alarm.alarmName);
    };
    const auto found = std::ranges::find_if(rules, matches);
    return found == rules.end() ? nullptr : &*found;
}

bool takesCell(std::span<const MonitorRule> rules, const AlarmEvent& alarm) {
    const MonitorRule* rule = ruleFor(rules, alarm);
    return rule == nullptr || rule->cell == MonitorRule::Cell::taken;
}

std::chrono::seconds holdFor(std::span<const MonitorRule> rules, const AlarmEvent& alarm) {
    const MonitorRule* rule = ruleFor(rules, alarm);
    return rule == nullptr ? kDefaultMonitorHold : rule->hold;
}

std::optional<int> cellShowing(const Cells& cells, const CameraRef& camera) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i] && sameCamera(cells[i]->camera(), camera)) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

void release(MonitorState& state, int cell, CellReleased::Reason reason,
             std::vector<MonitorEvent>& events) {
    events.emplace_back(CellReleased{cell, state.cells[cell]->camera(), reason});
    state.cells[cell].reset();
}

void applyAction(MonitorState& state, const OperatorAction& action,
                 std::vector<MonitorEvent>& events) {
    using Kind = OperatorAction::Kind;
    if (action.kind == Kind::clearMore) {
        if (!state.unshown.empty()) {
            state.unshown.clear();
            events.emplace_back(MoreAlarms{});
        }
        return;
    }
    if (action.cell < 0 || action.cell >= static_cast<int>(state.cells.size()) ||
        !state.cells[action.cell]) {
        return;  // the cell changed before the operator's action reached us
    }
    MonitorCell& cell = *state.cells[action.cell];
    switch (action.kind) {
        case Kind::pin:
            cell.pinned = true;
            break;
        case Kind::unpin:
            cell.pinned = false;
            break;
        case Kind::review:
            events.emplace_back(ReviewAsked{cell.alarm});
            break;
        case Kind::dismiss:
            release(state, action.cell, CellReleased::Reason::dismissed, events);
            break;
        case Kind::clearMore:
            break;
    }
}

void releaseHoldsOver(MonitorState& state, MonitorClock::time_point now,
                      std::vector<MonitorEvent>& events) {
    for (std::size_t i = 0; i < state.cells.size(); ++i) {
        const auto& cell = state.cells[i];
        if (cell && !cell->pinned && cell->heldUntil <= now) {
            release(state, static_cast<int>(i), CellReleased::Reason::holdOver, events);
        }
    }
}

void showInCell(MonitorCell& cell, const AlarmEvent& alarm, MonitorClock::time_point heldUntil,
                std::uint64_t order) {
    cell.repeats = cell.alarm.alarmName == alarm.alarmName ? cell.repeats + 1 : 0;
    cell.alarm = alarm;
    cell.heldUntil = std::max(cell.heldUntil, heldUntil);
    cell.order = order;
}

// The cells a newcomer may take, best first: the empty ones, then the oldest unpinned ones
// that have not changed in this call.
std::vector<int> cellsToTake(const Cells& cells, const std::vector<bool>& changed) {
    std::vector<int> empty;
    std::vector<int> givingWay;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (!cells[i]) {
            empty.push_back(static_cast<int>(i));
        } else if (!cells[i]->pinned && !changed[i]) {
            givingWay.push_back(static_cast<int>(i));
        }
    }
    std::ranges::sort(givingWay, {}, [&](int i) { return cells[i]->order; });
    empty.insert(empty.end(), givingWay.begin(), givingWay.end());
    return empty;
}

struct Arrival {
    const AlarmEvent* alarm;
    std::uint64_t order;
};

// A camera's alarms of this call, grouped: the cell it takes changes once.
struct CameraArrivals {
    CameraRef camera;
    std::vector<Arrival> alarms;
};

std::vector<CameraArrivals> groupByCamera(std::span<const Arrival> arrivals) {
    std::vector<CameraArrivals> groups;
    for (const Arrival& arrival : arrivals) {
        const CameraRef camera = arrival.alarm->camera();
        const auto found = std::ranges::find_if(
            groups, [&](const CameraArrivals& g) { return sameCamera(g.camera, camera); });
        if (found == groups.end()) {
            groups.push_back({camera, {arrival}});
        } else {
            found->alarms.push_back(arrival);
        }
    }
    // Newest last, by each camera's newest alarm.
    std::ranges::sort(groups, {}, [](const CameraArrivals& g) { return g.alarms.back().order; });
    return groups;
}

class AlarmPlacement {
  public:
    AlarmPlacement(MonitorState& state, std::span<const MonitorRule> rules,
                   MonitorClock::time_point now, std::vector<MonitorEvent>& events)
        : m_state(state),
          m_rules(rules),
          m_now(now),
          m_events(events),
          m_changed(state.cells.size(), false) {}

    void place(std::span<const AlarmEvent> alarms) {
        std::vector<Arrival> arrivals;
        for (const AlarmEvent& alarm : alarms) {
            arrivals.push_back({&alarm, ++m_state.alarmsSeen});
        }
        std::vector<CameraArrivals> newcomers;
        for (CameraArrivals& group : groupByCamera(arrivals)) {
            if (const auto cell = cellShowing(m_state.cells, group.camera)) {
                show(*cell, group.alarms);
                m_events.emplace_back(CellReused{*cell, group.camera});
            } else {
                newcomers.push_back(std::move(group));
            }
        }
        seat(newcomers);
    }

  private:
    MonitorClock::time_point heldUntil(const Arrival& arrival) const {
        return m_now + holdFor(m_rules, *arrival.alarm);
    }

    void show(int cell, std::span<const Arrival> arrivals) {
        for (const Arrival& arrival : arrivals) {
            showInCell(*m_state.cells[cell], *arrival.alarm, heldUntil(arrival), arrival.order);
        }
        m_changed[cell] = true;
    }

    // The newest newcomers take what cells there are; the others are counted as "more".
    void seat(std::span<const CameraArrivals> newcomers) {
        const std::vector<int> free = cellsToTake(m_state.cells, m_changed);
        const std::size_t seated = std::min(free.size(), newcomers.size());
        const std::size_t left = newcomers.size() - seated;
        std::vector<Arrival> unshown;
        for (const CameraArrivals& group : newcomers.first(left)) {
            unshown.insert(unshown.end(), group.alarms.begin(), group.alarms.end());
        }
        std::ranges::sort(unshown, {}, &Arrival::order);
        for (const Arrival& arrival : unshown) {
            m_state.unshown.push_back(*arrival.alarm);
        }
        for (std::size_t i = 0; i < seated; ++i) {
            fill(free[i], newcomers[left + i]);
        }
        if (left > 0) {
            m_events.emplace_back(MoreAlarms{m_state.unshown});
        }
    }

    void fill(int cell, const CameraArrivals& group) {
        if (m_state.cells[cell]) {
            release(m_state, cell, CellReleased::Reason::gaveWay, m_events);
        }
        const Arrival& first = group.alarms.front();
        m_state.cells[cell] =
            MonitorCell{.alarm = *first.alarm, .heldUntil = heldUntil(first), .order = first.order};
        show(cell, std::span(group.alarms).subspan(1));
        m_events.emplace_back(CellFilled{cell, group.camera});
    }

    MonitorState& m_state;
    std::span<const MonitorRule> m_rules;
    MonitorClock::time_point m_now;
    std::vector<MonitorEvent>& m_events;
    std::vector<bool> m_changed;  // a cell changes at most once per call
};

void pulseShownCameras(const MonitorState& state, std::span<const AlarmEvent> alarms,
                       std::vector<MonitorEvent>& events) {
    std::vector<CameraRef> pulsed;
    for (const AlarmEvent& alarm : alarms) {
        const CameraRef camera = alarm.camera();
        const bool already =
            std::ranges::any_of(pulsed, [&](const CameraRef& c) { return sameCamera(c, camera); });
        if (!already && cellShowing(state.cells, camera)) {
            events.emplace_back(PulseCamera{camera});
            pulsed.push_back(camera);
        }
    }
}

void followTour(MonitorState& state, bool touring, std::vector<MonitorEvent>& events) {
    const bool anyHeld =
        std::ranges::any_of(state.cells, [](const auto& c) { return c.has_value(); });
    if (touring && anyHeld && !state.tourPaused) {
        events.emplace_back(PauseTour{});
        state.tourPaused = true;
    } else if (state.tourPaused && (!anyHeld || !touring)) {
        if (touring) {
            events.emplace_back(ResumeTour{});
        }
        state.tourPaused = false;
    }
}

bool operatorBusy(const MonitorInput& input, MonitorClock::time_point now) {
    return input.lastOperatorUse && now < *input.lastOperatorUse + kOperatorBusy;
}

}  // namespace

MonitorState emptyMonitor(int cellCount) {
    MonitorState state;
    state.cells.resize(static_cast<std::size_t>(std::max(cellCount, 0)));
    return state;
}

MonitorStep nextMonitorState(const MonitorState& state, const MonitorInput& input,
                             std::span<const MonitorRule> rules, MonitorClock::time_point now) {
    MonitorStep step{state, {}};
    MonitorState& next = step.state;
    for (const OperatorAction& action : input.actions) {
        applyAction(next, action, step.events);
    }
    std::vector<AlarmEvent> admitted;
    std::ranges::copy_if(input.alarms, std::back_inserter(admitted),
                         [&](const AlarmEvent& alarm) { return takesCell(rules, alarm); });
    if (operatorBusy(input, now)) {
        pulseShownCameras(next, admitted, step.events);
        next.pending.insert(next.pending.end(), admitted.begin(), admitted.end());
    } else {
        releaseHoldsOver(next, now, step.events);
        admitted.insert(admitted.begin(), next.pending.begin(), next.pending.end());
        next.pending.clear();
        AlarmPlacement(next, rules, now, step.events).place(admitted);
    }
    followTour(next, input.touring, step.events);
    return step;
}

}  // namespace krt
