#include "alarms/late_alarm.h"

#include <gtest/gtest.h>

#include <vector>

namespace krt {
namespace {

using std::chrono::seconds;

WallClock::time_point at(int hour, int minute, int second, int day = 25) {
    return alarmTimePoint({2013, 11, 0, day, hour, minute, second, 0}).value();
}

TEST(ServerClockEstimate, FlagsAlarmsFarFromTheirOwnTimeOnceTheServerClockIsAllowedFor) {
    struct Case {
        const char* what;
        std::vector<int> apparentDelays_s;  // received minus the alarm's own time, in order
        std::vector<Punctuality> expected;
    };
    using enum Punctuality;
    for (const Case& c : {
             Case{"on time", {0, 1, 2, 5, 60}, {OnTime, OnTime, OnTime, OnTime, OnTime}},
             Case{"late", {0, 0, 1, 61, 208}, {OnTime, OnTime, OnTime, Late, Late}},
             Case{"late from the start", {208, 0, 1, 0}, {Late, OnTime, OnTime, OnTime}},
             Case{"future", {0, 1, 0, -61, -60}, {OnTime, OnTime, OnTime, Late, OnTime}},
             // A server clock ten minutes ahead: once learnt, only a real lag counts.
             Case{"server ahead",
                  {-600, -601, -600, -540, -539, -700},
                  {Late, Late, OnTime, OnTime, Late, Late}},
             // A late alarm among the first cannot move the median.
             Case{
                 "server behind", {300, 1000, 301, 302, 250}, {Late, Late, OnTime, OnTime, OnTime}},
         }) {
        SCOPED_TRACE(c.what);
        ServerClockEstimate estimate;
        const WallClock::time_point received = at(10, 44, 30);
        std::vector<Punctuality> judged;
        for (const int delay : c.apparentDelays_s) {
            judged.push_back(estimate.judge(received - seconds(delay), received));
        }
        EXPECT_EQ(judged, c.expected);
    }
}

TEST(ServerClockEstimate, OffsetIsTheMedianOfTheFirstThreeAlarms) {
    ServerClockEstimate estimate;
    const WallClock::time_point received = at(10, 44, 30);
    for (const int delay : {-600, 5, -590}) {
        EXPECT_EQ(estimate.offset(), std::nullopt);
        estimate.judge(received - seconds(delay), received);
    }
    EXPECT_EQ(estimate.offset(), seconds(-590));
    estimate.judge(received, received);
    EXPECT_EQ(estimate.offset(), seconds(-590)) << "learnt once";
}

TEST(LateAlarmNote, ShowsBothTimesAndTheDatesWhenTheyDiffer) {
    EXPECT_EQ(lateAlarmNote(at(10, 41, 2), at(10, 44, 30)),
              "late: event 10:41:02, received 10:44:30");
    EXPECT_EQ(lateAlarmNote(at(23, 59, 0, 24), at(0, 1, 0)),
              "late: event 24-Nov-2013 23:59:00, received 25-Nov-2013 00:01:00");
}

}  // namespace
}  // namespace krt
