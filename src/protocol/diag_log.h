#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace krt {

// Broken-down local time, as the log and the alarm timestamps use it.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

using LocalClock = std::function<LocalTime()>;

// The current local time of the system clock, to the millisecond.
LocalTime currentLocalTime();

// Writes "YYYYMMDDhhmmssmmm" (17 digits and a terminator). Returns 1, or 0 without writing
// when the buffer is null or holds fewer than 18 bytes.
int formatTimestamp(const LocalTime& time, char* buffer, std::size_t capacity);

// Appends one entry to the day file "<dir>/YYYYMMDD.log" when the log is on. Each text may be
// null; a null text is skipped together with its dash. Never fails towards the caller. Day
// files are private to the user (0600), whatever the umask; a link or anything but a plain
// file of the user's in a day file's place is left alone, and that day goes unlogged.
void writeLog(const char* module, const char* method, const char* message);

// The log is off until a directory is given. A directory that does not exist is made, with
// any missing parents, private to the user (0700). When that fails, or the name is not a
// directory, the log stays off and the reason is returned. An empty directory turns the log
// off again.
std::optional<std::string> enableDiagLog(const std::string& directory);
// The same for $KRT_LOG_DIR when that variable is set and not empty.
std::optional<std::string> enableDiagLogFromEnvironment();
bool diagLogEnabled();
// Replaces the clock the log reads (tests cross midnight with it); an empty clock restores
// the system clock.
void setDiagLogClock(LocalClock clock);

}  // namespace krt
