#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "journal/alarm_journal.h"
#include "journal/sql_connection.h"

// The alarms' rows and their snapshot files, which always go together. Each throws sql::Error
// when SQLite fails.
namespace krt {

struct RecordedAlarm {
    std::int64_t id = 0;
    bool added = false;             // false: another program's session had recorded it
    std::error_code snapshotError;  // the row was written without its snapshot
};

// Records the alarm for `session` (0: none) with its snapshot in `snapshotFolder`; an alarm that
// another program's session recorded already is that row. A failure is logged and leaves no
// file behind.
RecordedAlarm recordJournalAlarm(sql::Connection& db, const std::filesystem::path& snapshotFolder,
                                 const JournalEntry& entry, std::int64_t session);

// Deletes the alarms beyond the limits with their snapshots: older than the age limit, beyond
// the count, then the oldest until the size fits. And the gaps and sessions older than the age
// limit (but the last session of each server); how many alarms went.
int applyJournalRetention(sql::Connection& db, const std::filesystem::path& snapshotFolder,
                          JournalLimits limits, JournalClock::time_point now);

// Forgets the snapshots whose files are gone and removes the files without a row (a crash
// between the two leaves either).
void reconcileJournalFiles(sql::Connection& db, const std::filesystem::path& snapshotFolder);

}  // namespace krt
