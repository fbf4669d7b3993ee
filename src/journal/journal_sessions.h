#pragma once

#include <cstdint>
#include <string_view>

#include "journal/alarm_journal.h"
#include "journal/sql_connection.h"

// The sessions of the programs that listen to a server, and the intervals in which none could
// receive its alarms ("gaps"), as AlarmJournal's calls of the same names describe them. Each
// throws sql::Error when SQLite fails.
namespace krt {

// The new session's ID.
std::int64_t startJournalSession(sql::Connection& db, std::string_view server,
                                 JournalClock::time_point now);
void markSessionAlive(const sql::Connection& db, std::int64_t session, JournalClock::time_point at);
void endJournalSession(const sql::Connection& db, std::int64_t session,
                       JournalClock::time_point at);

void beginJournalGap(const sql::Connection& db, std::int64_t session, std::string_view server,
                     JournalClock::time_point at, std::string_view reason);
void endJournalGap(sql::Connection& db, std::int64_t session, JournalClock::time_point at);
void noteJournalGapReason(const sql::Connection& db, std::int64_t session, std::string_view reason);

}  // namespace krt
