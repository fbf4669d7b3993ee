#include "layouts/tour_schedule.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

using namespace std::chrono_literals;
using Phase = TourClock::Phase;

struct PositionCase {
    std::size_t stops;
    std::chrono::seconds dwell;
    std::chrono::milliseconds running;
    TourPosition expected;
};

class TourPositions : public testing::TestWithParam<PositionCase> {};

TEST_P(TourPositions, StopAndTimeLeftFollowFromTheRunningTime) {
    const PositionCase& c = GetParam();
    EXPECT_EQ(tourPositionAt(c.stops, c.dwell, c.running), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TourPositions,
    testing::Values(PositionCase{3, 10s, 0ms, {0, 10s}}, PositionCase{3, 10s, 9'999ms, {0, 1ms}},
                    PositionCase{3, 10s, 10s, {1, 10s}}, PositionCase{3, 10s, 25s, {2, 5s}},
                    PositionCase{3, 10s, 30s, {0, 10s}},  // round again
                    PositionCase{1, 5s, 3'600s, {0, 5s}}, PositionCase{0, 5s, 7s, {0, 5s}},
                    PositionCase{4, 300s, 901s, {3, 299s}}));

// What the operator and the alarms do to a tour of 10-second stops with a 30-second idle
// time, and how long it has run at each moment after.
struct ClockStep {
    enum class Event { None, Activity, Alarm, Hold } event;
    std::chrono::milliseconds at;
    std::chrono::milliseconds expectedRunning;
    Phase expectedPhase;
};

TEST(TourClockTimeline, PausesForUserAlarmsAndTheHoldKey) {
    using E = ClockStep::Event;
    const auto start = TourClock::Clock::time_point{} + 1000s;
    TourClock clock(start, 30s);
    const ClockStep steps[] = {
        {E::None, 15s, 15s, Phase::Running},
        {E::Activity, 15s, 15s, Phase::UserPause},  // a click: the tour stands
        {E::None, 44s, 15s, Phase::UserPause},
        {E::Activity, 40s, 15s, Phase::UserPause},  // more work pushes the resume on
        {E::None, 70s, 15s, Phase::Running},        // 30 s idle after the last input
        {E::None, 75s, 20s, Phase::Running},
        {E::Alarm, 75s, 20s, Phase::AlarmPause},  // its camera for 20 s
        {E::None, 95s, 20s, Phase::Running},
        {E::None, 100s, 25s, Phase::Running},
        {E::Hold, 100s, 25s, Phase::Held},
        {E::None, 500s, 25s, Phase::Held},  // held has no end by itself
        {E::Hold, 500s, 25s, Phase::Running},
        {E::None, 505s, 30s, Phase::Running},
    };
    for (const ClockStep& step : steps) {
        const auto now = start + step.at;
        switch (step.event) {
            case E::Activity:
                clock.noteUserActivity(now);
                break;
            case E::Alarm:
                clock.interruptForAlarm(now, 20s);
                break;
            case E::Hold:
                clock.toggleHold(now);
                break;
            case E::None:
                break;
        }
        EXPECT_EQ(clock.running(now), step.expectedRunning) << step.at.count();
        EXPECT_EQ(clock.phase(now), step.expectedPhase) << step.at.count();
    }
}

TEST(TourStopList, AllCamerasIsEachPageAndLostLayoutsAreLeftOut) {
    LayoutBook book;
    ASSERT_FALSE(book.addLayout("A", "1"));
    const Tour tour{"T", 10, {"A", "All cameras", "Gone", "A"}, 0};
    EXPECT_EQ(tourStops(tour, book, 3),
              (std::vector<TourStop>{
                  {"A", 0}, {"All cameras", 0}, {"All cameras", 1}, {"All cameras", 2}, {"A", 0}}));
    EXPECT_EQ(tourStops(tour, book, 0).size(), 3U);
}

}  // namespace
}  // namespace krt
