#include "journal/journal_export.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace krt {
namespace {

TEST(JournalCsv, CellsAreQuotedAsRfc4180AndNeverRunAsFormulas) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"Motion", "Motion"},
        {"", ""},
        {"Door, back", "\"Door, back\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tcmd", "'\tcmd"},
        {"\rcmd", "\"'\rcmd\""},
        {" padded", "\" padded\""},
        {"a=b", "a=b"},
        {"Tür offen", "Tür offen"},
    };
    for (const auto& [text, cell] : table) {
        EXPECT_EQ(csvCell(text), cell) << text;
    }
}

TEST(JournalCsv, OneLinePerAlarmWithItsExportedSnapshotName) {
    JournalRow alarm;
    alarm.id = 12;
    alarm.time = JournalClock::from_time_t(1767787200);
    alarm.channelId = "7/back";
    alarm.alarmName = "=cmd";
    alarm.timeText = "07-Jan-2026::12:00:00";
    alarm.snapshotName = "x.jpg";
    alarm.reviewedBy = "ann";
    alarm.note = "fine, \"really\"";
    JournalRow gap;
    gap.kind = JournalRow::Kind::gap;
    JournalRow bare = alarm;
    bare.id = 13;
    bare.snapshotName.clear();
    bare.snapshotMissing = "not fetched: too many waiting";
    bare.server = "127.0.0.3";
    bare.site = "Site B";
    std::ostringstream out;
    const std::vector<JournalRow> rows = {alarm, gap, bare};
    writeJournalCsv(out, rows);

    const std::string name = exportSnapshotName(alarm);
    EXPECT_TRUE(name.starts_with("12-7_back-2026010")) << name;
    EXPECT_TRUE(name.ends_with(".jpg"));
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        ASSERT_TRUE(line.ends_with('\r')) << "CRLF";
        line.pop_back();
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u) << "the header and the two alarms, not the interval";
    EXPECT_EQ(lines[0],
              "\xEF\xBB\xBFid,received,alarm time,camera,alarm,late,snapshot,reviewed at,reviewed "
              "by,note,server,site,snapshot missing");
    EXPECT_TRUE(lines[1].starts_with("12,")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with(",07-Jan-2026::12:00:00,7/back,'=cmd,no," + name +
                                   ",,ann,\"fine, \"\"really\"\"\",,,"))
        << lines[1];
    EXPECT_TRUE(lines[2].starts_with("13,"));
    EXPECT_NE(lines[2].find(",no,,,ann,"), std::string::npos) << "no snapshot, no file name";
    EXPECT_TRUE(lines[2].ends_with(",127.0.0.3,Site B,not fetched: too many waiting"))
        << "the server and why the snapshot is missing";
}

}  // namespace
}  // namespace krt
