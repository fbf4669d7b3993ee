#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "journal/alarm_journal.h"
#include "journal/sql_connection.h"

namespace krt {

// Times are stored as milliseconds since the epoch.
inline std::int64_t journalMs(JournalClock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}
inline JournalClock::time_point journalTime(std::int64_t ms) {
    return JournalClock::time_point(
        std::chrono::duration_cast<JournalClock::duration>(std::chrono::milliseconds(ms)));
}

struct OpenedJournal {
    std::unique_ptr<sql::Connection> database;  // none: `error` says why
    std::error_code error;
    std::string notice;  // a journal set aside, for the user
};

// The journal's database in `folder`, created or brought to the current schema. A file of a
// newer schema, or one a writer finds damaged, is renamed aside with its side files (never
// deleted) and a new one started.
OpenedJournal openJournal(const std::filesystem::path& folder, AlarmJournal::Role role);

}  // namespace krt
