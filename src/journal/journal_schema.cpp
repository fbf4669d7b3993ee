#include "journal/journal_schema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <optional>

#include "common/local_time.h"
#include "common/private_file.h"
#include "protocol/diag_log.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModule = "KRT";
constexpr const char* kOpenSource = "AlarmJournal::open()";
constexpr int kBusyTimeout_ms = 10'000;

// The schema, one step per version; a journal of version n runs the steps from n on. A step
// is never edited once released: a change is a new step at the end.
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
    // Why an alarm has no snapshot; NULL when it has one or nobody knew.
    "ALTER TABLE alarms ADD COLUMN snapshot_missing TEXT;",
    // The server's name in the operator's list ('' the first server's, which is all that a
    // journal of a single-server client knew): two servers at one address are two.
    R"sql(
ALTER TABLE alarms ADD COLUMN site TEXT NOT NULL DEFAULT '';
ALTER TABLE gaps ADD COLUMN site TEXT NOT NULL DEFAULT '';
ALTER TABLE sessions ADD COLUMN site TEXT NOT NULL DEFAULT '';
CREATE INDEX alarms_by_site ON alarms(site, received_ms);
)sql",
};
constexpr auto kSchemaVersion = static_cast<std::int64_t>(std::size(kMigrations));

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The journal's file, made for the user alone when it is new; SQLite gives its side files the
// same mode. Never a link planted in its place.
void prepareFile(const fs::path& folder, const fs::path& file) {
    if (const std::error_code error =
            makePrivateFolder(folder / AlarmJournal::kSnapshotFolderName)) {
        throw sql::Error{error};
    }
    // SQLite makes its side files in the folder; without that right it names only the last
    // file it tried (ENOENT), which tells the user nothing true.
    if (::access(folder.c_str(), W_OK) != 0) {
        throw sql::Error{lastError()};
    }
    // The descriptor of a new file only is closed: closing one of a journal that this process
    // has open would drop all of its SQLite locks on it, and another program would then take
    // the journal for unused.
    std::error_code error;
    if (createPrivateFile(file, error).fd() < 0 && error != std::errc::file_exists) {
        throw sql::Error{error};
    }
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0) {
        throw sql::Error{lastError()};
    }
    if (!S_ISREG(status.st_mode)) {
        throw sql::Error{std::make_error_code(std::errc::too_many_symbolic_link_levels)};
    }
    // A journal of an earlier version may be readable by others.
    ::chmod(file.c_str(), 0600);
}

// The database of the current schema; nothing when the file is of a newer one.
std::unique_ptr<sql::Connection> openFile(const fs::path& folder, AlarmJournal::Role role) {
    const fs::path file = folder / AlarmJournal::kFileName;
    prepareFile(folder, file);
    auto db = std::make_unique<sql::Connection>(file, kBusyTimeout_ms);
    const std::int64_t schema = [&db] {
        sql::Statement version(*db, "PRAGMA user_version");
        return version.step() ? version.integer(0) : 0;
    }();
    if (schema > kSchemaVersion) {
        return nullptr;
    }
    if (role == AlarmJournal::Role::writer) {
        sql::Statement check(*db, "PRAGMA quick_check");
        if (!check.step() || check.text(0) != "ok") {
            throw sql::Error{std::make_error_code(std::errc::illegal_byte_sequence)};
        }
    }
    db->execute("PRAGMA journal_mode=WAL");
    db->execute("PRAGMA synchronous=NORMAL");
    if (schema < kSchemaVersion) {
        sql::WriteTransaction transaction(*db);
        for (auto step = schema; step < kSchemaVersion; ++step) {
            db->execute(kMigrations[step]);
        }
        db->execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        transaction.commit();
    }
    return db;
}

// The new name of the file set aside, or nothing when it could not be renamed.
std::optional<std::string> setAside(const fs::path& folder, const std::string& kind,
                                    std::error_code& error) {
    const fs::path file = folder / AlarmJournal::kFileName;
    std::string aside(AlarmJournal::kFileName);
    aside.append(".").append(kind).append("-").append(
        formatLocalTime(JournalClock::now(), "%Y%m%d-%H%M%S"));
    fs::rename(file, folder / aside, error);
    for (const char* side : {"-wal", "-shm"}) {
        std::error_code ignored;
        fs::rename(file.string() + side, (folder / aside).string() + side, ignored);
    }
    return error ? std::nullopt : std::optional(aside);
}

class JournalErrorCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "alarm journal"; }
    std::string message(int value) const override {
        switch (static_cast<JournalError>(value)) {
            case JournalError::newerVersion:
                return "it was written by a newer version of the program";
        }
        return "unknown alarm journal error";
    }
};

}  // namespace

std::error_code make_error_code(JournalError error) {
    static const JournalErrorCategory category;
    return {static_cast<int>(error), category};
}

OpenedJournal openJournal(const fs::path& folder, AlarmJournal::Role role) {
    OpenedJournal opened;
    std::string kind;
    try {
        opened.database = openFile(folder, role);
        if (opened.database) {
            return opened;
        }
        if (role == AlarmJournal::Role::reader) {
            opened.error = JournalError::newerVersion;
            writeLog(kModule, kOpenSource, "The alarm journal was written by a newer version.");
            return opened;
        }
        kind = "newer";
    } catch (const sql::Error& error) {
        if (error.error != std::errc::illegal_byte_sequence || role != AlarmJournal::Role::writer) {
            opened.error = error.error;
            writeLog(kModule, kOpenSource, "The alarm journal cannot be opened.");
            return opened;
        }
        kind = "damaged";
    }
    const std::optional<std::string> aside = setAside(folder, kind, opened.error);
    if (!aside) {
        writeLog(kModule, kOpenSource, "The alarm journal cannot be set aside.");
        return opened;
    }
    opened.notice = kind == "newer"
                        ? "The alarm journal was written by a newer version; it was set aside as " +
                              *aside + " and a new one started"
                        : "The alarm journal was damaged; it was set aside as " + *aside +
                              " and a new one started";
    writeLog(kModule, kOpenSource, opened.notice.c_str());
    try {
        opened.database = openFile(folder, role);
    } catch (const sql::Error& again) {
        opened.error = again.error;
    }
    return opened;
}

}  // namespace krt
