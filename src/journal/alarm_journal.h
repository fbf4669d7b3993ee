#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

namespace krt {

namespace sql {
class Connection;
}

using JournalClock = std::chrono::system_clock;

// The journal's retention; the Settings page stores it (`JournalMaxAlarms`, `JournalMaxDays`,
// `JournalMaxMiB`).
struct JournalLimits {
    int maxAlarms = 10'000;
    int maxDays = 30;
    // The database's pages in use and the snapshot files of its rows together.
    int maxSize_MiB = 2048;

    bool operator==(const JournalLimits&) const = default;
};

// One received alarm, as it goes into the journal.
struct JournalEntry {
    std::string server;  // its address
    std::string site;    // its name in the operator's list; empty: the first server
    std::string channelId;
    std::string alarmName;
    std::string timestamp;  // kmAlarmTimestamp as received
    std::string timeText;   // "%d-%b-%Y::%H:%M:%S"
    std::optional<JournalClock::time_point> alarmTime;
    JournalClock::time_point receivedAt;
    bool late = false;
    // The picture as received (empty: none), and the file it already is in, if any: the
    // journal links its own file to it rather than writing the bytes again.
    std::span<const char> snapshot;
    std::filesystem::path snapshotFile;
    std::string snapshotMissing;  // no picture: why ("not fetched: too many waiting")
};

// One row of the History: an alarm, or an interval in which no alarm could be received.
struct JournalRow {
    enum class Kind { alarm, gap };

    Kind kind = Kind::alarm;
    std::int64_t id = 0;
    JournalClock::time_point time;  // the alarm's reception, or the gap's start
    std::string server;             // the address it came from
    std::string site;  // the server's name in the operator's list; empty: the first server
    // Alarms.
    std::string channelId;
    std::string alarmName;
    std::string timeText;
    std::optional<JournalClock::time_point> alarmTime;
    bool late = false;
    std::string snapshotName;  // the file in snapshotFolder(); empty: no snapshot kept
    std::int64_t snapshotBytes = 0;
    std::string snapshotMissing;  // no snapshot kept: why, when it is known
    std::optional<JournalClock::time_point> reviewedAt;
    std::string reviewedBy;
    std::string note;
    // Gaps: from `time` to `gapEnd` (none while it lasts).
    std::optional<JournalClock::time_point> gapEnd;
    std::string gapReason;

    bool operator==(const JournalRow&) const = default;
};

// Which rows the History shows. Gaps are shown for every camera and name, within the times.
struct JournalFilter {
    std::string channelId;     // exactly; empty: every camera
    std::string nameContains;  // ignoring letter case; empty: every name
    std::optional<JournalClock::time_point> since;
    std::optional<JournalClock::time_point> until;
    bool unreviewedOnly = false;
    // The server's name (empty: the first server's), for alarms and gaps; none: every server.
    std::optional<std::string> site;
};

// A server the journal holds rows of, for the History's filter.
struct JournalSite {
    std::string site;    // its name in the operator's list; empty: the first server
    std::string server;  // the address of its newest row

    bool operator==(const JournalSite&) const = default;
};

// Where a row stands in the History's order (newest first), without its details.
struct JournalKey {
    JournalRow::Kind kind = JournalRow::Kind::alarm;
    std::int64_t id = 0;

    bool operator==(const JournalKey&) const = default;
};

// Why a journal cannot be used where no system error says it.
enum class JournalError {
    // Its schema is newer than this program's: a reader leaves it as it is.
    newerVersion = 1,
};
std::error_code make_error_code(JournalError error);

}  // namespace krt

template <>
struct std::is_error_code_enum<krt::JournalError> : std::true_type {};

namespace krt {

// Why the journal is not being written, for the status line.
struct JournalTrouble {
    std::error_code error;
    std::filesystem::path folder;

    bool operator==(const JournalTrouble&) const = default;
};

// The alarm journal: every received alarm with its snapshot, and every interval in which no
// alarm could be received, in a SQLite database (WAL mode) in the user's data folder, the
// snapshots in a folder beside it. Several journals of several processes (two windows, the
// client and krt-cli) may use one database at once: SQLite's locking serialises them, with a
// busy timeout, so that no row is lost and no "locked" error reaches anyone.
//
// A journal that cannot be opened or written says why (trouble()) and tries again at the next
// write; nothing throws. Every call may come from any thread: one connection, one mutex.
class AlarmJournal {
  public:
    static constexpr const char* kFileName = "journal.sqlite3";
    static constexpr const char* kSnapshotFolderName = "snapshots";

    enum class Role {
        writer,  // a channel's: reconciles and applies retention at the start, records gaps
        reader,  // the History's and krt-cli's: reads and marks reviews only
    };

    // $XDG_DATA_HOME/krt-client, else ~/.local/share/krt-client (userDataFolder()).
    static std::filesystem::path defaultFolder();

    // Opens (or creates) the journal in `folder`. For a writer, a file that is not a journal of
    // ours, is damaged, or has a newer schema is renamed aside (never deleted) and a new one
    // started; notice() says so. A reader never moves a journal: trouble() says why it cannot
    // read it.
    AlarmJournal(std::filesystem::path folder, Role role, JournalLimits limits = {});
    ~AlarmJournal();
    AlarmJournal(const AlarmJournal&) = delete;
    AlarmJournal& operator=(const AlarmJournal&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path snapshotFolder() const { return m_folder / kSnapshotFolderName; }
    // What happened at the opening that the user must hear of (a journal set aside); empty
    // when nothing did.
    std::string notice() const;
    // Why the last write failed; nothing once one has succeeded.
    std::optional<JournalTrouble> trouble() const;

    // A writer applies new limits at once.
    void setLimits(JournalLimits limits);

    // Writers: the session of this program against one server, known by its address and its
    // name in the operator's list (empty: the first server). At the start an interval without
    // reception begins: from the end of the last session against that server when it is no
    // longer running ("client not running"), else from now ("connecting"). Each server's
    // intervals are its own: one server's session never ends or hides another's. A session
    // against the same server that has not ended goes on.
    void startSession(std::string_view server, JournalClock::time_point now,
                      std::string_view site = {});
    // The channel is subscribed: the interval without reception ends.
    void endGap(JournalClock::time_point at);
    // The channel stopped listening, for `reason`.
    void beginGap(JournalClock::time_point at, std::string_view reason);
    // A first attempt failed: the "connecting" interval gets its reason.
    void noteGapReason(std::string_view reason);
    // The session still runs: a crash is then dated within this much. The limits are applied
    // too.
    void heartbeat(JournalClock::time_point at);
    static constexpr std::chrono::seconds kHeartbeatPeriod{30};
    // The session ends; an interval without reception stays open for the next session.
    void endSession(JournalClock::time_point at);

    // Records one alarm with its snapshot; its row ID, or nothing when no row could be
    // written. trouble() says why either the row or its snapshot was not written.
    std::optional<std::int64_t> record(const JournalEntry& entry);

    // Every row the filter lets through, newest first.
    std::vector<JournalKey> list(const JournalFilter& filter);
    // The rows of these keys, in the same order (a row deleted meanwhile is left out).
    std::vector<JournalRow> rows(std::span<const JournalKey> keys);
    // Marks the alarms reviewed by `user` at `at`, with the note (empty: none); how many were.
    int markReviewed(std::span<const std::int64_t> ids, std::string_view user,
                     std::string_view note, JournalClock::time_point at);
    int unreviewedCount();
    // The cameras and alarm names of the journal, for the History's filters.
    std::vector<std::string> channels();
    // The servers of the journal's alarms and intervals, the first server first.
    std::vector<JournalSite> sites();

    // Deletes the alarms beyond the limits (by age, count and size, the oldest first) with their
    // snapshots, and gaps older than the age limit; how many alarms went.
    int applyRetention(JournalClock::time_point now);

  private:
    enum class Needs { database, session };
    // Runs `work` on the open database under the lock; a failure of SQLite goes to trouble()
    // and gives an empty result.
    template <typename Work>
    auto guarded(Needs needs, Work work);
    bool ensureOpenLocked();
    int retentionLocked(sql::Connection& db, JournalClock::time_point now);
    // Counts one more alarm recorded; true when retention is due again.
    bool retentionDueAfter(std::size_t snapshotBytes);
    void failed(std::error_code error);
    void succeeded();

    const std::filesystem::path m_folder;
    const Role m_role;
    mutable std::mutex m_mutex;
    JournalLimits m_limits;
    std::unique_ptr<sql::Connection> m_database;
    std::string m_notice;
    std::optional<JournalTrouble> m_trouble;
    std::int64_t m_session = 0;
    std::string m_server;
    std::string m_site;
    int m_recordsSinceRetention = 0;
    std::int64_t m_bytesSinceRetention = 0;
};

// "No alarms could be received from 02:14:05 to 02:14:47 (connection lost)"; "... since
// 02:14:05 (...)" while it lasts. Local times, with the date when the ends are on other days
// than `today`'s.
std::string gapText(const JournalRow& gap, JournalClock::time_point today);

// How the History names a server: by its name in the operator's list; the first server,
// which has none, by its address.
std::string serverName(std::string_view site, std::string_view server);

}  // namespace krt
