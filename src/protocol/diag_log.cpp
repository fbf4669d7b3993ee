#include "protocol/diag_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>

namespace krt {
namespace {

struct LogState {
    std::mutex mutex;
    bool enabled = false;
    std::string directory;
    LocalClock clock;
    LocalTime openedAt;
    std::unique_ptr<std::ofstream> file;
};

LogState& logState() {
    static LogState state;
    return state;
}

bool sameDay(const LocalTime& a, const LocalTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

std::string dayFilePath(const std::string& directory, const LocalTime& now) {
    char name[32];
    std::snprintf(name, sizeof name, "/%.4d%.2d%.2d.log", now.year, now.month, now.day);
    return directory + name;
}

void writeEntry(std::ofstream& file, const LocalTime& now, const char* module, const char* method,
                const char* message) {
    char header[256];
    std::snprintf(header, sizeof header, "\n%.4d/%.2d/%.2d/ %.2d:%.2d:%.2d:%.3d - ", now.year,
                  now.month, now.day, now.hour, now.minute, now.second, now.millisecond);
    file << header;
    for (const char* text : {module, method, message}) {
        if (text != nullptr) {
            file << text << '-';
        }
    }
    file.flush();
}

}  // namespace

LocalTime currentLocalTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1,        parts.tm_wday,
                     parts.tm_mday,        parts.tm_hour,           parts.tm_min,
                     parts.tm_sec,         static_cast<int>(millis)};
}

int formatTimestamp(const LocalTime& time, char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity < 18) {
        return 0;
    }
    std::snprintf(buffer, capacity, "%.4d%.2d%.2d%.2d%.2d%.2d%.3d", time.year, time.month, time.day,
                  time.hour, time.minute, time.second, time.millisecond);
    return 1;
}

void writeLog(const char* module, const char* method, const char* message) {
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    if (!state.enabled) {
        return;
    }
    try {
        const LocalTime now = state.clock ? state.clock() : currentLocalTime();
        if (!state.file || !sameDay(state.openedAt, now)) {
            state.file = std::make_unique<std::ofstream>(dayFilePath(state.directory, now),
                                                         std::ios::out | std::ios::app);
            state.openedAt = now;
        }
        if (state.file->is_open()) {
            writeEntry(*state.file, now, module, method, message);
        }
    } catch (...) {
        // The log never reports its own failures.
    }
}

void enableDiagLog(const std::string& directory) {
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    state.file.reset();
    state.directory = directory;
    state.enabled = !directory.empty();
}

void enableDiagLogFromEnvironment() {
    if (const char* directory = std::getenv("KRT_LOG_DIR"); directory && *directory) {
        enableDiagLog(directory);
    }
}

bool diagLogEnabled() {
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    return state.enabled;
}

void setDiagLogClock(LocalClock clock) {
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    state.clock = std::move(clock);
}

}  // namespace krt
