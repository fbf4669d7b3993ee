#pragma once

#include <chrono>
#include <ctime>

namespace krt::test {

// The time point of a local date and time, as the machine's time zone reads it.
inline std::chrono::system_clock::time_point localTimePoint(int year, int month, int day, int hour,
                                                            int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;  // the calendar decides on daylight saving
    return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

}  // namespace krt::test
