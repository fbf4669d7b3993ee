#include "journal_time.h"

#include <ctime>
#include <regex>
#include <string>

namespace krt::cli {
namespace {

using Clock = std::chrono::system_clock;

constexpr long kLongestSpan_s = 100L * 366 * 86400;

std::optional<Clock::time_point> localTime(std::tm parts) {
    parts.tm_isdst = -1;
    const int day = parts.tm_mday;
    const int month = parts.tm_mon;
    const std::time_t seconds = std::mktime(&parts);
    // mktime moves 31 April to 1 May: such a date is no date.
    if (seconds == -1 || parts.tm_mday != day || parts.tm_mon != month) {
        return std::nullopt;
    }
    return Clock::from_time_t(seconds);
}

}  // namespace

std::optional<Clock::time_point> parseJournalTime(std::string_view text, Clock::time_point now) {
    static const std::regex before("-([0-9]{1,9})([smhd]?)");
    static const std::regex dateTime(
        "([0-9]{4})-([0-9]{2})-([0-9]{2})[ T]([0-9]{2}):([0-9]{2})(:([0-9]{2}))?");
    static const std::regex timeOfDay("([0-9]{2}):([0-9]{2})(:([0-9]{2}))?");
    const std::string line(text);
    std::smatch match;
    if (std::regex_match(line, match, before)) {
        const long amount = std::stol(match[1]);
        const char unit = match[2].length() > 0 ? match[2].str()[0] : 's';
        const long seconds = amount * (unit == 'm'   ? 60
                                       : unit == 'h' ? 3600
                                       : unit == 'd' ? 86400
                                                     : 1);
        // Longer ago than any journal keeps is surely a mistake (and could not be subtracted).
        if (seconds > kLongestSpan_s) {
            return std::nullopt;
        }
        return now - std::chrono::seconds(seconds);
    }
    const auto number = [&](int group) {
        return match[group].matched ? std::stoi(match[group]) : 0;
    };
    std::tm parts{};
    if (std::regex_match(line, match, dateTime)) {
        parts.tm_year = number(1) - 1900;
        parts.tm_mon = number(2) - 1;
        parts.tm_mday = number(3);
        parts.tm_hour = number(4);
        parts.tm_min = number(5);
        parts.tm_sec = number(7);
    } else if (std::regex_match(line, match, timeOfDay)) {
        const std::time_t today = Clock::to_time_t(now);
        localtime_r(&today, &parts);
        parts.tm_hour = number(1);
        parts.tm_min = number(2);
        parts.tm_sec = number(4);
    } else {
        return std::nullopt;
    }
    if (parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 59) {
        return std::nullopt;
    }
    return localTime(parts);
}

}  // namespace krt::cli
