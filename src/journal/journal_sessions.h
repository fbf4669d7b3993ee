#pragma once

#include <cstdint>
#include <string_view>

#include "journal/alarm_journal.h"
#include "journal/sql_connection.h"

// The sessions of the programs that listen to a server, and the intervals in which none could
// receive its alarms ("gaps"), as AlarmJournal's calls of the same names describe them. Each
// throws sql::Error when SQLite fails.
namespace krt {

// A server as the journal tells it from others: its address and its name in the list.
struct JournalServer {
    std::string_view address;
    std::string_view site;
};

// The new session's ID.
std::int64_t startJournalSession(sql::Connection& db, JournalServer server,
                                 JournalClock::time_point now);
void markSessionAlive(const sql::Connection& db, std::int64_t session, JournalClock::time_point at);
void endJournalSession(const sql::Connection& db, std::int64_t session,
                       JournalClock::time_point at);

void beginJournalGap(const sql::Connection& db, std::int64_t session, JournalServer server,
                     JournalClock::time_point at, std::string_view reason);
void endJournalGap(sql::Connection& db, std::int64_t session, JournalClock::time_point at);
void noteJournalGapReason(const sql::Connection& db, std::int64_t session, std::string_view reason);

}  // namespace krt
