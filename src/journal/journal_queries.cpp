#include "journal/journal_queries.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "journal/journal_schema.h"
#include "journal/snapshot_file.h"

namespace krt {
namespace {

constexpr std::size_t kMaxNoteBytes = std::size_t{64} * 1024;

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

// `count` parameters, as a list.
std::string placeholders(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += i == 0 ? "?" : ",?";
    }
    return text;
}

void bindIds(sql::Statement& statement, int first, std::span<const std::int64_t> ids) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
        statement.bind(first + static_cast<int>(i), ids[i]);
    }
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

std::optional<JournalClock::time_point> optionalTime(const sql::Statement& query, int column) {
    const auto ms = query.optionalInteger(column);
    return ms ? std::optional(journalTime(*ms)) : std::nullopt;
}

}  // namespace

std::vector<JournalKey> listJournal(const sql::Connection& db, const JournalFilter& filter) {
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
    if (filter.site) {
        alarms += " AND site = :site";
        gaps += " AND site = :site";
    }
    sql::Statement query(db, alarms + " UNION ALL " + gaps + " ORDER BY 3 DESC, 2 DESC");
    query.bind(":channel", std::string_view(filter.channelId));
    query.bind(":name", std::string_view(likePattern(filter.nameContains)));
    query.bind(":site", std::string_view(filter.site.value_or("")));
    query.bind(":since", filter.since ? std::optional(journalMs(*filter.since)) : std::nullopt);
    query.bind(":until", filter.until ? std::optional(journalMs(*filter.until)) : std::nullopt);
    std::vector<JournalKey> keys;
    while (query.step()) {
        keys.push_back({query.integer(0) == 0 ? JournalRow::Kind::alarm : JournalRow::Kind::gap,
                        query.integer(1)});
    }
    return keys;
}

std::vector<JournalRow> journalRows(const sql::Connection& db, std::span<const JournalKey> keys) {
    std::vector<std::int64_t> alarmIds;
    std::vector<std::int64_t> gapIds;
    for (const JournalKey& key : keys) {
        (key.kind == JournalRow::Kind::alarm ? alarmIds : gapIds).push_back(key.id);
    }
    // Both kinds in one shape: a column that a kind lacks is NULL, read as the row's default.
    sql::Statement query(
        db,
        "SELECT 0, id, received_ms, server, channel_id, alarm_name, time_text, alarm_ms, late, "
        "snapshot_file, snapshot_bytes, reviewed_ms, reviewed_by, note, NULL, NULL, "
        "snapshot_missing, site FROM alarms WHERE id IN (" +
            placeholders(alarmIds.size()) +
            ") UNION ALL SELECT 1, id, started_ms, server, NULL, NULL, NULL, NULL, NULL, NULL, "
            "NULL, NULL, NULL, NULL, ended_ms, reason, NULL, site FROM gaps WHERE id IN (" +
            placeholders(gapIds.size()) + ")");
    bindIds(query, 1, alarmIds);
    bindIds(query, 1 + static_cast<int>(alarmIds.size()), gapIds);
    std::map<std::pair<JournalRow::Kind, std::int64_t>, JournalRow> found;
    while (query.step()) {
        JournalRow row;
        row.kind = query.integer(0) == 0 ? JournalRow::Kind::alarm : JournalRow::Kind::gap;
        row.id = query.integer(1);
        row.time = journalTime(query.integer(2));
        row.server = query.text(3);
        row.channelId = query.text(4);
        row.alarmName = query.text(5);
        row.timeText = query.text(6);
        row.alarmTime = optionalTime(query, 7);
        row.late = query.integer(8) != 0;
        if (std::string name = query.text(9); isPlainFileName(name)) {
            row.snapshotName = std::move(name);
        }
        row.snapshotBytes = query.integer(10);
        row.reviewedAt = optionalTime(query, 11);
        row.reviewedBy = query.text(12);
        row.note = query.text(13);
        row.gapEnd = optionalTime(query, 14);
        row.gapReason = query.text(15);
        row.snapshotMissing = query.text(16);
        row.site = query.text(17);
        found.emplace(std::pair(row.kind, row.id), std::move(row));
    }
    std::vector<JournalRow> rows;
    for (const JournalKey& key : keys) {
        if (const auto row = found.find({key.kind, key.id}); row != found.end()) {
            rows.push_back(std::move(row->second));
        }
    }
    return rows;
}

int markJournalReviewed(sql::Connection& db, std::span<const std::int64_t> ids,
                        std::string_view user, std::string_view note, JournalClock::time_point at) {
    const std::string kept = cut(note, kMaxNoteBytes);
    sql::WriteTransaction transaction(db);
    int marked = 0;
    // In slices, so that a selection of every row stays within SQLite's parameters.
    constexpr std::size_t kSlice = 500;
    for (std::size_t start = 0; start < ids.size(); start += kSlice) {
        const auto slice = ids.subspan(start, std::min(kSlice, ids.size() - start));
        sql::Statement update(db,
                              "UPDATE alarms SET reviewed_ms = ?, reviewed_by = ?, note = CASE "
                              "WHEN ? = '' THEN note ELSE ? END WHERE id IN (" +
                                  placeholders(slice.size()) + ")",
                              journalMs(at), user, kept, kept);
        bindIds(update, 5, slice);
        update.run();
        marked += db.changes();
    }
    transaction.commit();
    return marked;
}

int countUnreviewed(const sql::Connection& db) {
    sql::Statement count(db, "SELECT count(*) FROM alarms WHERE reviewed_ms IS NULL");
    return count.step() ? static_cast<int>(count.integer(0)) : 0;
}

std::vector<std::string> journalChannels(const sql::Connection& db) {
    std::vector<std::string> found;
    sql::Statement query(db, "SELECT DISTINCT channel_id FROM alarms ORDER BY channel_id");
    while (query.step()) {
        found.push_back(query.text(0));
    }
    return found;
}

std::vector<JournalSite> journalSites(const sql::Connection& db) {
    // With max(), SQLite takes the bare columns from the newest row of each site: the first
    // server is named by the address it has now, though its login may have had another.
    sql::Statement query(db,
                         "SELECT site, server, max(at) FROM (SELECT site, server, received_ms AS "
                         "at FROM alarms UNION ALL SELECT site, server, started_ms FROM gaps) "
                         "GROUP BY site ORDER BY site");
    std::vector<JournalSite> found;
    while (query.step()) {
        found.push_back({query.text(0), query.text(1)});
    }
    return found;
}

}  // namespace krt
