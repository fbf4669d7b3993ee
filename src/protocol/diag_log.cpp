#include "protocol/diag_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

#include "protocol/private_folder.h"

namespace krt {
namespace {

constexpr mode_t kPrivateFile = 0600;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct LogState {
    std::mutex mutex;
    bool enabled = false;
    std::string directory;
    LocalClock clock;
    LocalTime openedAt;
    bool fileTried = false;  // today's file was opened, or failed to open
    FileHandle file;
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

std::optional<std::string> folderFailure(const std::string& folder) {
    if (const std::error_code error = makePrivateFolder(folder)) {
        return folder + ": " + error.message();
    }
    return std::nullopt;
}

// Today's file of an earlier run, appended to as it is, made 0600 should it have been left
// readable to others; else a new one. Never through a link someone planted, never a file that
// is not ours or not a plain file.
FileHandle openDayFile(const std::string& path) {
    // Without waiting on a FIFO put in its place.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kPrivateFile);
    }
    if (fd < 0) {
        return {};
    }
    FileHandle file(::fdopen(fd, "a"));
    if (!file) {
        ::close(fd);
        return {};
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        ::fchmod(fd, kPrivateFile) != 0) {
        return {};
    }
    return file;
}

void writeEntry(std::FILE* file, const LocalTime& now, const char* module, const char* method,
                const char* message) {
    char header[256];
    std::snprintf(header, sizeof header, "\n%.4d/%.2d/%.2d/ %.2d:%.2d:%.2d:%.3d - ", now.year,
                  now.month, now.day, now.hour, now.minute, now.second, now.millisecond);
    std::fputs(header, file);
    for (const char* text : {module, method, message}) {
        if (text != nullptr) {
            std::fputs(text, file);
            std::fputc('-', file);
        }
    }
    std::fflush(file);
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
        if (!state.fileTried || !sameDay(state.openedAt, now)) {
            state.file.reset();
            // A folder removed while the program runs is made again.
            (void)makePrivateFolder(state.directory);
            state.file = openDayFile(dayFilePath(state.directory, now));
            state.openedAt = now;
            state.fileTried = true;
        }
        if (state.file) {
            writeEntry(state.file.get(), now, module, method, message);
        }
    } catch (...) {
        // The log never reports its own failures.
    }
}

std::optional<std::string> enableDiagLog(const std::string& directory) {
    std::optional<std::string> failure;
    if (!directory.empty()) {
        failure = folderFailure(directory);
    }
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    state.file.reset();
    state.fileTried = false;
    state.directory = directory;
    state.enabled = !directory.empty() && !failure;
    return failure;
}

std::optional<std::string> enableDiagLogFromEnvironment() {
    if (const char* directory = std::getenv("KRT_LOG_DIR"); directory && *directory) {
        return enableDiagLog(directory);
    }
    return std::nullopt;
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
