#include "journal/journal_sessions.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "journal/journal_schema.h"

namespace krt {
namespace {

// "connecting" at a first start, ended within this long, hid nothing: it is not kept.
constexpr auto kShortestStartGap = std::chrono::seconds(1);
constexpr std::string_view kConnecting = "connecting";
constexpr std::string_view kNotRunning = "client not running";

bool processRuns(std::int64_t pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::int64_t startJournalSession(sql::Connection& db, JournalServer server,
                                 JournalClock::time_point now) {
    sql::WriteTransaction transaction(db);
    // Sessions of this server whose program no longer runs are over: a crash ended them when
    // they were last seen alive.
    bool othersListen = false;
    std::optional<std::int64_t> lastEnd;
    std::vector<std::pair<std::int64_t, std::int64_t>> crashed;
    {
        sql::Statement sessions(
            db, "SELECT id, pid, alive_ms, ended_ms FROM sessions WHERE server = ? AND site = ?",
            server.address, server.site);
        while (sessions.step()) {
            std::optional<std::int64_t> ended = sessions.optionalInteger(3);
            if (!ended && processRuns(sessions.integer(1))) {
                othersListen = true;
                continue;
            }
            if (!ended) {
                crashed.emplace_back(sessions.integer(0), sessions.integer(2));
                ended = sessions.integer(2);
            }
            lastEnd = std::max(lastEnd.value_or(*ended), *ended);
        }
    }
    for (const auto& [id, alive] : crashed) {
        sql::run(db, "UPDATE sessions SET ended_ms = ? WHERE id = ?", alive, id);
    }
    sql::run(db,
             "INSERT INTO sessions (server, site, program, pid, started_ms, alive_ms) VALUES (?, "
             "?, ?, ?, ?, ?)",
             server.address, server.site, std::string_view(program_invocation_short_name),
             std::int64_t{::getpid()}, journalMs(now), journalMs(now));
    const std::int64_t session = db.lastInsertId();
    if (!othersListen) {
        // The interval that a finished session left open goes on until this one listens.
        sql::run(db,
                 "UPDATE gaps SET session_id = ? WHERE server = ? AND site = ? AND ended_ms IS "
                 "NULL",
                 session, server.address, server.site);
        if (db.changes() == 0) {
            sql::run(db,
                     "INSERT INTO gaps (server, site, session_id, started_ms, reason) VALUES (?, "
                     "?, ?, ?, ?)",
                     server.address, server.site, session, lastEnd.value_or(journalMs(now)),
                     lastEnd ? kNotRunning : kConnecting);
        }
    }
    transaction.commit();
    return session;
}

void markSessionAlive(const sql::Connection& db, std::int64_t session,
                      JournalClock::time_point at) {
    sql::run(db, "UPDATE sessions SET alive_ms = ? WHERE id = ?", journalMs(at), session);
}

void endJournalSession(const sql::Connection& db, std::int64_t session,
                       JournalClock::time_point at) {
    sql::run(db, "UPDATE sessions SET alive_ms = ?, ended_ms = ? WHERE id = ?", journalMs(at),
             journalMs(at), session);
}

void beginJournalGap(const sql::Connection& db, std::int64_t session, JournalServer server,
                     JournalClock::time_point at, std::string_view reason) {
    // Unless an interval of the session is open still.
    sql::run(db,
             "INSERT INTO gaps (server, site, session_id, started_ms, reason) SELECT ?, ?, ?, ?, ? "
             "WHERE NOT EXISTS (SELECT 1 FROM gaps WHERE session_id = ? AND ended_ms IS NULL)",
             server.address, server.site, session, journalMs(at), reason, session);
}

void endJournalGap(sql::Connection& db, std::int64_t session, JournalClock::time_point at) {
    sql::WriteTransaction transaction(db);
    // A first start's "connecting" that ended at once hid nothing.
    sql::run(db,
             "DELETE FROM gaps WHERE session_id = ? AND ended_ms IS NULL AND reason = ? AND "
             "started_ms > ?",
             session, kConnecting, journalMs(at - kShortestStartGap));
    sql::run(db, "UPDATE gaps SET ended_ms = ? WHERE session_id = ? AND ended_ms IS NULL",
             journalMs(at), session);
    markSessionAlive(db, session, at);
    transaction.commit();
}

void noteJournalGapReason(const sql::Connection& db, std::int64_t session,
                          std::string_view reason) {
    sql::run(db,
             "UPDATE gaps SET reason = ? WHERE session_id = ? AND ended_ms IS NULL AND reason = ?",
             reason, session, kConnecting);
}

}  // namespace krt
