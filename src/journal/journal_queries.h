#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "journal/alarm_journal.h"
#include "journal/sql_connection.h"

// What the History, the export and krt-cli read from the journal, and the reviews they mark.
// Each throws sql::Error when SQLite fails.
namespace krt {

std::vector<JournalKey> listJournal(const sql::Connection& db, const JournalFilter& filter);
std::vector<JournalRow> journalRows(const sql::Connection& db, std::span<const JournalKey> keys);
int markJournalReviewed(sql::Connection& db, std::span<const std::int64_t> ids,
                        std::string_view user, std::string_view note, JournalClock::time_point at);
int countUnreviewed(const sql::Connection& db);
std::vector<std::string> journalChannels(const sql::Connection& db);
std::vector<JournalSite> journalSites(const sql::Connection& db);

}  // namespace krt
