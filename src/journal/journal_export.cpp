#include "journal/journal_export.h"

#include <sstream>

#include "common/local_time.h"
#include "common/private_file.h"
#include "journal/snapshot_export.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::string csvCell(std::string_view text) {
    std::string cell;
    if (!text.empty() &&
        std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        cell.push_back('\'');
    }
    cell.append(text);
    const bool quoted = cell.find_first_of(",\"\r\n") != std::string::npos ||
                        (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
    if (!quoted) {
        return cell;
    }
    std::string escaped = "\"";
    for (const char c : cell) {
        escaped += c == '"' ? "\"\"" : std::string(1, c);
    }
    return escaped + "\"";
}

std::string exportSnapshotName(const JournalRow& alarm) {
    return std::to_string(alarm.id) + "-" + snapshotSaveName(alarm.channelId, alarm.time);
}

void writeJournalCsv(std::ostream& out, std::span<const JournalRow> rows) {
    out << kByteOrderMark
        // Columns only ever added at the end: spreadsheets built on earlier exports keep theirs.
        << "id,received,alarm time,camera,alarm,late,snapshot,reviewed at,reviewed by,note,"
           "server,site,snapshot missing"
        << kLineEnd;
    for (const JournalRow& row : rows) {
        if (row.kind != JournalRow::Kind::alarm) {
            continue;
        }
        const std::string cells[] = {
            std::to_string(row.id),
            formatLocalTime(row.time, "%Y-%m-%d %H:%M:%S"),
            row.timeText,
            row.channelId,
            row.alarmName,
            row.late ? "yes" : "no",
            row.snapshotName.empty() ? std::string() : exportSnapshotName(row),
            row.reviewedAt ? formatLocalTime(*row.reviewedAt, "%Y-%m-%d %H:%M:%S") : std::string(),
            row.reviewedBy,
            row.note,
            row.server,
            row.site,
            row.snapshotMissing,
        };
        std::string separator;
        for (const std::string& cell : cells) {
            out << separator << csvCell(cell);
            separator = ",";
        }
        out << kLineEnd;
    }
}

std::error_code saveJournalCsv(const fs::path& path, std::span<const JournalRow> rows) {
    std::ostringstream csv;
    writeJournalCsv(csv, rows);
    return writePrivateFile(path, csv.view());
}

ExportResult exportJournalRows(std::span<const JournalRow> rows, const fs::path& snapshotFolder,
                               const fs::path& folder, JournalClock::time_point now) {
    ExportResult result;
    result.csvFile = folder / ("alarms-" + formatLocalTime(now, "%Y%m%d-%H%M%S") + ".csv");
    result.error = saveJournalCsv(result.csvFile, rows);
    if (result.error) {
        return result;
    }
    for (const JournalRow& row : rows) {
        if (row.kind != JournalRow::Kind::alarm) {
            continue;
        }
        ++result.alarms;
        if (row.snapshotName.empty()) {
            continue;
        }
        const std::error_code error =
            copySnapshotFile(snapshotFolder / row.snapshotName, folder / exportSnapshotName(row));
        if (error && !result.error) {
            result.error = error;
        }
        result.snapshots += error ? 0 : 1;
    }
    return result;
}

}  // namespace krt
