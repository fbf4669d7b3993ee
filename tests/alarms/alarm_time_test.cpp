#include "alarms/alarm_time.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace krt {
namespace {

struct TimestampCase {
    const char* label;
    std::string timestamp;
    std::optional<std::string> expectedTimeText;  // nothing: the alarm is dropped
    std::string expectedDigits;                   // what the image request sends back
};

class AlarmTimestampTest : public testing::TestWithParam<TimestampCase> {};

TEST_P(AlarmTimestampTest, ChecksFormatsAndRepeatsTheTime) {
    const TimestampCase& c = GetParam();
    const LocalTime time = parseAlarmTimestamp(c.timestamp);
    EXPECT_EQ(alarmTimeText(time), c.expectedTimeText);
    if (c.expectedTimeText) {
        EXPECT_EQ(timestampDigits(time), c.expectedDigits);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Timestamps, AlarmTimestampTest,
    testing::Values(
        TimestampCase{"full", "20131125103000123", "25-Nov-2013::10:30:00", "20131125103000123"},
        // Cut after the first digit of the seconds: that digit is the second, no millisecond.
        TimestampCase{"thirteen_digits", "2013112510303", "25-Nov-2013::10:30:03",
                      "20131125103003000"},
        TimestampCase{"empty", "", std::nullopt, ""},
        TimestampCase{"month_13", "20131325103000123", std::nullopt, ""},
        TimestampCase{"month_0", "20130025103000123", std::nullopt, ""},
        TimestampCase{"hour_24", "20131125243000123", std::nullopt, ""},
        TimestampCase{"minute_60", "20131125106000123", std::nullopt, ""},
        TimestampCase{"second_60", "20131125103060123", std::nullopt, ""},
        TimestampCase{"day_0", "20131100103000123", std::nullopt, ""},
        TimestampCase{"day_32", "20131132103000123", std::nullopt, ""},
        TimestampCase{"year_1899", "18991125103000123", std::nullopt, ""},
        // A sign is read as atoi reads it; a negative hour is no time of day.
        TimestampCase{"negative_hour", "20131125-13000123", std::nullopt, ""},
        // Passes the checks; the calendar moves it to the first of December, the request
        // repeats the numbers received.
        TimestampCase{"day_31_of_november", "20131131235959999", "01-Dec-2013::23:59:59",
                      "20131131235959999"},
        TimestampCase{"leap_day", "20120229000000000", "29-Feb-2012::00:00:00",
                      "20120229000000000"},
        TimestampCase{"trailing_text", "20131125103000123/../../escape", "25-Nov-2013::10:30:00",
                      "20131125103000123"}),
    [](const testing::TestParamInfo<TimestampCase>& param) { return param.param.label; });

TEST(AlarmTimestamp, SplitsTheSevenPiecesOnTheirOwn) {
    const LocalTime time = parseAlarmTimestamp("20131125103000123");
    EXPECT_EQ(time.year, 2013);
    EXPECT_EQ(time.month, 11);
    EXPECT_EQ(time.day, 25);
    EXPECT_EQ(time.hour, 10);
    EXPECT_EQ(time.minute, 30);
    EXPECT_EQ(time.second, 0);
    EXPECT_EQ(time.millisecond, 123);

    const LocalTime holes = parseAlarmTimestamp("2013x125");
    EXPECT_EQ(holes.month, 0) << "a piece without leading digits reads 0";
    EXPECT_EQ(holes.day, 25);
}

struct StemCase {
    const char* label;
    std::string timestamp;
    std::string expectedStem;
};

class SnapshotStemTest : public testing::TestWithParam<StemCase> {};

TEST_P(SnapshotStemTest, OnlyPlainDigitsNameTheFile) {
    const StemCase& c = GetParam();
    EXPECT_EQ(snapshotFileStem(c.timestamp, parseAlarmTimestamp(c.timestamp)), c.expectedStem);
}

INSTANTIATE_TEST_SUITE_P(
    Stems, SnapshotStemTest,
    testing::Values(StemCase{"as_received", "20131125103000123", "20131125103000123"},
                    StemCase{"short_as_received", "2013112510303", "2013112510303"},
                    StemCase{"parent_folder", "20131125103000123/../../escape",
                             "20131125103000123"},
                    StemCase{"absolute", "20131125103000/etc/passwd", "20131125103000000"},
                    StemCase{"dots_only", "20131125103000..", "20131125103000000"},
                    StemCase{"trailing_newline", "20131125103000123\n", "20131125103000123"},
                    StemCase{"too_long_for_a_name", std::string(252, '1'), std::string(17, '1')}),
    [](const testing::TestParamInfo<StemCase>& param) { return param.param.label; });

}  // namespace
}  // namespace krt
