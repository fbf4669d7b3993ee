#include "alarms/alarm_time.h"

#include <algorithm>
#include <array>
#include <ctime>

#include "common/local_time.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

// Longest stem that still leaves room for ".jpg" in a file name of 255 bytes.
constexpr std::size_t kMaxStemLength = 251;

int piece(std::string_view text, std::size_t position, std::size_t length) {
    if (position >= text.size()) {
        return 0;
    }
    return parseLeadingInt(text.substr(position, length));
}

bool withinChecks(const LocalTime& time) {
    const bool negative =
        time.hour < 0 || time.minute < 0 || time.second < 0 || time.millisecond < 0;
    return !negative && time.year >= 1900 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
           time.day <= 31 && time.hour <= 23 && time.minute <= 59 && time.second <= 59;
}

}  // namespace

LocalTime parseAlarmTimestamp(std::string_view text) {
    LocalTime time;
    time.year = piece(text, 0, 4);
    time.month = piece(text, 4, 2);
    time.day = piece(text, 6, 2);
    time.hour = piece(text, 8, 2);
    time.minute = piece(text, 10, 2);
    time.second = piece(text, 12, 2);
    time.millisecond = piece(text, 14, 3);
    return time;
}

std::tm calendarParts(const LocalTime& time) {
    std::tm parts{};
    parts.tm_year = time.year - 1900;
    parts.tm_mon = time.month - 1;
    parts.tm_mday = time.day;
    parts.tm_hour = time.hour;
    parts.tm_min = time.minute;
    parts.tm_sec = time.second;
    parts.tm_isdst = -1;  // the calendar decides on daylight saving
    return parts;
}

std::optional<std::string> alarmTimeText(const LocalTime& time) {
    if (!withinChecks(time)) {
        return std::nullopt;
    }
    std::tm parts = calendarParts(time);
    if (std::mktime(&parts) == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return formatTime(parts, "%d-%b-%Y::%H:%M:%S");
}

std::string timestampDigits(const LocalTime& time) {
    std::array<char, 256> buffer{};
    formatTimestamp(time, buffer.data(), buffer.size());
    return buffer.data();
}

std::string snapshotFileStem(std::string_view receivedTimestamp, const LocalTime& parsed) {
    const bool plainDigits =
        !receivedTimestamp.empty() && receivedTimestamp.size() <= kMaxStemLength &&
        std::ranges::all_of(receivedTimestamp, [](char c) { return c >= '0' && c <= '9'; });
    return plainDigits ? std::string(receivedTimestamp) : timestampDigits(parsed);
}

}  // namespace krt
