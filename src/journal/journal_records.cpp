#include "journal/journal_records.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/local_time.h"
#include "journal/journal_schema.h"
#include "journal/snapshot_file.h"
#include "protocol/diag_log.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModule = "KRT";
constexpr const char* kReconcileSource = "AlarmJournal::reconcile()";
constexpr const char* kWriteSource = "AlarmJournal::record()";
// A file without a row younger than this may be another writer's whose row is on its way.
constexpr auto kOrphanAge = std::chrono::minutes(1);
// The same alarm received by another session within this long is the same alarm.
constexpr auto kSameAlarmWindow = std::chrono::minutes(1);

// A name no other writer of any process uses.
std::string snapshotNameFor(const JournalEntry& entry) {
    static std::atomic<unsigned> counter{0};
    const auto ms = journalMs(entry.receivedAt) % 1000;
    return formatLocalTime(entry.receivedAt, "%Y%m%d-%H%M%S") + "-" +
           std::to_string(ms + 1000).substr(1) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".jpg";
}

// The name of the alarm's snapshot file in the folder; empty: none kept (`error` says why when
// there was a picture).
std::string keepSnapshot(const fs::path& folder, const JournalEntry& entry,
                         std::error_code& error) {
    if (entry.snapshot.empty()) {
        return {};
    }
    std::string name = snapshotNameFor(entry);
    const fs::path target = folder / name;
    // The file the channel wrote is linked rather than written again.
    if (!entry.snapshotFile.empty() && ::link(entry.snapshotFile.c_str(), target.c_str()) == 0) {
        return name;
    }
    error = writeSnapshotFile(target, entry.snapshot);
    return error ? std::string() : name;
}

// Why the row keeps no snapshot; nothing when it keeps one or nobody said.
std::optional<std::string> missingSnapshotReason(const JournalEntry& entry,
                                                 std::string_view keptName,
                                                 const std::error_code& keepError) {
    if (!keptName.empty()) {
        return std::nullopt;
    }
    if (keepError) {
        return "not saved: " + keepError.message();
    }
    if (entry.snapshotMissing.empty()) {
        return std::nullopt;
    }
    return entry.snapshotMissing;
}

std::optional<std::int64_t> sameAlarm(const sql::Connection& db, const JournalEntry& entry,
                                      std::optional<std::int64_t> session) {
    sql::Statement same(db,
                        "SELECT id FROM alarms WHERE server = ? AND site = ? AND timestamp = ? "
                        "AND channel_id = ? AND alarm_name = ? AND received_ms > ? AND "
                        "session_id IS NOT ? LIMIT 1",
                        entry.server, entry.site, entry.timestamp, entry.channelId, entry.alarmName,
                        journalMs(entry.receivedAt - kSameAlarmWindow), session);
    return same.step() ? std::optional(same.integer(0)) : std::nullopt;
}

std::int64_t queryInteger(const sql::Connection& db, std::string_view query) {
    sql::Statement statement(db, query);
    return statement.step() ? statement.integer(0) : 0;
}

// How far the journal is beyond its size limit, counting the database's pages in use (free
// pages are used again before the file grows) and the snapshots of its rows; and the database's
// bytes per alarm, which an alarm's deletion gives back.
struct Excess {
    std::int64_t bytes = 0;
    std::int64_t perAlarm = 0;
};

Excess sizeExcess(const sql::Connection& db, JournalLimits limits) {
    const std::int64_t databaseBytes =
        (queryInteger(db, "PRAGMA page_count") - queryInteger(db, "PRAGMA freelist_count")) *
        queryInteger(db, "PRAGMA page_size");
    const std::int64_t alarms = queryInteger(db, "SELECT count(*) FROM alarms");
    const std::int64_t total =
        databaseBytes + queryInteger(db, "SELECT total(snapshot_bytes) FROM alarms");
    const std::int64_t allowed = std::int64_t{std::max(limits.maxSize_MiB, 0)} << 20;
    return {std::max<std::int64_t>(total - allowed, 0), alarms > 0 ? databaseBytes / alarms : 0};
}

}  // namespace

RecordedAlarm recordJournalAlarm(sql::Connection& db, const fs::path& snapshotFolder,
                                 const JournalEntry& entry, std::int64_t session) {
    const auto sessionId = session != 0 ? std::optional(session) : std::nullopt;
    std::string name;
    try {
        sql::WriteTransaction transaction(db);
        // Another program of this user that heard the same alarm has recorded it already.
        if (const auto existing = sameAlarm(db, entry, sessionId)) {
            transaction.commit();
            return {*existing, false, {}};
        }
        RecordedAlarm recorded{0, true, {}};
        name = keepSnapshot(snapshotFolder, entry, recorded.snapshotError);
        sql::Statement insert(
            db,
            "INSERT INTO alarms (server, channel_id, alarm_name, timestamp, time_text, alarm_ms, "
            "received_ms, late, snapshot_file, snapshot_bytes, session_id, snapshot_missing, site) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            entry.server, entry.channelId, entry.alarmName, entry.timestamp, entry.timeText,
            entry.alarmTime ? std::optional(journalMs(*entry.alarmTime)) : std::nullopt,
            journalMs(entry.receivedAt), std::int64_t{entry.late ? 1 : 0});
        name.empty() ? insert.bind(9, nullptr) : insert.bind(9, std::string_view(name));
        insert.bind(10, static_cast<std::int64_t>(name.empty() ? 0 : entry.snapshot.size()));
        insert.bind(11, sessionId);
        const std::optional<std::string> missing =
            missingSnapshotReason(entry, name, recorded.snapshotError);
        missing ? insert.bind(12, std::string_view(*missing)) : insert.bind(12, nullptr);
        insert.bind(13, std::string_view(entry.site));
        insert.run();
        recorded.id = db.lastInsertId();
        if (session != 0) {
            sql::run(db, "UPDATE sessions SET alive_ms = ? WHERE id = ?",
                     journalMs(entry.receivedAt), session);
        }
        transaction.commit();
        return recorded;
    } catch (const sql::Error&) {
        if (!name.empty()) {
            removeSnapshotFile(snapshotFolder / name);
        }
        writeLog(kModule, kWriteSource, "Unable to record the alarm.");
        throw;
    }
}

int applyJournalRetention(sql::Connection& db, const fs::path& snapshotFolder, JournalLimits limits,
                          JournalClock::time_point now) {
    const std::int64_t cutoff = journalMs(now - std::chrono::days(std::max(limits.maxDays, 1)));
    std::vector<std::string> files;
    int removed = 0;
    {
        sql::WriteTransaction transaction(db);
        const auto collect = [&](sql::Statement& deletion) {
            while (deletion.step()) {
                ++removed;
                if (std::string file = deletion.text(0); isPlainFileName(file)) {
                    files.push_back(std::move(file));
                }
            }
        };
        sql::Statement old(db, "DELETE FROM alarms WHERE received_ms < ? RETURNING snapshot_file",
                           cutoff);
        collect(old);
        sql::Statement surplus(
            db,
            "DELETE FROM alarms WHERE id IN (SELECT id FROM alarms ORDER BY received_ms DESC, id "
            "DESC LIMIT -1 OFFSET ?) RETURNING snapshot_file",
            std::int64_t{std::max(limits.maxAlarms, 0)});
        collect(surplus);
        if (const Excess excess = sizeExcess(db, limits); excess.bytes > 0) {
            // The oldest alarms whose older ones alone give back less than the excess.
            sql::Statement oversize(
                db,
                "DELETE FROM alarms WHERE id IN (SELECT id FROM (SELECT id, sum(snapshot_bytes + "
                "?1) OVER (ORDER BY received_ms, id) - snapshot_bytes - ?1 AS before FROM "
                "alarms) WHERE before < ?2) RETURNING snapshot_file",
                excess.perAlarm, excess.bytes);
            collect(oversize);
        }
        sql::run(db, "DELETE FROM gaps WHERE ended_ms IS NOT NULL AND ended_ms < ?", cutoff);
        // The last session of each server stays: the next start dates the interval after it.
        sql::run(db,
                 "DELETE FROM sessions WHERE ended_ms IS NOT NULL AND ended_ms < ? AND id NOT IN "
                 "(SELECT max(id) FROM sessions GROUP BY server, site)",
                 cutoff);
        transaction.commit();
    }
    // Rows and their files go together: a file left by a crash here goes at the next start.
    for (const std::string& file : files) {
        removeSnapshotFile(snapshotFolder / file);
    }
    return removed;
}

void reconcileJournalFiles(sql::Connection& db, const fs::path& snapshotFolder) {
    std::set<std::string> named;
    std::vector<std::int64_t> lost;
    {
        sql::WriteTransaction transaction(db);
        {
            sql::Statement files(
                db, "SELECT id, snapshot_file FROM alarms WHERE snapshot_file IS NOT NULL");
            while (files.step()) {
                std::string name = files.text(1);
                std::error_code error;
                if (!isPlainFileName(name) || !fs::exists(snapshotFolder / name, error)) {
                    lost.push_back(files.integer(0));
                } else {
                    named.insert(std::move(name));
                }
            }
        }
        for (const std::int64_t id : lost) {
            sql::run(db, "UPDATE alarms SET snapshot_file = NULL, snapshot_bytes = 0 WHERE id = ?",
                     id);
        }
        transaction.commit();
    }
    int orphans = 0;
    std::error_code error;
    const auto oldEnough = fs::file_time_type::clock::now() - kOrphanAge;
    for (const auto& entry : fs::directory_iterator(snapshotFolder, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (named.contains(name) || !entry.is_regular_file(ignored) ||
            entry.last_write_time(ignored) > oldEnough) {
            continue;
        }
        removeSnapshotFile(entry.path());
        ++orphans;
    }
    removeLeftoverSnapshotParts(snapshotFolder);
    if (!lost.empty() || orphans > 0) {
        const std::string message = std::to_string(orphans) +
                                    " snapshot files without a row removed, " +
                                    std::to_string(lost.size()) + " rows lost their snapshot file.";
        writeLog(kModule, kReconcileSource, message.c_str());
    }
}

}  // namespace krt
