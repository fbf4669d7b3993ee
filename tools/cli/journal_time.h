#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace krt::cli {

// A time of the alarm journal as the command line gives it: "2026-01-07 14:02[:11]" or
// "2026-01-07T14:02[:11]" (local time), "14:02[:11]" (today, local time), or "-90", "-15m",
// "-2h", "-3d" (seconds, minutes, hours, days before `now`). Nothing for anything else.
std::optional<std::chrono::system_clock::time_point> parseJournalTime(
    std::string_view text, std::chrono::system_clock::time_point now);

}  // namespace krt::cli
