#include "journal/alarm_journal.h"

#include <charconv>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <utility>

#include "common/app_state.h"
#include "common/local_time.h"
#include "journal/journal_queries.h"
#include "journal/journal_records.h"
#include "journal/journal_schema.h"
#include "journal/journal_sessions.h"
#include "journal/sql_connection.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

// Retention is applied at the start, on the heartbeat, when the limits change, and after this
// many recorded alarms or snapshot bytes, whichever comes first.
constexpr int kRecordsPerRetention = 100;
constexpr std::int64_t kBytesPerRetention = std::int64_t{64} << 20;

}  // namespace

fs::path AlarmJournal::defaultFolder() {
    return userDataFolder();
}

AlarmJournal::AlarmJournal(fs::path folder, Role role, JournalLimits limits)
    : m_folder(std::move(folder)), m_role(role), m_limits(limits) {
    std::lock_guard lock(m_mutex);
    ensureOpenLocked();
}

AlarmJournal::~AlarmJournal() = default;

std::string AlarmJournal::notice() const {
    std::lock_guard lock(m_mutex);
    return m_notice;
}

std::optional<JournalTrouble> AlarmJournal::trouble() const {
    std::lock_guard lock(m_mutex);
    return m_trouble;
}

void AlarmJournal::setLimits(JournalLimits limits) {
    {
        std::lock_guard lock(m_mutex);
        if (std::exchange(m_limits, limits) == limits || m_role != Role::writer) {
            return;
        }
    }
    applyRetention(JournalClock::now());
}

void AlarmJournal::failed(std::error_code error) {
    m_trouble = JournalTrouble{error, m_folder};
}

void AlarmJournal::succeeded() {
    m_trouble.reset();
}

bool AlarmJournal::ensureOpenLocked() {
    if (m_database) {
        return true;
    }
    // Tried again at every use: a folder that was full or read-only may be writable again.
    OpenedJournal opened = openJournal(m_folder, m_role);
    if (!opened.notice.empty()) {
        m_notice = std::move(opened.notice);
    }
    opened.error ? failed(opened.error) : succeeded();
    m_database = std::move(opened.database);
    return m_database != nullptr;
}

template <typename Work>
auto AlarmJournal::guarded(Needs needs, Work work) {
    using Result = decltype(work(*m_database));
    std::lock_guard lock(m_mutex);
    if ((needs == Needs::session && m_session == 0) || !ensureOpenLocked()) {
        return Result();
    }
    try {
        return work(*m_database);
    } catch (const sql::Error& error) {
        failed(error.error);
        return Result();
    }
}

int AlarmJournal::retentionLocked(sql::Connection& db, JournalClock::time_point now) {
    m_recordsSinceRetention = 0;
    m_bytesSinceRetention = 0;
    return applyJournalRetention(db, snapshotFolder(), m_limits, now);
}

bool AlarmJournal::retentionDueAfter(std::size_t snapshotBytes) {
    m_bytesSinceRetention += static_cast<std::int64_t>(snapshotBytes);
    return ++m_recordsSinceRetention >= kRecordsPerRetention ||
           m_bytesSinceRetention >= kBytesPerRetention;
}

void AlarmJournal::startSession(std::string_view server, JournalClock::time_point now,
                                std::string_view site) {
    guarded(Needs::database, [&](sql::Connection& db) {
        // A session under way against this server goes on: a program may begin it before it
        // has a channel (while the login is refused), and the channel then takes it over.
        if (m_session != 0 && m_server == server && m_site == site) {
            return;
        }
        m_server = std::string(server);
        m_site = std::string(site);
        reconcileJournalFiles(db, snapshotFolder());
        retentionLocked(db, now);
        m_session = startJournalSession(db, {m_server, m_site}, now);
        succeeded();
    });
}

void AlarmJournal::endGap(JournalClock::time_point at) {
    guarded(Needs::session, [&](sql::Connection& db) {
        endJournalGap(db, m_session, at);
        succeeded();
    });
}

void AlarmJournal::beginGap(JournalClock::time_point at, std::string_view reason) {
    guarded(Needs::session, [&](sql::Connection& db) {
        beginJournalGap(db, m_session, {m_server, m_site}, at, reason);
        succeeded();
    });
}

void AlarmJournal::noteGapReason(std::string_view reason) {
    guarded(Needs::session,
            [&](sql::Connection& db) { noteJournalGapReason(db, m_session, reason); });
}

void AlarmJournal::heartbeat(JournalClock::time_point at) {
    guarded(Needs::session, [&](sql::Connection& db) {
        markSessionAlive(db, m_session, at);
        if (m_role == Role::writer) {
            retentionLocked(db, at);
        }
    });
}

void AlarmJournal::endSession(JournalClock::time_point at) {
    guarded(Needs::session,
            [&](sql::Connection& db) { endJournalSession(db, std::exchange(m_session, 0), at); });
}

std::optional<std::int64_t> AlarmJournal::record(const JournalEntry& entry) {
    return guarded(Needs::database, [&](sql::Connection& db) -> std::optional<std::int64_t> {
        const RecordedAlarm recorded = recordJournalAlarm(db, snapshotFolder(), entry, m_session);
        recorded.snapshotError ? failed(recorded.snapshotError) : succeeded();
        if (recorded.added && m_role == Role::writer && retentionDueAfter(entry.snapshot.size())) {
            // The row is in: a retention that fails is told, and tried again later.
            try {
                retentionLocked(db, entry.receivedAt);
            } catch (const sql::Error& error) {
                failed(error.error);
            }
        }
        return recorded.id;
    });
}

std::vector<JournalKey> AlarmJournal::list(const JournalFilter& filter) {
    return guarded(Needs::database,
                   [&](const sql::Connection& db) { return listJournal(db, filter); });
}

std::vector<JournalRow> AlarmJournal::rows(std::span<const JournalKey> keys) {
    if (keys.empty()) {
        return {};
    }
    return guarded(Needs::database,
                   [&](const sql::Connection& db) { return journalRows(db, keys); });
}

int AlarmJournal::markReviewed(std::span<const std::int64_t> ids, std::string_view user,
                               std::string_view note, JournalClock::time_point at) {
    if (ids.empty()) {
        return 0;
    }
    return guarded(Needs::database, [&](sql::Connection& db) {
        const int marked = markJournalReviewed(db, ids, user, note, at);
        succeeded();
        return marked;
    });
}

int AlarmJournal::unreviewedCount() {
    return guarded(Needs::database, [](const sql::Connection& db) { return countUnreviewed(db); });
}

std::vector<std::string> AlarmJournal::channels() {
    return guarded(Needs::database, [](const sql::Connection& db) { return journalChannels(db); });
}

std::vector<JournalSite> AlarmJournal::sites() {
    return guarded(Needs::database, [](const sql::Connection& db) { return journalSites(db); });
}

int AlarmJournal::applyRetention(JournalClock::time_point now) {
    return guarded(Needs::database, [&](sql::Connection& db) { return retentionLocked(db, now); });
}

std::string gapText(const JournalRow& gap, JournalClock::time_point today) {
    const std::string day = formatLocalTime(today, "%Y%m%d");
    const auto when = [&](JournalClock::time_point time) {
        return formatLocalTime(
            time, day == formatLocalTime(time, "%Y%m%d") ? "%H:%M:%S" : "%d-%b-%Y %H:%M:%S");
    };
    const std::string reason = gap.gapReason.empty() ? "" : " (" + gap.gapReason + ")";
    if (!gap.gapEnd) {
        return "No alarms can be received since " + when(gap.time) + reason;
    }
    return "No alarms could be received from " + when(gap.time) + " to " + when(*gap.gapEnd) +
           reason;
}

std::string serverName(std::string_view site, std::string_view server) {
    if (!site.empty()) {
        return std::string(site);
    }
    // A row written without its address still reads as a server's.
    return server.empty() ? "First server" : std::string(server);
}

}  // namespace krt
