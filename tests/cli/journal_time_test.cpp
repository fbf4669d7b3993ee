#include "journal_time.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/local_clock.h"

namespace krt::cli {
namespace {

using Clock = std::chrono::system_clock;
using krt::test::localTimePoint;

TEST(JournalTime, DatesTimesOfTodayAndSpansBeforeNow) {
    const Clock::time_point now = localTimePoint(2026, 1, 7, 14, 30, 0);
    const std::vector<std::pair<std::string, std::optional<Clock::time_point>>> table = {
        {"2026-01-07 14:02", localTimePoint(2026, 1, 7, 14, 2, 0)},
        {"2026-01-07T14:02:11", localTimePoint(2026, 1, 7, 14, 2, 11)},
        {"2025-12-31 23:59:59", localTimePoint(2025, 12, 31, 23, 59, 59)},
        {"02:00", localTimePoint(2026, 1, 7, 2, 0, 0)},
        {"23:15:30", localTimePoint(2026, 1, 7, 23, 15, 30)},
        {"-90", now - std::chrono::seconds(90)},
        {"-15m", now - std::chrono::minutes(15)},
        {"-2h", now - std::chrono::hours(2)},
        {"-3d", now - std::chrono::hours(72)},
        {"2026-02-30 10:00", std::nullopt},
        {"2026-01-07 24:00", std::nullopt},
        {"14:60", std::nullopt},
        {"yesterday", std::nullopt},
        {"-2w", std::nullopt},
        {"", std::nullopt},
        {"2026-01-07", std::nullopt},
        {"-9999999999", std::nullopt},
        {"-999999999d", std::nullopt},
    };
    for (const auto& [text, time] : table) {
        EXPECT_EQ(parseJournalTime(text, now), time) << text;
    }
}

}  // namespace
}  // namespace krt::cli
