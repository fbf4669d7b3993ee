#pragma once

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

namespace krt {

// `parts` by a strftime `format`, in the classic locale: month names stay English and digits
// plain whatever the user's locale, as every time the program writes or shows.
std::string formatTime(const std::tm& parts, std::string_view format);

// `time` in the local time zone by a strftime `format`, as formatTime.
std::string formatLocalTime(std::chrono::system_clock::time_point time, std::string_view format);

// formatLocalTime followed by the milliseconds of `time` as three digits.
std::string formatLocalTimeMs(std::chrono::system_clock::time_point time, std::string_view format);

}  // namespace krt
