#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "journal/alarm_journal.h"

namespace krt {

// One cell of a CSV file (RFC 4180): quoted when it holds a comma, a quote, a line break or
// blanks at its ends, quotes doubled. A text that a spreadsheet would run as a formula (it
// starts with '=', '+', '-', '@', a tab or a carriage return) gets a leading apostrophe, so
// that it is shown as the text it is.
std::string csvCell(std::string_view text);

// "<id>-<camera>-<YYYYMMDD-HHMMSS>.jpg": the name an alarm's snapshot is exported under, the
// same in the CSV file and in the folder.
std::string exportSnapshotName(const JournalRow& alarm);

// The alarms among the rows as a CSV file in UTF-8 (with its byte order mark, so that
// spreadsheets read it so): a header line, then one line per alarm, lines ending in CRLF.
// Intervals without reception are no alarms and are left out.
void writeJournalCsv(std::ostream& out, std::span<const JournalRow> rows);

// Writes that CSV file to `path` by the private file rule, replacing what is there.
[[nodiscard]] std::error_code saveJournalCsv(const std::filesystem::path& path,
                                             std::span<const JournalRow> rows);

struct ExportResult {
    std::filesystem::path csvFile;
    int alarms = 0;
    int snapshots = 0;
    std::error_code error;  // of the first file that could not be written
};

// Writes the rows' CSV file ("alarms-<YYYYMMDD-HHMMSS>.csv", now) and a copy of each alarm's
// snapshot, named as in the file, into `folder`; each file the user's alone.
ExportResult exportJournalRows(std::span<const JournalRow> rows,
                               const std::filesystem::path& snapshotFolder,
                               const std::filesystem::path& folder, JournalClock::time_point now);

}  // namespace krt
