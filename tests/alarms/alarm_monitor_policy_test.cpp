#include "alarms/alarm_monitor_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <ranges>
#include <string>
#include <vector>

namespace krt {
namespace {

using namespace std::chrono_literals;
using namespace monitor_event;
using enum OperatorAction::Kind;

std::string cameraText(const CameraRef& camera) {
    return camera.server.empty() ? camera.channel : camera.server + "/" + camera.channel;
}

std::string cellText(const char* what, int cell, const CameraRef& camera) {
    return what + (" " + std::to_string(cell)) + " " + cameraText(camera);
}

struct EventText {
    std::string operator()(const CellFilled& e) const {
        return cellText("filled", e.cell, e.camera);
    }
    std::string operator()(const CellReused& e) const {
        return cellText("reused", e.cell, e.camera);
    }
    std::string operator()(const CellReleased& e) const {
        constexpr const char* kReasons[] = {" hold over", " dismissed", " gave way"};
        return cellText("released", e.cell, e.camera) + kReasons[static_cast<int>(e.reason)];
    }
    std::string operator()(const PulseCamera& e) const { return "pulse " + cameraText(e.camera); }
    std::string operator()(const PauseTour&) const { return "pause tour"; }
    std::string operator()(const ResumeTour&) const { return "resume tour"; }
    std::string operator()(const MoreAlarms& e) const {  // the count, the first and last camera
        const auto& a = e.alarms;
        return "more " + std::to_string(a.size()) +
               (a.empty() ? "" : " " + a.front().channelId + "-" + a.back().channelId);
    }
    std::string operator()(const ReviewAsked& e) const {
        return "review " + e.alarm.channelId + " " + e.alarm.alarmName;
    }
};

std::string eventsText(std::span<const MonitorEvent> events) {
    std::string all;
    for (const MonitorEvent& event : events) {
        all += (all.empty() ? "" : ", ") + std::visit(EventText{}, event);
    }
    return all;
}

std::string cellsText(const MonitorState& state) {
    std::string all;
    for (const auto& cell : state.cells) {
        all += all.empty() ? "" : " | ";
        all += !cell ? "-"
                     : cameraText(cell->camera()) + " " + cell->alarm.alarmName +
                           (cell->repeats ? " x" + std::to_string(cell->repeats) : "") +
                           (cell->pinned ? " pinned" : "");
    }
    return all;
}

// "B/7 Motion": channel 7 of server B; "7 Motion": channel 7 of the first server.
AlarmEvent scriptedAlarm(std::string_view script) {
    const std::string_view camera = script.substr(0, script.find(' '));
    const std::size_t slash = camera.find('/');
    const bool firstServer = slash == std::string_view::npos;
    AlarmEvent alarm;
    alarm.alarmName = script.substr(camera.size() + 1);
    alarm.channelId = firstServer ? camera : camera.substr(slash + 1);
    alarm.site = firstServer ? "" : camera.substr(0, slash);
    return alarm;
}

struct ScriptedInput {
    std::vector<AlarmEvent> alarms;
    std::vector<OperatorAction> actions;
    MonitorInput input() const { return {alarms, actions, lastOperatorUse, touring}; }
    std::optional<MonitorClock::time_point> lastOperatorUse;
    bool touring = false;
};

// Items apart by ", ": an alarm, "burst 20" (channels 1 to 20), "pin 0", "unpin 0", "dismiss 0",
// "review 0", "clear more", "touring" (the window has a tour) or "used 5" (the operator's last use
// of the window, in seconds).
ScriptedInput scriptedInput(std::string_view script, MonitorClock::time_point start) {
    constexpr std::string_view kActions[] = {"pin", "unpin", "dismiss", "review", "clear"};
    ScriptedInput input;
    for (const auto part : script | std::views::split(std::string_view(", "))) {
        const std::string_view item(part.begin(), part.end());
        const std::string_view word = item.substr(0, item.find(' '));
        const auto number = [&] {
            int n = 0;
            std::from_chars(item.data() + word.size() + 1, item.data() + item.size(), n);
            return n;
        };
        const auto action = std::ranges::find(kActions, word);
        if (word == "touring") {
            input.touring = true;
        } else if (word == "used") {
            input.lastOperatorUse = start + std::chrono::seconds(number());
        } else if (word == "burst") {
            for (int i = 1; i <= number(); ++i) {
                input.alarms.push_back(scriptedAlarm(std::to_string(i) + " Motion"));
            }
        } else if (action != std::end(kActions)) {  // in the order of OperatorAction::Kind
            const auto kind = static_cast<OperatorAction::Kind>(action - std::begin(kActions));
            input.actions.push_back({kind, kind == clearMore ? 0 : number()});
        } else if (!item.empty()) {
            input.alarms.push_back(scriptedAlarm(item));
        }
    }
    return input;
}

struct MonitorScriptStep {
    int at_s;
    std::string_view input;
    const char* cells;
    const char* events;
};

struct MonitorCase {
    const char* name;  // the first step's cells say how many there are
    std::vector<MonitorScriptStep> steps;
};

TEST(AlarmMonitorPolicy, PlacesHoldsAndReleasesAlarmedCamerasAsTheOperatorAllows) {
    const std::vector<MonitorCase> cases = {
        {"hold, repeat, reuse by another alarm, hold over",
         {{0, "1 Motion", "1 Motion | -", "filled 0 1"},
          {10, "1 Motion", "1 Motion x1 | -", "reused 0 1"},
          {20, "1 Door", "1 Door | -", "reused 0 1"},
          {39, "", "1 Door | -", ""},
          {40, "", "- | -", "released 0 1 hold over"}}},
        {"rules refuse a camera and shorten a hold; two servers' channel 1",
         {{0, "42 Motion, 1 Door, B/1 Door, b/1 Motion", "1 Door | b/1 Motion | -",
           "filled 0 1, filled 1 B/1"},
          {5, "", "- | b/1 Motion | -", "released 0 1 hold over"}}},
        {"busy operator: pulse, wait, then apply in order; holds wait too",
         {{0, "1 Motion", "1 Motion | -", "filled 0 1"},
          {10, "1 Door, 2 Motion, 1 Tamper, used 5", "1 Motion | -", "pulse 1"},
          {24, "used 5", "1 Motion | -", ""},
          {25, "used 5, 1 Motion", "1 Motion | 2 Motion", "reused 0 1, filled 1 2"},
          {60, "used 50", "1 Motion | 2 Motion", ""},
          {70, "used 50", "- | -", "released 0 1 hold over, released 1 2 hold over"}}},
        {"oldest gives way, a cell changes once a call; pin, review, all pinned, dismiss",
         {{0, "1 Motion, 2 Motion", "1 Motion | 2 Motion", "filled 0 1, filled 1 2"},
          {1, "1 Motion", "1 Motion x1 | 2 Motion", "reused 0 1"},
          {2, "3 Motion", "1 Motion x1 | 3 Motion", "released 1 2 gave way, filled 1 3"},
          {3, "1 Door, 4 Motion, 6 Motion, 4 Tamper, 5 Motion", "1 Door | 5 Motion",
           "reused 0 1, released 1 3 gave way, filled 1 5, more 3 4-4"},
          {4, "pin 0, pin 1, review 1, 7 Motion", "1 Door pinned | 5 Motion pinned",
           "review 5 Motion, more 4 4-7"},
          {40, "", "1 Door pinned | 5 Motion pinned", ""},
          {41, "unpin 1, dismiss 0, clear more", "- | -",
           "released 0 1 dismissed, more 0, released 1 5 hold over"}}},
        {"a burst of 20 shows the 6 newest",
         {{0, "burst 20", "15 Motion | 16 Motion | 17 Motion | 18 Motion | 19 Motion | 20 Motion",
           "filled 0 15, filled 1 16, filled 2 17, filled 3 18, filled 4 19, filled 5 20, "
           "more 14 1-14"}}},
        {"a tour pauses on the first cell taken, resumes when the last is freed",
         {{0, "1 Motion, touring", "1 Motion | -", "filled 0 1, pause tour"},
          {5, "2 Motion, touring", "1 Motion | 2 Motion", "filled 1 2"},
          {10, "dismiss 0, touring", "- | 2 Motion", "released 0 1 dismissed"},
          {35, "touring", "- | -", "released 1 2 hold over, resume tour"},
          {40, "3 Motion, touring", "3 Motion | -", "filled 0 3, pause tour"},
          {45, "dismiss 0", "- | -", "released 0 3 dismissed"}}},
    };
    const std::vector<MonitorRule> rules = {
        {CameraRef{.server = "", .channel = "42"}, {}, MonitorRule::Cell::refused, 30s},
        {{}, "Door", MonitorRule::Cell::taken, 5s},
    };
    const MonitorClock::time_point start{100h};
    for (const MonitorCase& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorState state = emptyMonitor(
            static_cast<int>(std::ranges::count(std::string_view(c.steps[0].cells), '|')) + 1);
        for (const MonitorScriptStep& step : c.steps) {
            SCOPED_TRACE(step.at_s);
            const ScriptedInput scripted = scriptedInput(step.input, start);
            const MonitorStep next = nextMonitorState(state, scripted.input(), rules,
                                                      start + std::chrono::seconds(step.at_s));
            EXPECT_EQ(cellsText(next.state), step.cells);
            EXPECT_EQ(eventsText(next.events), step.events);
            state = next.state;
        }
    }
}

}  // namespace
}  // namespace krt
