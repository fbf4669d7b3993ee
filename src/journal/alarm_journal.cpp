#include "journal/alarm_journal.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <locale>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "common/app_state.h"
#include "journal/snapshot_file.h"
#include "protocol/diag_log.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr const char* kModule = "KRT";
constexpr const char* kOpenSource = "AlarmJournal::open()";
constexpr const char* kReconcileSource = "AlarmJournal::reconcile()";
constexpr const char* kWriteSource = "AlarmJournal::record()";

constexpr int kBusyTimeout_ms = 10'000;
// Retention is applied at the start and after this many recorded alarms.
constexpr int kRecordsPerRetention = 100;
// A file without a row younger than this may be another writer's whose row is on its way.
constexpr auto kOrphanAge = std::chrono::minutes(1);
// The same alarm received by another session within this long is the same alarm.
constexpr auto kSameAlarmWindow = std::chrono::minutes(1);
// "connecting" at a first start, ended within this long, hid nothing: it is not kept.
constexpr auto kShortestStartGap = std::chrono::seconds(1);
constexpr std::size_t kMaxNoteBytes = std::size_t{64} * 1024;
constexpr const char* kConnecting = "connecting";
constexpr const char* kNotRunning = "client not running";

// The schema, one step per version; a journal of version n runs the steps from n on.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE alarms (
    id INTEGER PRIMARY KEY,
    server TEXT NOT NULL,
    channel_id TEXT NOT NULL,
    alarm_name TEXT NOT NULL,
    timestamp TEXT NOT NULL,
    time_text TEXT NOT NULL,
    alarm_ms INTEGER,
    received_ms INTEGER NOT NULL,
    late INTEGER NOT NULL,
    snapshot_file TEXT,
    snapshot_bytes INTEGER NOT NULL DEFAULT 0,
    reviewed_ms INTEGER,
    reviewed_by TEXT,
    note TEXT,
    session_id INTEGER
);
CREATE INDEX alarms_by_time ON alarms(received_ms, id);
CREATE INDEX alarms_by_channel ON alarms(channel_id, received_ms);
CREATE INDEX alarms_unreviewed ON alarms(received_ms) WHERE reviewed_ms IS NULL;
CREATE INDEX alarms_by_timestamp ON alarms(server, timestamp);
CREATE TABLE sessions (
    id INTEGER PRIMARY KEY,
    server TEXT NOT NULL,
    program TEXT NOT NULL,
    pid INTEGER NOT NULL,
    started_ms INTEGER NOT NULL,
    alive_ms INTEGER NOT NULL,
    ended_ms INTEGER
);
CREATE TABLE gaps (
    id INTEGER PRIMARY KEY,
    server TEXT NOT NULL,
    session_id INTEGER,
    started_ms INTEGER NOT NULL,
    ended_ms INTEGER,
    reason TEXT NOT NULL
);
CREATE INDEX gaps_by_time ON gaps(started_ms);
)sql",
};
static_assert(std::size(kMigrations) == AlarmJournal::kSchemaVersion);

std::int64_t toMs(JournalClock::time_point time) {
    return std::chrono::duration_cast<milliseconds>(time.time_since_epoch()).count();
}

JournalClock::time_point fromMs(std::int64_t ms) {
    return JournalClock::time_point(
        std::chrono::duration_cast<JournalClock::duration>(milliseconds(ms)));
}

// A failure of SQLite, with the error it comes to for the user.
struct SqlError {
    std::error_code error;
};

std::error_code errorOf(sqlite3* db, int code) {
    const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
    switch (code & 0xFF) {
        case SQLITE_FULL:
            return std::make_error_code(std::errc::no_space_on_device);
        case SQLITE_READONLY:
            return std::make_error_code(std::errc::read_only_file_system);
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return std::make_error_code(std::errc::permission_denied);
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return std::make_error_code(std::errc::device_or_resource_busy);
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return std::make_error_code(std::errc::illegal_byte_sequence);
        default:
            break;
    }
    return system != 0 ? std::error_code(system, std::generic_category())
                       : std::make_error_code(std::errc::io_error);
}

class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql) : m_db(db) {
        const int code =
            sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_statement, nullptr);
        if (code != SQLITE_OK) {
            throw SqlError{errorOf(db, code)};
        }
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(m_statement, index, value));
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        check(sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, std::optional<std::int64_t> value) {
        check(value ? sqlite3_bind_int64(m_statement, index, *value)
                    : sqlite3_bind_null(m_statement, index));
        return *this;
    }
    Statement& bind(int index, std::nullptr_t) {
        check(sqlite3_bind_null(m_statement, index));
        return *this;
    }
    // A named parameter (":since"), wherever and however often it appears.
    template <typename Value>
    Statement& bind(const char* name, Value value) {
        return bind(sqlite3_bind_parameter_index(m_statement, name), value);
    }
    // True while there is a row to read.
    bool step() {
        const int code = sqlite3_step(m_statement);
        if (code == SQLITE_ROW) {
            return true;
        }
        if (code != SQLITE_DONE) {
            throw SqlError{errorOf(m_db, code)};
        }
        return false;
    }
    void run() {
        while (step()) {
        }
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    bool isNull(int column) const {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    std::optional<std::int64_t> optionalInteger(int column) const {
        return isNull(column) ? std::nullopt : std::optional(integer(column));
    }
    std::string text(int column) const {
        const auto* text = sqlite3_column_text(m_statement, column);
        return text == nullptr
                   ? std::string()
                   : std::string(
                         reinterpret_cast<const char*>(text),
                         static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
    }

  private:
    void check(int code) const {
        if (code != SQLITE_OK) {
            throw SqlError{errorOf(m_db, code)};
        }
    }

    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

void execute(sqlite3* db, const char* sql) {
    const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        throw SqlError{errorOf(db, code)};
    }
}

// A write transaction taken at once (not upgraded later, which another writer could refuse);
// rolled back unless committed.
class WriteTransaction {
  public:
    explicit WriteTransaction(sqlite3* db) : m_db(db) { execute(db, "BEGIN IMMEDIATE"); }
    ~WriteTransaction() {
        if (!m_done) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    void commit() {
        execute(m_db, "COMMIT");
        m_done = true;
    }

  private:
    sqlite3* m_db;
    bool m_done = false;
};

// Creates every missing folder of the path for the user alone (the data folder may hold
// surveillance pictures), whatever the umask.
std::error_code makePrivateFolders(const fs::path& folder) {
    std::error_code error;
    fs::path built;
    for (const fs::path& part : folder) {
        built /= part;
        if (fs::is_directory(built, error)) {
            continue;
        }
        if (!fs::create_directory(built, error) && error) {
            return error;
        }
        fs::permissions(built, fs::perms::owner_all, fs::perm_options::replace, error);
    }
    return fs::is_directory(folder, error) ? std::error_code() : error;
}

bool processRuns(std::int64_t pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// A name no other writer of any process uses.
std::string snapshotNameFor(const JournalEntry& entry) {
    static std::atomic<unsigned> counter{0};
    const auto ms = toMs(entry.receivedAt) % 1000;
    return journalLocalTime(entry.receivedAt, "%Y%m%d-%H%M%S") + "-" +
           std::to_string(ms + 1000).substr(1) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".jpg";
}

// LIKE's own characters in a text to find, escaped with '\'.
std::string likePattern(std::string_view text) {
    std::string pattern = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\') {
            pattern.push_back('\\');
        }
        pattern.push_back(c);
    }
    return pattern + "%";
}

std::string placeholders(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += i == 0 ? "?" : ",?";
    }
    return text;
}

std::string cut(std::string_view text, std::size_t bytes) {
    text = text.substr(0, bytes);
    // Not in the middle of a character.
    while (!text.empty() && text.size() == bytes &&
           (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

}  // namespace

struct AlarmJournal::Database {
    sqlite3* db = nullptr;

    ~Database() { sqlite3_close_v2(db); }
};

fs::path AlarmJournal::defaultFolder() {
    return userDataFolder();
}

JournalLimits journalLimitsFromText(std::string_view maxAlarms, std::string_view maxDays) {
    const auto number = [](std::string_view text, int low, int high, int fallback) {
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() && value >= low &&
                       value <= high
                   ? value
                   : fallback;
    };
    const JournalLimits defaults;
    return {number(maxAlarms, kJournalAlarmsRange.first, kJournalAlarmsRange.second,
                   defaults.maxAlarms),
            number(maxDays, kJournalDaysRange.first, kJournalDaysRange.second, defaults.maxDays)};
}

AlarmJournal::AlarmJournal(fs::path folder, Role role, JournalLimits limits)
    : m_folder(std::move(folder)), m_role(role), m_limits(limits) {
    std::lock_guard lock(m_mutex);
    openOrSetAside();
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
    std::lock_guard lock(m_mutex);
    m_limits = limits;
}

void AlarmJournal::failed(std::error_code error) {
    m_trouble = JournalTrouble{error, m_folder};
}

void AlarmJournal::succeeded() {
    m_trouble.reset();
}

bool AlarmJournal::openLocked() {
    m_database.reset();
    if (const std::error_code error = makePrivateFolders(snapshotFolder())) {
        throw SqlError{error};
    }
    const fs::path file = m_folder / kFileName;
    // Created here for the user alone; SQLite gives its side files the same mode. Only a new
    // file is opened: closing any descriptor of a journal that this process has open would drop
    // all of its SQLite locks on it, and another program would then take the journal for unused.
    if (const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        fd >= 0) {
        ::close(fd);
    }
    ::chmod(file.c_str(), 0600);
    auto database = std::make_unique<Database>();
    const int code = sqlite3_open_v2(file.c_str(), &database->db,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) {
        throw SqlError{errorOf(database->db, code)};
    }
    sqlite3* db = database->db;
    sqlite3_busy_timeout(db, kBusyTimeout_ms);
    const std::int64_t schema = [db] {
        Statement version(db, "PRAGMA user_version");
        return version.step() ? version.integer(0) : 0;
    }();
    if (schema > kSchemaVersion) {
        return false;  // a newer program's
    }
    if (m_role == Role::writer) {
        Statement check(db, "PRAGMA quick_check");
        if (!check.step() || check.text(0) != "ok") {
            throw SqlError{std::make_error_code(std::errc::illegal_byte_sequence)};
        }
    }
    execute(db, "PRAGMA journal_mode=WAL");
    execute(db, "PRAGMA synchronous=NORMAL");
    if (schema < kSchemaVersion) {
        WriteTransaction transaction(db);
        for (auto step = schema; step < kSchemaVersion; ++step) {
            execute(db, kMigrations[step]);
        }
        execute(db, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        transaction.commit();
    }
    m_database = std::move(database);
    return true;
}

void AlarmJournal::openOrSetAside() {
    std::string kind;
    try {
        if (openLocked()) {
            succeeded();
            return;
        }
        kind = "newer";
    } catch (const SqlError& error) {
        if (error.error != std::errc::illegal_byte_sequence || m_role != Role::writer) {
            failed(error.error);
            m_database.reset();
            writeLog(kModule, kOpenSource, "The alarm journal cannot be opened.");
            return;
        }
        kind = "damaged";
    }
    // Never deleted: renamed aside with its side files, and a new journal started.
    m_database.reset();
    const fs::path file = m_folder / kFileName;
    const std::string aside = std::string(kFileName) + "." + kind + "-" +
                              journalLocalTime(JournalClock::now(), "%Y%m%d-%H%M%S");
    std::error_code error;
    fs::rename(file, m_folder / aside, error);
    for (const char* side : {"-wal", "-shm"}) {
        std::error_code ignored;
        fs::rename(file.string() + side, (m_folder / aside).string() + side, ignored);
    }
    if (error) {
        failed(error);
        writeLog(kModule, kOpenSource, "The alarm journal cannot be set aside.");
        return;
    }
    m_notice = kind == "newer"
                   ? "The alarm journal was written by a newer version; it was set aside as " +
                         aside + " and a new one started"
                   : "The alarm journal was damaged; it was set aside as " + aside +
                         " and a new one started";
    writeLog(kModule, kOpenSource, m_notice.c_str());
    try {
        openLocked();
        succeeded();
    } catch (const SqlError& again) {
        failed(again.error);
        m_database.reset();
    }
}

bool AlarmJournal::ensureOpenLocked() {
    if (m_database) {
        return true;
    }
    // Tried again at every use: a folder that was full or read-only may be writable again.
    openOrSetAside();
    return m_database != nullptr;
}

void AlarmJournal::startSession(std::string_view server, JournalClock::time_point now) {
    std::lock_guard lock(m_mutex);
    m_server = std::string(server);
    if (!ensureOpenLocked()) {
        return;
    }
    try {
        reconcileLocked();
        retentionLocked(now);
        sqlite3* db = m_database->db;
        WriteTransaction transaction(db);
        // Sessions of this server whose program no longer runs are over: a crash ended them
        // when they were last seen alive.
        bool othersListen = false;
        std::optional<std::int64_t> lastEnd;
        {
            Statement sessions(db,
                               "SELECT id, pid, alive_ms, ended_ms FROM sessions WHERE server = ?");
            sessions.bind(1, server);
            std::vector<std::pair<std::int64_t, std::int64_t>> crashed;
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
            for (const auto& [id, alive] : crashed) {
                Statement end(db, "UPDATE sessions SET ended_ms = ? WHERE id = ?");
                end.bind(1, alive).bind(2, id).run();
            }
        }
        Statement insert(db,
                         "INSERT INTO sessions (server, program, pid, started_ms, alive_ms) "
                         "VALUES (?, ?, ?, ?, ?)");
        insert.bind(1, server).bind(2, std::string_view(program_invocation_short_name));
        insert.bind(3, std::int64_t{::getpid()});
        insert.bind(4, toMs(now)).bind(5, toMs(now)).run();
        m_session = sqlite3_last_insert_rowid(db);
        if (!othersListen) {
            // The interval that a finished session left open goes on until this one listens.
            Statement adopt(db,
                            "UPDATE gaps SET session_id = ? WHERE server = ? AND ended_ms IS NULL");
            adopt.bind(1, m_session).bind(2, server).run();
            if (sqlite3_changes(db) == 0) {
                Statement gap(db,
                              "INSERT INTO gaps (server, session_id, started_ms, reason) "
                              "VALUES (?, ?, ?, ?)");
                gap.bind(1, server).bind(2, m_session);
                gap.bind(3, lastEnd.value_or(toMs(now)));
                gap.bind(4, std::string_view(lastEnd ? kNotRunning : kConnecting)).run();
            }
        }
        transaction.commit();
        succeeded();
    } catch (const SqlError& error) {
        failed(error.error);
    }
}

void AlarmJournal::endGap(JournalClock::time_point at) {
    std::lock_guard lock(m_mutex);
    if (m_session == 0 || !ensureOpenLocked()) {
        return;
    }
    try {
        sqlite3* db = m_database->db;
        WriteTransaction transaction(db);
        // A first start's "connecting" that ended at once hid nothing.
        Statement drop(db,
                       "DELETE FROM gaps WHERE session_id = ? AND ended_ms IS NULL AND "
                       "reason = ? AND started_ms > ?");
        drop.bind(1, m_session).bind(2, std::string_view(kConnecting));
        drop.bind(3, toMs(at - kShortestStartGap)).run();
        Statement end(db, "UPDATE gaps SET ended_ms = ? WHERE session_id = ? AND ended_ms IS NULL");
        end.bind(1, toMs(at)).bind(2, m_session).run();
        Statement alive(db, "UPDATE sessions SET alive_ms = ? WHERE id = ?");
        alive.bind(1, toMs(at)).bind(2, m_session).run();
        transaction.commit();
        succeeded();
    } catch (const SqlError& error) {
        failed(error.error);
    }
}

void AlarmJournal::beginGap(JournalClock::time_point at, std::string_view reason) {
    std::lock_guard lock(m_mutex);
    if (m_session == 0 || !ensureOpenLocked()) {
        return;
    }
    try {
        Statement gap(m_database->db,
                      "INSERT INTO gaps (server, session_id, started_ms, reason) "
                      "SELECT ?, ?, ?, ? WHERE NOT EXISTS (SELECT 1 FROM gaps WHERE "
                      "session_id = ? AND ended_ms IS NULL)");
        gap.bind(1, m_server).bind(2, m_session).bind(3, toMs(at)).bind(4, reason);
        gap.bind(5, m_session).run();
        succeeded();
    } catch (const SqlError& error) {
        failed(error.error);
    }
}

void AlarmJournal::noteGapReason(std::string_view reason) {
    std::lock_guard lock(m_mutex);
    if (m_session == 0 || !ensureOpenLocked()) {
        return;
    }
    try {
        Statement update(m_database->db,
                         "UPDATE gaps SET reason = ? WHERE session_id = ? AND ended_ms IS NULL "
                         "AND reason = ?");
        update.bind(1, reason).bind(2, m_session).bind(3, std::string_view(kConnecting)).run();
    } catch (const SqlError& error) {
        failed(error.error);
    }
}

void AlarmJournal::heartbeat(JournalClock::time_point at) {
    std::lock_guard lock(m_mutex);
    if (m_session == 0 || !ensureOpenLocked()) {
        return;
    }
    try {
        Statement alive(m_database->db, "UPDATE sessions SET alive_ms = ? WHERE id = ?");
        alive.bind(1, toMs(at)).bind(2, m_session).run();
    } catch (const SqlError& error) {
        failed(error.error);
    }
}

void AlarmJournal::endSession(JournalClock::time_point at) {
    std::lock_guard lock(m_mutex);
    if (m_session == 0 || !ensureOpenLocked()) {
        return;
    }
    try {
        Statement end(m_database->db,
                      "UPDATE sessions SET alive_ms = ?, ended_ms = ? WHERE id = ?");
        end.bind(1, toMs(at)).bind(2, toMs(at)).bind(3, m_session).run();
    } catch (const SqlError& error) {
        failed(error.error);
    }
    m_session = 0;
}

std::string AlarmJournal::keepSnapshotLocked(const JournalEntry& entry, std::error_code& error) {
    if (entry.snapshot.empty()) {
        return {};
    }
    std::string name = snapshotNameFor(entry);
    const fs::path target = snapshotFolder() / name;
    // The file the channel wrote is linked rather than written again.
    if (!entry.snapshotFile.empty() && ::link(entry.snapshotFile.c_str(), target.c_str()) == 0) {
        return name;
    }
    error = writeSnapshotFile(target, entry.snapshot);
    return error ? std::string() : name;
}

std::optional<std::int64_t> AlarmJournal::record(const JournalEntry& entry) {
    std::lock_guard lock(m_mutex);
    if (!ensureOpenLocked()) {
        return std::nullopt;
    }
    std::string snapshotName;
    try {
        sqlite3* db = m_database->db;
        WriteTransaction transaction(db);
        // Another program of this user that heard the same alarm has recorded it already.
        std::optional<std::int64_t> existing;
        {
            Statement same(db,
                           "SELECT id FROM alarms WHERE server = ? AND timestamp = ? AND "
                           "channel_id = ? AND alarm_name = ? AND received_ms > ? AND "
                           "session_id IS NOT ? LIMIT 1");
            same.bind(1, entry.server).bind(2, entry.timestamp).bind(3, entry.channelId);
            same.bind(4, entry.alarmName).bind(5, toMs(entry.receivedAt - kSameAlarmWindow));
            same.bind(6, m_session != 0 ? std::optional(m_session) : std::nullopt);
            if (same.step()) {
                existing = same.integer(0);
            }
        }
        if (existing) {
            transaction.commit();
            succeeded();
            return existing;
        }
        std::error_code snapshotError;
        snapshotName = keepSnapshotLocked(entry, snapshotError);
        Statement insert(db,
                         "INSERT INTO alarms (server, channel_id, alarm_name, timestamp, "
                         "time_text, alarm_ms, received_ms, late, snapshot_file, snapshot_bytes, "
                         "session_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        insert.bind(1, entry.server).bind(2, entry.channelId).bind(3, entry.alarmName);
        insert.bind(4, entry.timestamp).bind(5, entry.timeText);
        insert.bind(6, entry.alarmTime ? std::optional(toMs(*entry.alarmTime)) : std::nullopt);
        insert.bind(7, toMs(entry.receivedAt)).bind(8, std::int64_t{entry.late ? 1 : 0});
        if (snapshotName.empty()) {
            insert.bind(9, nullptr);
        } else {
            insert.bind(9, std::string_view(snapshotName));
        }
        insert.bind(10,
                    static_cast<std::int64_t>(snapshotName.empty() ? 0 : entry.snapshot.size()));
        insert.bind(11, m_session != 0 ? std::optional(m_session) : std::nullopt);
        insert.run();
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        if (m_session != 0) {
            Statement alive(db, "UPDATE sessions SET alive_ms = ? WHERE id = ?");
            alive.bind(1, toMs(entry.receivedAt)).bind(2, m_session).run();
        }
        transaction.commit();
        snapshotError ? failed(snapshotError) : succeeded();
        if (m_role == Role::writer && ++m_recordsSinceRetention >= kRecordsPerRetention) {
            retentionLocked(entry.receivedAt);
        }
        return id;
    } catch (const SqlError& error) {
        if (!snapshotName.empty()) {
            removeSnapshotFile(snapshotFolder() / snapshotName);
        }
        failed(error.error);
        writeLog(kModule, kWriteSource, "Unable to record the alarm.");
        return std::nullopt;
    }
}

std::vector<JournalKey> AlarmJournal::list(const JournalFilter& filter) {
    std::lock_guard lock(m_mutex);
    std::vector<JournalKey> keys;
    if (!ensureOpenLocked()) {
        return keys;
    }
    // Only the conditions the filter sets, so that the indexes serve; every value is bound.
    // Ordered by time and ID alone, both branches come in index order and are merged as they
    // come, with no sort of all rows.
    std::string alarms = "SELECT 0, id, received_ms FROM alarms WHERE 1";
    std::string gaps = "SELECT 1, id, started_ms FROM gaps WHERE 1";
    if (!filter.channelId.empty()) {
        alarms += " AND channel_id = :channel";
    }
    if (!filter.nameContains.empty()) {
        alarms += " AND alarm_name LIKE :name ESCAPE '\\'";
    }
    if (filter.since) {
        alarms += " AND received_ms >= :since";
        gaps += " AND (ended_ms IS NULL OR ended_ms >= :since)";
    }
    if (filter.until) {
        alarms += " AND received_ms <= :until";
        gaps += " AND started_ms <= :until";
    }
    if (filter.unreviewedOnly) {
        alarms += " AND reviewed_ms IS NULL";
    }
    try {
        Statement query(m_database->db, alarms + " UNION ALL " + gaps + " ORDER BY 3 DESC, 2 DESC");
        if (!filter.channelId.empty()) {
            query.bind(":channel", std::string_view(filter.channelId));
        }
        if (!filter.nameContains.empty()) {
            query.bind(":name", std::string_view(likePattern(filter.nameContains)));
        }
        if (filter.since) {
            query.bind(":since", toMs(*filter.since));
        }
        if (filter.until) {
            query.bind(":until", toMs(*filter.until));
        }
        while (query.step()) {
            keys.push_back({query.integer(0) == 0 ? JournalRow::Kind::alarm : JournalRow::Kind::gap,
                            query.integer(1)});
        }
    } catch (const SqlError& error) {
        failed(error.error);
        keys.clear();
    }
    return keys;
}

std::vector<JournalRow> AlarmJournal::rows(std::span<const JournalKey> keys) {
    std::lock_guard lock(m_mutex);
    std::vector<JournalRow> found;
    if (keys.empty() || !ensureOpenLocked()) {
        return found;
    }
    std::vector<std::int64_t> alarmIds;
    std::vector<std::int64_t> gapIds;
    for (const JournalKey& key : keys) {
        (key.kind == JournalRow::Kind::alarm ? alarmIds : gapIds).push_back(key.id);
    }
    std::map<std::int64_t, JournalRow> alarms;
    std::map<std::int64_t, JournalRow> gaps;
    try {
        if (!alarmIds.empty()) {
            Statement query(m_database->db,
                            "SELECT id, received_ms, server, channel_id, alarm_name, time_text, "
                            "alarm_ms, late, snapshot_file, snapshot_bytes, reviewed_ms, "
                            "reviewed_by, note FROM alarms WHERE id IN (" +
                                placeholders(alarmIds.size()) + ")");
            for (std::size_t i = 0; i < alarmIds.size(); ++i) {
                query.bind(static_cast<int>(i + 1), alarmIds[i]);
            }
            while (query.step()) {
                JournalRow row;
                row.id = query.integer(0);
                row.time = fromMs(query.integer(1));
                row.server = query.text(2);
                row.channelId = query.text(3);
                row.alarmName = query.text(4);
                row.timeText = query.text(5);
                if (const auto ms = query.optionalInteger(6)) {
                    row.alarmTime = fromMs(*ms);
                }
                row.late = query.integer(7) != 0;
                row.snapshotName = query.text(8);
                row.snapshotBytes = query.integer(9);
                if (const auto ms = query.optionalInteger(10)) {
                    row.reviewedAt = fromMs(*ms);
                }
                row.reviewedBy = query.text(11);
                row.note = query.text(12);
                alarms.emplace(row.id, std::move(row));
            }
        }
        if (!gapIds.empty()) {
            Statement query(m_database->db,
                            "SELECT id, started_ms, ended_ms, reason, server FROM gaps WHERE id "
                            "IN (" +
                                placeholders(gapIds.size()) + ")");
            for (std::size_t i = 0; i < gapIds.size(); ++i) {
                query.bind(static_cast<int>(i + 1), gapIds[i]);
            }
            while (query.step()) {
                JournalRow row;
                row.kind = JournalRow::Kind::gap;
                row.id = query.integer(0);
                row.time = fromMs(query.integer(1));
                if (const auto ms = query.optionalInteger(2)) {
                    row.gapEnd = fromMs(*ms);
                }
                row.gapReason = query.text(3);
                row.server = query.text(4);
                gaps.emplace(row.id, std::move(row));
            }
        }
    } catch (const SqlError& error) {
        failed(error.error);
        return found;
    }
    for (const JournalKey& key : keys) {
        auto& source = key.kind == JournalRow::Kind::alarm ? alarms : gaps;
        if (const auto row = source.find(key.id); row != source.end()) {
            found.push_back(std::move(row->second));
        }
    }
    return found;
}

int AlarmJournal::markReviewed(std::span<const std::int64_t> ids, std::string_view user,
                               std::string_view note, JournalClock::time_point at) {
    std::lock_guard lock(m_mutex);
    if (ids.empty() || !ensureOpenLocked()) {
        return 0;
    }
    try {
        sqlite3* db = m_database->db;
        WriteTransaction transaction(db);
        int marked = 0;
        // In slices, so that a selection of every row stays within SQLite's parameters.
        constexpr std::size_t kSlice = 500;
        for (std::size_t start = 0; start < ids.size(); start += kSlice) {
            const std::span<const std::int64_t> slice =
                ids.subspan(start, std::min(kSlice, ids.size() - start));
            Statement update(db,
                             "UPDATE alarms SET reviewed_ms = ?, reviewed_by = ?, note = CASE "
                             "WHEN ? = '' THEN note ELSE ? END WHERE id IN (" +
                                 placeholders(slice.size()) + ")");
            const std::string kept = cut(note, kMaxNoteBytes);
            update.bind(1, toMs(at)).bind(2, user).bind(3, std::string_view(kept));
            update.bind(4, std::string_view(kept));
            for (std::size_t i = 0; i < slice.size(); ++i) {
                update.bind(static_cast<int>(i + 5), slice[i]);
            }
            update.run();
            marked += sqlite3_changes(db);
        }
        transaction.commit();
        succeeded();
        return marked;
    } catch (const SqlError& error) {
        failed(error.error);
        return 0;
    }
}

int AlarmJournal::unreviewedCount() {
    std::lock_guard lock(m_mutex);
    if (!ensureOpenLocked()) {
        return 0;
    }
    try {
        Statement count(m_database->db, "SELECT count(*) FROM alarms WHERE reviewed_ms IS NULL");
        return count.step() ? static_cast<int>(count.integer(0)) : 0;
    } catch (const SqlError& error) {
        failed(error.error);
        return 0;
    }
}

std::vector<std::string> AlarmJournal::channels() {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> found;
    if (!ensureOpenLocked()) {
        return found;
    }
    try {
        Statement query(m_database->db,
                        "SELECT DISTINCT channel_id FROM alarms ORDER BY channel_id");
        while (query.step()) {
            found.push_back(query.text(0));
        }
    } catch (const SqlError& error) {
        failed(error.error);
    }
    return found;
}

int AlarmJournal::applyRetention(JournalClock::time_point now) {
    std::lock_guard lock(m_mutex);
    if (!ensureOpenLocked()) {
        return 0;
    }
    try {
        return retentionLocked(now);
    } catch (const SqlError& error) {
        failed(error.error);
        return 0;
    }
}

int AlarmJournal::retentionLocked(JournalClock::time_point now) {
    m_recordsSinceRetention = 0;
    sqlite3* db = m_database->db;
    const std::int64_t cutoff = toMs(now - std::chrono::days(std::max(m_limits.maxDays, 1)));
    std::vector<std::string> files;
    int removed = 0;
    {
        WriteTransaction transaction(db);
        const auto collect = [&](Statement& deletion) {
            while (deletion.step()) {
                ++removed;
                if (!deletion.isNull(0)) {
                    files.push_back(deletion.text(0));
                }
            }
        };
        Statement old(db, "DELETE FROM alarms WHERE received_ms < ? RETURNING snapshot_file");
        old.bind(1, cutoff);
        collect(old);
        Statement surplus(db,
                          "DELETE FROM alarms WHERE id IN (SELECT id FROM alarms ORDER BY "
                          "received_ms DESC, id DESC LIMIT -1 OFFSET ?) RETURNING snapshot_file");
        surplus.bind(1, std::int64_t{std::max(m_limits.maxAlarms, 0)});
        collect(surplus);
        Statement oldGaps(db, "DELETE FROM gaps WHERE ended_ms IS NOT NULL AND ended_ms < ?");
        oldGaps.bind(1, cutoff).run();
        // The last session of each server stays: the next start dates the interval after it.
        Statement oldSessions(db,
                              "DELETE FROM sessions WHERE ended_ms IS NOT NULL AND ended_ms < ? "
                              "AND id NOT IN (SELECT max(id) FROM sessions GROUP BY server)");
        oldSessions.bind(1, cutoff).run();
        transaction.commit();
    }
    // Rows and their files go together: a file left by a crash here goes at the next start.
    for (const std::string& file : files) {
        removeSnapshotFile(snapshotFolder() / file);
    }
    return removed;
}

void AlarmJournal::reconcileLocked() {
    sqlite3* db = m_database->db;
    std::set<std::string> named;
    int vanished = 0;
    {
        WriteTransaction transaction(db);
        std::vector<std::int64_t> lost;
        {
            Statement files(db,
                            "SELECT id, snapshot_file FROM alarms WHERE snapshot_file IS NOT "
                            "NULL");
            while (files.step()) {
                std::string name = files.text(1);
                std::error_code error;
                if (!fs::exists(snapshotFolder() / name, error)) {
                    lost.push_back(files.integer(0));
                } else {
                    named.insert(std::move(name));
                }
            }
        }
        for (const std::int64_t id : lost) {
            Statement forget(db,
                             "UPDATE alarms SET snapshot_file = NULL, snapshot_bytes = 0 WHERE "
                             "id = ?");
            forget.bind(1, id).run();
        }
        transaction.commit();
        vanished = static_cast<int>(lost.size());
    }
    int orphans = 0;
    std::error_code error;
    const auto oldEnough = fs::file_time_type::clock::now() - kOrphanAge;
    for (const auto& entry : fs::directory_iterator(snapshotFolder(), error)) {
        const std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (named.contains(name) || !entry.is_regular_file(ignored) ||
            entry.last_write_time(ignored) > oldEnough) {
            continue;
        }
        removeSnapshotFile(entry.path());
        ++orphans;
    }
    removeLeftoverSnapshotParts(snapshotFolder());
    if (vanished > 0 || orphans > 0) {
        const std::string message = std::to_string(orphans) +
                                    " snapshot files without a row removed, " +
                                    std::to_string(vanished) + " rows lost their snapshot file.";
        writeLog(kModule, kReconcileSource, message.c_str());
    }
}

std::string journalLocalTime(JournalClock::time_point time, const char* format) {
    const std::time_t seconds = JournalClock::to_time_t(time);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&parts, format);
    return text.str();
}

std::string gapText(const JournalRow& gap, JournalClock::time_point today) {
    const std::string day = journalLocalTime(today, "%Y%m%d");
    const auto when = [&](JournalClock::time_point time) {
        return journalLocalTime(
            time, day == journalLocalTime(time, "%Y%m%d") ? "%H:%M:%S" : "%d-%b-%Y %H:%M:%S");
    };
    const std::string reason = gap.gapReason.empty() ? "" : " (" + gap.gapReason + ")";
    if (!gap.gapEnd) {
        return "No alarms can be received since " + when(gap.time) + reason;
    }
    return "No alarms could be received from " + when(gap.time) + " to " + when(*gap.gapEnd) +
           reason;
}

}  // namespace krt
