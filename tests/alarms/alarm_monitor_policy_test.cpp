#include "alarms/alarm_monitor_policy.h"

#include <gtest/gtest.h>

#include <optional>
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

std::string cellsText(const MonitorState& state) {
    std::string cells;
    for (const auto& cell : state.cells) {
        cells += cells.empty() ? "" : " | ";
        cells += !cell ? "-"
                       : cameraText(cell->camera()) + " " + cell->alarm.alarmName +
                             (cell->repeats ? " x" + std::to_string(cell->repeats) : "") +
                             (cell->pinned ? " pinned" : "");
    }
    return cells;
}

std::string eventText(const MonitorEvent& event) {
    constexpr const char* kReasons[] = {"hold over", "dismissed", "gave way"};
    return std::visit(
        [&]<typename E>(const E& e) -> std::string {
            if constexpr (std::is_same_v<E, CellFilled>)
                return "filled " + std::to_string(e.cell) + " " + cameraText(e.camera);
            if constexpr (std::is_same_v<E, CellReused>)
                return "reused " + std::to_string(e.cell) + " " + cameraText(e.camera);
            if constexpr (std::is_same_v<E, CellReleased>)
                return "released " + std::to_string(e.cell) + " " + cameraText(e.camera) + " " +
                       kReasons[static_cast<int>(e.reason)];
            if constexpr (std::is_same_v<E, PulseCamera>)
                return "pulse " + cameraText(e.camera);
            if constexpr (std::is_same_v<E, PauseTour>)
                return "pause tour";
            if constexpr (std::is_same_v<E, ResumeTour>)
                return "resume tour";
            if constexpr (std::is_same_v<E, MoreAlarms>)
                return "more " + std::to_string(e.alarms.size()) +
                       (e.alarms.empty()
                            ? ""
                            : " " + e.alarms.front().channelId + "-" + e.alarms.back().channelId);
            if constexpr (std::is_same_v<E, ReviewAsked>)
                return "review " + e.alarm.channelId + " " + e.alarm.alarmName;
        },
        event);
}

std::string eventsText(std::span<const MonitorEvent> events) {
    std::string all;
    for (const MonitorEvent& event : events) {
        all += (all.empty() ? "" : ", ") + eventText(event);
    }
    return all;
}

struct MonitorScriptStep {
    int at_s;
    std::vector<std::string> alarms;
    std::vector<OperatorAction> actions;
    std::optional<int> operatorUsedAt_s;
    const char* cells;
    const char* events;
};

struct MonitorCase {
    const char* name;
    int cells;
    bool touring;
    std::vector<MonitorRule> rules;
    std::vector<MonitorScriptStep> steps;
};

std::vector<std::string> burstOfAlarms(int count) {
    std::vector<std::string> alarms;
    for (int i = 1; i <= count; ++i) {
        alarms.push_back(std::to_string(i) + " Motion");
    }
    return alarms;
}

const std::vector<MonitorRule> kMonitorRules = {
    {CameraRef{.server = "", .channel = "2"}, {}, MonitorRule::Cell::refused, kDefaultMonitorHold},
    {{}, "Door", MonitorRule::Cell::taken, 5s},
};

TEST(AlarmMonitorPolicy, PlacesHoldsAndReleasesAlarmedCamerasAsTheOperatorAllows) {
    const std::vector<MonitorCase> cases = {
        {"hold, repeat, reuse by another alarm, hold over",
         2,
         false,
         {},
         {{0, {"1 Motion"}, {}, {}, "1 Motion | -", "filled 0 1"},
          {10, {"1 Motion"}, {}, {}, "1 Motion x1 | -", "reused 0 1"},
          {20, {"1 Tamper"}, {}, {}, "1 Tamper | -", "reused 0 1"},
          {49, {}, {}, {}, "1 Tamper | -", ""},
          {50, {}, {}, {}, "- | -", "released 0 1 hold over"}}},
        {"rules refuse a camera and shorten a hold; two servers' channel 1",
         3,
         false,
         kMonitorRules,
         {{0,
           {"2 Motion", "1 Door", "B/1 Door", "b/1 Motion"},
           {},
           {},
           "1 Door | b/1 Motion | -",
           "filled 0 1, filled 1 B/1"},
          {5, {}, {}, {}, "- | b/1 Motion | -", "released 0 1 hold over"}}},
        {"busy operator: pulse, wait, then apply in order; holds wait too",
         2,
         false,
         {},
         {{0, {"1 Motion"}, {}, {}, "1 Motion | -", "filled 0 1"},
          {10, {"1 Door", "2 Motion", "1 Tamper"}, {}, 5, "1 Motion | -", "pulse 1"},
          {24, {}, {}, 5, "1 Motion | -", ""},
          {25, {}, {}, 5, "1 Tamper | 2 Motion", "reused 0 1, filled 1 2"},
          {60, {}, {}, 50, "1 Tamper | 2 Motion", ""},
          {70, {}, {}, 50, "- | -", "released 0 1 hold over, released 1 2 hold over"}}},
        {"oldest gives way; pin, review, all pinned, unpin, dismiss",
         2,
         false,
         {},
         {{0, {"1 Motion", "2 Motion"}, {}, {}, "1 Motion | 2 Motion", "filled 0 1, filled 1 2"},
          {1, {"3 Motion"}, {}, {}, "3 Motion | 2 Motion", "released 0 1 gave way, filled 0 3"},
          {2,
           {"4 Motion"},
           {{pin, 0}, {pin, 1}, {review, 1}},
           {},
           "3 Motion pinned | 2 Motion pinned",
           "review 2 Motion, more 1 4-4"},
          {40, {}, {}, {}, "3 Motion pinned | 2 Motion pinned", ""},
          {41,
           {},
           {{unpin, 1}, {dismiss, 0}, {clearMore}},
           {},
           "- | -",
           "released 0 3 dismissed, more 0, released 1 2 hold over"}}},
        {"a burst of 20 shows the 6 newest, each cell changed once",
         6,
         false,
         {},
         {{0,
           burstOfAlarms(20),
           {},
           {},
           "15 Motion | 16 Motion | 17 Motion | 18 Motion | 19 Motion | 20 Motion",
           "filled 0 15, filled 1 16, filled 2 17, filled 3 18, filled 4 19, filled 5 20, "
           "more 14 1-14"}}},
        {"a tour pauses on the first cell taken, resumes when the last is freed",
         2,
         true,
         {},
         {{0, {"1 Motion"}, {}, {}, "1 Motion | -", "filled 0 1, pause tour"},
          {5, {"2 Motion"}, {}, {}, "1 Motion | 2 Motion", "filled 1 2"},
          {10, {}, {{dismiss, 0}}, {}, "- | 2 Motion", "released 0 1 dismissed"},
          {35, {}, {}, {}, "- | -", "released 1 2 hold over, resume tour"}}},
    };
    const MonitorClock::time_point start{100h};
    for (const MonitorCase& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorState state = emptyMonitor(c.cells);
        for (const MonitorScriptStep& step : c.steps) {
            SCOPED_TRACE(step.at_s);
            std::vector<AlarmEvent> alarms;
            std::ranges::transform(step.alarms, std::back_inserter(alarms),
                                   [](const std::string& a) { return scriptedAlarm(a); });
            const MonitorInput input{
                .alarms = alarms,
                .actions = step.actions,
                .lastOperatorUse =
                    step.operatorUsedAt_s
                        ? std::optional(start + std::chrono::seconds(*step.operatorUsedAt_s))
                        : std::nullopt,
                .touring = c.touring};
            const MonitorStep next =
                nextMonitorState(state, input, c.rules, start + std::chrono::seconds(step.at_s));
            EXPECT_EQ(cellsText(next.state), step.cells);
            EXPECT_EQ(eventsText(next.events), step.events);
            state = next.state;
        }
    }
}

}  // namespace
}  // namespace krt
