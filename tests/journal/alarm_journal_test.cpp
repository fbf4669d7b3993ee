#include "journal/alarm_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "support/small_folder.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = JournalClock;
using Kind = JournalRow::Kind;

constexpr std::string_view kServer = "127.0.0.1";
// 7 January 2026, 12:00 UTC.
const Clock::time_point kNoon = Clock::from_time_t(1767787200);

std::string picture(int n) {
    return "\xFF\xD8\xFF" + std::string(1000, static_cast<char>('a' + n % 26)) + "\xFF\xD9";
}

JournalFilter filterOf(std::string channel, std::string name = {},
                       std::optional<Clock::time_point> since = {},
                       std::optional<Clock::time_point> until = {}, bool unreviewedOnly = false) {
    JournalFilter filter;
    filter.channelId = std::move(channel);
    filter.nameContains = std::move(name);
    filter.since = since;
    filter.until = until;
    filter.unreviewedOnly = unreviewedOnly;
    return filter;
}

std::string contents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

class Journal : public testing::Test {
  protected:
    fs::path folder() const { return m_temp.path() / "krt-client"; }

    std::unique_ptr<AlarmJournal> open(AlarmJournal::Role role = AlarmJournal::Role::writer,
                                       JournalLimits limits = {}) const {
        return std::make_unique<AlarmJournal>(folder(), role, limits);
    }

    // Records an alarm received at `received` with a snapshot of its own.
    static std::optional<std::int64_t> record(AlarmJournal& journal, Clock::time_point received,
                                              std::string channel = "7",
                                              std::string name = "Motion") {
        // Shared by the writer threads of one test: each alarm takes a number of its own.
        static std::atomic<int> counter = 0;
        const int number = ++counter;
        const std::string bytes = picture(number);
        JournalEntry entry;
        entry.server = kServer;
        entry.channelId = std::move(channel);
        entry.alarmName = std::move(name);
        entry.timestamp = std::to_string(number);
        entry.timeText = "07-Jan-2026::12:00:00";
        entry.receivedAt = received;
        entry.snapshot = bytes;
        return journal.record(entry);
    }

    static std::vector<JournalRow> everything(AlarmJournal& journal) {
        const std::vector<JournalKey> keys = journal.list({});
        return journal.rows(keys);
    }

    static std::vector<JournalRow> gaps(AlarmJournal& journal) {
        std::vector<JournalRow> found;
        for (JournalRow& row : everything(journal)) {
            if (row.kind == Kind::gap) {
                found.push_back(std::move(row));
            }
        }
        return found;
    }

    // The IDs of the kept ones among `ids` (in the order recorded), newest first as listed.
    static std::vector<std::int64_t> newestFirst(const std::vector<std::int64_t>& ids,
                                                 const std::vector<std::size_t>& kept) {
        std::vector<std::int64_t> expected;
        for (auto k = kept.rbegin(); k != kept.rend(); ++k) {
            expected.push_back(ids[*k]);
        }
        return expected;
    }

    static std::vector<std::int64_t> idsOf(const std::vector<JournalRow>& rows) {
        std::vector<std::int64_t> ids;
        for (const JournalRow& row : rows) {
            ids.push_back(row.id);
        }
        return ids;
    }

    test::TempFolder m_temp;
};

TEST_F(Journal, RetentionByCountAndAgeTakesTheRowsAndTheirSnapshotsTogether) {
    struct Case {
        const char* what;
        JournalLimits limits;
        std::vector<int> agesInHours;  // of the alarms, in the order recorded
        std::vector<std::size_t> kept;
    };
    const std::vector<Case> table = {
        {"by count, the newest stay", {3, 30}, {120, 96, 72, 48, 24}, {2, 3, 4}},
        {"by age", {100, 2}, {120, 96, 72, 36, 1}, {3, 4}},
        {"by age, then by count", {2, 4}, {120, 72, 48, 24}, {2, 3}},
        {"within both", {10, 30}, {72, 48}, {0, 1}},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        const std::unique_ptr<AlarmJournal> journal = open(AlarmJournal::Role::writer, c.limits);
        std::vector<std::int64_t> ids;
        for (const int hours : c.agesInHours) {
            ids.push_back(record(*journal, kNoon - std::chrono::hours(hours)).value());
        }
        const std::vector<JournalRow> before = everything(*journal);

        EXPECT_EQ(journal->applyRetention(kNoon),
                  static_cast<int>(c.agesInHours.size() - c.kept.size()));

        const std::vector<std::int64_t> expected = newestFirst(ids, c.kept);
        EXPECT_EQ(idsOf(everything(*journal)), expected);
        for (const JournalRow& row : before) {
            const bool kept = std::ranges::find(expected, row.id) != expected.end();
            EXPECT_EQ(fs::exists(journal->snapshotFolder() / row.snapshotName), kept) << row.id;
        }
    }
}

// The size counts the database and the snapshots of its rows; the oldest go until it fits.
TEST_F(Journal, RetentionBySizeTakesTheOldestUntilTheJournalFits) {
    struct Case {
        const char* what;
        std::vector<std::size_t> snapshotBytes;  // of the alarms, oldest first
        std::vector<std::size_t> kept;
    };
    const std::vector<Case> table = {
        {"the newest that fit stay", {300'000, 300'000, 300'000, 300'000, 300'000}, {2, 3, 4}},
        {"one big old one makes room", {900'000, 100'000, 100'000, 100'000}, {1, 2, 3}},
        {"within the size", {300'000, 300'000}, {0, 1}},
        {"one alone beyond the size goes too", {200'000, 1'200'000}, {}},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        const std::unique_ptr<AlarmJournal> journal =
            open(AlarmJournal::Role::writer, {.maxAlarms = 100, .maxDays = 30, .maxSize_MiB = 1});
        std::vector<std::int64_t> ids;
        std::vector<fs::path> files;
        for (std::size_t i = 0; i < c.snapshotBytes.size(); ++i) {
            const std::string bytes(c.snapshotBytes[i], 'j');
            JournalEntry entry;
            entry.timestamp = std::to_string(i);
            entry.receivedAt = kNoon - std::chrono::minutes(c.snapshotBytes.size() - i);
            entry.snapshot = bytes;
            ids.push_back(journal->record(entry).value());
            files.push_back(journal->snapshotFolder() / everything(*journal).front().snapshotName);
        }

        journal->applyRetention(kNoon);

        const std::vector<std::int64_t> expected = newestFirst(ids, c.kept);
        EXPECT_EQ(idsOf(everything(*journal)), expected);
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(fs::exists(files[i]), std::ranges::count(c.kept, i) == 1) << i;
        }
    }
}

// A writer applies changed limits at once and again on every heartbeat; a reader deletes
// nothing.
TEST_F(Journal, AWriterAppliesTheLimitsWhenTheyChangeAndOnTheHeartbeat) {
    const Clock::time_point now = Clock::now();
    const std::unique_ptr<AlarmJournal> writer = open();
    writer->startSession(kServer, now);
    for (int i = 5; i > 0; --i) {
        record(*writer, now - std::chrono::minutes(i));
    }
    const std::unique_ptr<AlarmJournal> reader = open(AlarmJournal::Role::reader);
    const auto alarms = [&] {
        return std::ranges::count(reader->list({}), Kind::alarm, &JournalKey::kind);
    };

    reader->setLimits({.maxAlarms = 2});
    EXPECT_EQ(alarms(), 5);
    writer->setLimits({.maxAlarms = 3});
    EXPECT_EQ(alarms(), 3);
    writer->heartbeat(now + std::chrono::days(31));
    EXPECT_EQ(alarms(), 0);
}

// At a writer's start, snapshot files without a row go, rows whose file vanished lose it, and
// the log says how many.
TEST_F(Journal, TheStartReconcilesFilesWithoutRowsAndRowsWithoutFiles) {
    std::int64_t kept = 0;
    std::int64_t robbed = 0;
    fs::path snapshots;
    {
        const std::unique_ptr<AlarmJournal> journal = open();
        kept = record(*journal, kNoon).value();
        robbed = record(*journal, kNoon + 1s).value();
        snapshots = journal->snapshotFolder();
    }
    std::vector<JournalRow> before;
    {
        const std::unique_ptr<AlarmJournal> reader = open(AlarmJournal::Role::reader);
        before = everything(*reader);
    }
    ASSERT_EQ(before.size(), 2u);
    fs::remove(snapshots / before[0].snapshotName);  // the newest, `robbed`
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"left-by-a-crash.jpg", "being-written.jpg"}) {
        std::ofstream(snapshots / name) << "x";
    }
    fs::last_write_time(snapshots / "left-by-a-crash.jpg", old);
    const test::LogCapture log;

    const std::unique_ptr<AlarmJournal> journal = open();
    journal->startSession(kServer, kNoon + 2s);

    EXPECT_FALSE(fs::exists(snapshots / "left-by-a-crash.jpg"));
    EXPECT_TRUE(fs::exists(snapshots / "being-written.jpg")) << "may be another writer's";
    EXPECT_TRUE(fs::exists(snapshots / before[1].snapshotName));
    const std::vector<JournalKey> keys = {{Kind::alarm, robbed}, {Kind::alarm, kept}};
    const std::vector<JournalRow> after = journal->rows(keys);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_TRUE(after[0].snapshotName.empty());
    EXPECT_EQ(after[1].snapshotName, before[1].snapshotName);
    EXPECT_TRUE(
        log.contains("KRT-AlarmJournal::reconcile()-1 snapshot files without a row "
                     "removed, 1 rows lost their snapshot file.-"));
}

// A tampered journal whose rows name files outside its folder ("../x", an absolute path, a
// sub-folder's) makes nobody touch them: the rows show no snapshot, the start forgets them and
// retention deletes only the rows.
TEST_F(Journal, NamesOutsideTheSnapshotFolderAreNeverFollowed) {
    fs::path snapshots;
    {
        const std::unique_ptr<AlarmJournal> journal = open();
        for (int i = 0; i < 4; ++i) {
            record(*journal, kNoon + std::chrono::seconds(i));
        }
        snapshots = journal->snapshotFolder();
    }
    const fs::path victims = m_temp.path() / "victims";
    fs::create_directories(victims / "inner");
    const std::vector<fs::path> targets = {victims / "absolute",
                                           m_temp.path() / "krt-client" / "up",
                                           snapshots / "inner" / "down", snapshots / "."};
    fs::create_directories(snapshots / "inner");
    for (const fs::path& target : targets) {
        if (target.filename() != ".") {
            std::ofstream(target) << "the user's";
        }
    }
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((folder() / AlarmJournal::kFileName).c_str(), &db), SQLITE_OK);
        const std::string tamper = "UPDATE alarms SET snapshot_file = CASE id WHEN 1 THEN '" +
                                   targets[0].string() +
                                   "' WHEN 2 THEN '../up' WHEN 3 THEN 'inner/down' ELSE '.' END";
        EXPECT_EQ(sqlite3_exec(db, tamper.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    {
        const std::unique_ptr<AlarmJournal> reader = open(AlarmJournal::Role::reader);
        for (const JournalRow& row : everything(*reader)) {
            EXPECT_TRUE(row.snapshotName.empty()) << row.id << " " << row.snapshotName;
        }
    }
    const std::unique_ptr<AlarmJournal> journal = open(AlarmJournal::Role::writer, {0, 30});
    journal->applyRetention(kNoon);
    EXPECT_TRUE(everything(*journal).empty());
    for (const fs::path& target : targets) {
        EXPECT_TRUE(fs::exists(target)) << target;
    }
}

// The same alarm heard by two programs of the user is one row; heard twice by one, two.
TEST_F(Journal, AnAlarmHeardByTwoProgramsIsRecordedOnce) {
    AlarmJournal first(folder(), AlarmJournal::Role::writer);
    AlarmJournal second(folder(), AlarmJournal::Role::writer);
    first.startSession(kServer, kNoon);
    second.startSession(kServer, kNoon);
    JournalEntry entry;
    entry.server = kServer;
    entry.channelId = "7";
    entry.alarmName = "Motion";
    entry.timestamp = "20260107120000123";
    entry.timeText = "07-Jan-2026::12:00:00";
    entry.receivedAt = kNoon;
    const std::optional<std::int64_t> heard = first.record(entry);
    entry.receivedAt = kNoon + 200ms;
    EXPECT_EQ(second.record(entry), heard) << "the other program's row";
    const std::optional<std::int64_t> again = first.record(entry);
    ASSERT_TRUE(again);
    EXPECT_NE(again, heard) << "one program hearing it twice heard it twice";
    EXPECT_EQ(first.unreviewedCount(), 2);
}

// One journal's life as the channel leads it, in seconds after noon.
class Life {
  public:
    explicit Life(const fs::path& folder) : m_folder(folder) {}

    void start(int at) {
        m_journal = std::make_unique<AlarmJournal>(m_folder, AlarmJournal::Role::writer);
        m_journal->startSession(kServer, time(at));
    }
    void subscribed(double at) { m_journal->endGap(time(at)); }
    void lost(int at, const char* reason) { m_journal->beginGap(time(at), reason); }
    void refused(const char* reason) { m_journal->noteGapReason(reason); }
    // As the channel stops: an interval begins unless one is open already.
    void stop(int at, bool listening) {
        if (listening) {
            m_journal->beginGap(time(at), "client not running");
        }
        m_journal->endSession(time(at));
        m_journal.reset();
    }
    AlarmJournal& journal() { return *m_journal; }

    static Clock::time_point time(double seconds) {
        return kNoon +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

  private:
    fs::path m_folder;
    std::unique_ptr<AlarmJournal> m_journal;
};

TEST_F(Journal, EveryIntervalWithoutReceptionIsOneGapWithItsReason) {
    struct Gap {
        int from;
        std::optional<int> to;
        std::string reason;
    };
    struct Case {
        const char* what;
        std::function<void(Life&)> life;
        std::vector<Gap> gaps;  // newest first
    };
    const std::vector<Case> table = {
        {"a first start that subscribes at once hid nothing",
         [](Life& l) {
             l.start(0);
             l.subscribed(0.2);
         },
         {}},
        {"a first start refused for a minute",
         [](Life& l) {
             l.start(0);
             l.refused("refused by the server (code 0)");
             l.subscribed(60);
         },
         {{0, 60, "refused by the server (code 0)"}}},
        {"a lost connection until the next subscription",
         [](Life& l) {
             l.start(0);
             l.subscribed(0);
             l.lost(100, "connection lost");
             l.subscribed(142);
         },
         {{100, 142, "connection lost"}}},
        {"from a stop to the next start's subscription",
         [](Life& l) {
             l.start(0);
             l.subscribed(0);
             l.stop(100, true);
             l.start(500);
             l.subscribed(501);
         },
         {{100, 501, "client not running"}}},
        {"a connection lost before the stop: one interval to the next subscription",
         [](Life& l) {
             l.start(0);
             l.subscribed(0);
             l.lost(100, "connection lost");
             l.stop(200, false);
             l.start(500);
             l.subscribed(502);
         },
         {{100, 502, "connection lost"}}},
        {"an interval that lasts",
         [](Life& l) {
             l.start(0);
             l.subscribed(0);
             l.lost(100, "connection lost");
             l.subscribed(150);
             l.lost(300, "cannot connect to the server");
         },
         {{300, std::nullopt, "cannot connect to the server"}, {100, 150, "connection lost"}}},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        Life life(folder());
        c.life(life);
        const std::unique_ptr<AlarmJournal> reader = open(AlarmJournal::Role::reader);
        const std::vector<JournalRow> found = gaps(*reader);
        ASSERT_EQ(found.size(), c.gaps.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].time, Life::time(c.gaps[i].from)) << i;
            EXPECT_EQ(found[i].gapEnd,
                      c.gaps[i].to ? std::optional(Life::time(*c.gaps[i].to)) : std::nullopt)
                << i;
            EXPECT_EQ(found[i].gapReason, c.gaps[i].reason) << i;
        }
    }
}

// A program killed while listening is dated by its last sign of life.
TEST_F(Journal, ACrashedSessionIsDeafFromItsLastHeartbeatToTheNextSubscription) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AlarmJournal journal(folder(), AlarmJournal::Role::writer);
        journal.startSession(kServer, Life::time(0));
        journal.endGap(Life::time(0));
        journal.heartbeat(Life::time(30));
        ::_exit(0);  // as a kill would: no end of the session
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    Life life(folder());
    life.start(600);
    life.subscribed(601);
    const std::vector<JournalRow> found = gaps(life.journal());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].time, Life::time(30));
    EXPECT_EQ(found[0].gapEnd, Life::time(601));
    EXPECT_EQ(found[0].gapReason, "client not running");
    EXPECT_EQ(gapText(found[0], found[0].time).substr(0, 33), "No alarms could be received from ");
}

TEST_F(Journal, FiltersTakeAnyTextLiterallyAndShowTheGapsOfTheirTimes) {
    const std::unique_ptr<AlarmJournal> journal = open();
    Life life(folder());
    const std::string longName(10'000, 'x');
    const std::string hostile = "it's_a \"quote\"\nline";
    const std::int64_t motion = record(*journal, kNoon - 3600s, "7", "Motion").value();
    const std::int64_t percent = record(*journal, kNoon - 1800s, "7", "Door 100% open").value();
    const std::int64_t quoted = record(*journal, kNoon - 600s, "12", hostile).value();
    const std::int64_t longest = record(*journal, kNoon - 60s, "7", longName).value();
    journal->startSession(kServer, kNoon - 1000s);  // no session before: "connecting"
    journal->noteGapReason("connection lost");
    journal->endGap(kNoon - 900s);
    const std::int64_t gap = gaps(*journal).at(0).id;
    const std::int64_t ids[] = {motion};
    ASSERT_EQ(journal->markReviewed(ids, "ann", "", kNoon), 1);

    const auto alarm = [](std::int64_t id) { return JournalKey{Kind::alarm, id}; };
    const JournalKey gapKey{Kind::gap, gap};
    struct Case {
        const char* what;
        JournalFilter filter;
        std::vector<JournalKey> keys;
    };
    const std::vector<Case> table = {
        {"everything, newest first",
         filterOf(""),
         {alarm(longest), alarm(quoted), gapKey, alarm(percent), alarm(motion)}},
        {"one camera, and the gaps",
         filterOf("7"),
         {alarm(longest), gapKey, alarm(percent), alarm(motion)}},
        {"a name, in any case", filterOf("", "MOTION"), {gapKey, alarm(motion)}},
        {"% is a percent sign", filterOf("", "100%"), {gapKey, alarm(percent)}},
        {"_ is an underscore", filterOf("", "_"), {alarm(quoted), gapKey}},
        {"quotes and a newline", filterOf("", "\"quote\"\nline"), {alarm(quoted), gapKey}},
        {"ten thousand characters", filterOf("", longName), {alarm(longest), gapKey}},
        {"a time range", filterOf("", "", kNoon - 2000s, kNoon - 700s), {gapKey, alarm(percent)}},
        {"unreviewed only",
         filterOf("", "", std::nullopt, std::nullopt, true),
         {alarm(longest), alarm(quoted), gapKey, alarm(percent)}},
        {"everything at once",
         filterOf("7", "o", kNoon - 4000s, std::nullopt, true),
         {gapKey, alarm(percent)}},
        {"a camera that sent nothing", filterOf("99", "", kNoon - 100s), {}},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(journal->list(c.filter), c.keys);
    }

    const std::string note = hostile + "%_" + longName;
    const std::int64_t marked[] = {quoted, longest};
    EXPECT_EQ(journal->markReviewed(marked, "bob", note, kNoon + 5s), 2);
    const std::vector<JournalKey> keys = {alarm(quoted), alarm(motion)};
    const std::vector<JournalRow> rows = journal->rows(keys);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].alarmName, hostile);
    EXPECT_EQ(rows[0].note, note);
    EXPECT_EQ(rows[0].reviewedBy, "bob");
    EXPECT_EQ(rows[0].reviewedAt, kNoon + 5s);
    EXPECT_EQ(rows[1].reviewedBy, "ann");
    EXPECT_TRUE(rows[1].note.empty());
    EXPECT_EQ(journal->unreviewedCount(), 1);
}

// A journal file that is no journal of ours is renamed aside, never deleted, and a new one
// started; the user hears of it.
TEST_F(Journal, AFileThatIsNoUsableJournalIsSetAsideAndANewOneStarted) {
    const auto newerSchema = [this] {
        sqlite3* db = nullptr;
        sqlite3_open((folder() / AlarmJournal::kFileName).c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE t (x); PRAGMA user_version = 99;", nullptr, nullptr,
                     nullptr);
        sqlite3_close(db);
    };
    const auto damaged = [this] {
        {
            const std::unique_ptr<AlarmJournal> journal = open();
            for (int i = 0; i < 200; ++i) {
                record(*journal, kNoon + std::chrono::seconds(i), "7", std::string(200, 'n'));
            }
        }
        // Pages after the first (the header stays readable) overwritten.
        std::fstream file(folder() / AlarmJournal::kFileName,
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);
        file << std::string(16'384, '\x5A');
    };
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* aside;
    };
    const std::vector<Case> table = {
        {"not a database",
         [this] { std::ofstream(folder() / AlarmJournal::kFileName) << std::string(9000, 'q'); },
         "damaged"},
        {"a damaged journal", damaged, "damaged"},
        {"a newer program's journal", newerSchema, "newer"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        fs::create_directories(folder());
        c.make();
        const std::string original = contents(folder() / AlarmJournal::kFileName);
        const test::LogCapture log;

        const std::unique_ptr<AlarmJournal> journal = open();

        EXPECT_NE(journal->notice().find("set aside as journal.sqlite3." + std::string(c.aside)),
                  std::string::npos)
            << journal->notice();
        EXPECT_TRUE(log.contains(journal->notice()));
        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(folder())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("journal.sqlite3." + std::string(c.aside) + "-") &&
                !name.ends_with("-wal") && !name.ends_with("-shm")) {
                aside.push_back(entry.path());
            }
        }
        ASSERT_FALSE(aside.empty());
        EXPECT_EQ(contents(aside.front()).substr(0, 4096), original.substr(0, 4096));
        EXPECT_FALSE(journal->trouble());
        ASSERT_TRUE(record(*journal, kNoon));
        EXPECT_EQ(everything(*journal).size(), 1u);
    }
}

// Only a writer sets a journal aside: a reader leaves every file as it is and says why it reads
// nothing.
TEST_F(Journal, AReaderLeavesAJournalItCannotReadAsItIs) {
    struct Case {
        const char* what;
        const char* sql;
        std::error_code error;
    };
    const std::vector<Case> table = {
        {"a newer program's journal", "CREATE TABLE t (x); PRAGMA user_version = 99;",
         JournalError::newerVersion},
        {"not a database", nullptr, std::make_error_code(std::errc::illegal_byte_sequence)},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        fs::create_directories(folder() / AlarmJournal::kSnapshotFolderName);
        const fs::path file = folder() / AlarmJournal::kFileName;
        if (c.sql != nullptr) {
            sqlite3* db = nullptr;
            sqlite3_open(file.c_str(), &db);
            sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else {
            std::ofstream(file) << std::string(9000, 'q');
        }
        const std::string original = contents(file);

        const std::unique_ptr<AlarmJournal> reader = open(AlarmJournal::Role::reader);

        EXPECT_TRUE(reader->list({}).empty());
        ASSERT_TRUE(reader->trouble());
        EXPECT_EQ(reader->trouble()->error, c.error);
        EXPECT_EQ(reader->notice(), "");
        EXPECT_EQ(contents(file), original);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder()), {}), 2);
    }
}

// A link planted in place of the database is neither followed nor moved: the journal says so.
TEST_F(Journal, ALinkInPlaceOfTheDatabaseIsNeverFollowed) {
    const fs::path victim = m_temp.path() / "victim";
    std::ofstream(victim) << "untouched";
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_directories(folder());
    fs::create_symlink(victim, folder() / AlarmJournal::kFileName);
    for (const AlarmJournal::Role role : {AlarmJournal::Role::writer, AlarmJournal::Role::reader}) {
        const std::unique_ptr<AlarmJournal> journal = open(role);
        ASSERT_TRUE(journal->trouble());
        EXPECT_EQ(journal->trouble()->error, std::errc::too_many_symbolic_link_levels);
        EXPECT_TRUE(fs::is_symlink(folder() / AlarmJournal::kFileName));
        EXPECT_EQ(contents(victim), "untouched");
        EXPECT_EQ(fs::status(victim).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
}

// A journal whose folder became read-only: the system's own reason, for both roles; the folder
// is there.
TEST_F(Journal, AReadOnlyFolderIsToldAsSuchNotAsMissing) {
    test::SmallFolder small(m_temp.path() / "small");
    const fs::path data = small.path() / "krt-client";
    {
        AlarmJournal journal(data, AlarmJournal::Role::writer);
        ASSERT_TRUE(record(journal, kNoon));
    }
    small.setReadOnly(true);
    for (const AlarmJournal::Role role : {AlarmJournal::Role::writer, AlarmJournal::Role::reader}) {
        AlarmJournal journal(data, role);
        journal.list({});
        ASSERT_TRUE(journal.trouble());
        EXPECT_THAT(journal.trouble()->error.value(), ::testing::AnyOf(EROFS, EACCES))
            << journal.trouble()->error.message();
    }
    small.setReadOnly(false);
}

// A full or read-only data folder: it is said, nothing written before is lost, and writing
// resumes by itself when the folder is writable again.
TEST_F(Journal, AFullOrReadOnlyFolderIsToldAndWritingResumesWhenItIsWritableAgain) {
    test::SmallFolder small(m_temp.path() / "small");
    struct Case {
        const char* what;
        bool faultFirst;  // the fault is there before the journal opens
        std::function<void()> fault;
        std::function<void()> heal;
        std::vector<int> errors;  // any of these
    };
    const std::vector<Case> table = {
        {"full", false, [&] { small.fill(); }, [&] { small.free(); }, {small.fullError()}},
        {"read-only",
         true,
         [&] { small.setReadOnly(true); },
         [&] { small.setReadOnly(false); },
         {EROFS, EACCES}},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        const fs::path data = small.path() / c.what;
        if (c.faultFirst) {
            c.fault();
        }
        AlarmJournal journal(data, AlarmJournal::Role::writer);
        const std::optional<std::int64_t> before =
            c.faultFirst ? std::nullopt : record(journal, kNoon);
        if (!c.faultFirst) {
            ASSERT_TRUE(before);
            c.fault();
        }
        record(journal, kNoon + 1s);
        const std::optional<JournalTrouble> trouble = journal.trouble();
        ASSERT_TRUE(trouble);
        EXPECT_NE(std::ranges::find(c.errors, trouble->error.value()), c.errors.end())
            << trouble->error.message();
        EXPECT_EQ(trouble->folder, data);

        c.heal();
        const std::optional<std::int64_t> after = record(journal, kNoon + 2s);
        ASSERT_TRUE(after);
        EXPECT_FALSE(journal.trouble());
        std::vector<std::int64_t> kept;
        for (const JournalRow& row : everything(journal)) {
            EXPECT_TRUE(fs::exists(journal.snapshotFolder() / row.snapshotName) ||
                        row.time == kNoon + 1s)
                << "only the alarm of the fault may lack its snapshot";
            kept.push_back(row.id);
        }
        EXPECT_EQ(kept.front(), *after);
        if (before) {
            EXPECT_EQ(kept.back(), *before);
        }
    }
}

// The columns of the servers' names, which the versions before them lacked.
constexpr const char* kWithoutSites =
    "DROP INDEX alarms_by_site; ALTER TABLE alarms DROP COLUMN site; ALTER TABLE gaps DROP "
    "COLUMN site; ALTER TABLE sessions DROP COLUMN site;";

// Why an alarm has no snapshot is kept with it, and a journal of the version before this
// column takes it on.
TEST_F(Journal, WhyAnAlarmHasNoSnapshotIsKept) {
    {
        const std::unique_ptr<AlarmJournal> journal = open();
        ASSERT_TRUE(record(*journal, kNoon));
    }
    // The journal as the version before wrote it.
    sqlite3* db = nullptr;
    sqlite3_open((folder() / AlarmJournal::kFileName).c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db,
                           (std::string(kWithoutSites) +
                            "ALTER TABLE alarms DROP COLUMN snapshot_missing; PRAGMA "
                            "user_version = 1;")
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::unique_ptr<AlarmJournal> journal = open();
    const std::string bytes = picture(0);
    struct Case {
        const char* what;
        std::string_view snapshot;
        std::string missing;
        bool folderGone;
        std::string kept;
    };
    const std::vector<Case> cases = {
        {"a picture", bytes, "", false, ""},
        {"a picture with a stray reason", bytes, "disconnected", false, ""},
        {"not fetched",
         {},
         "not fetched: too many waiting",
         false,
         "not fetched: too many waiting"},
        {"nobody said why", {}, "", false, ""},
        {"a picture the journal cannot write", bytes, "", true,
         "not saved: " + std::make_error_code(std::errc::not_a_directory).message()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.folderGone) {
            fs::remove_all(journal->snapshotFolder());
            std::ofstream(journal->snapshotFolder()) << "not a folder";
        }
        JournalEntry entry;
        entry.server = kServer;
        entry.channelId = "7";
        entry.alarmName = c.what;
        entry.timestamp = c.what;
        entry.receivedAt = kNoon + 1s;
        entry.snapshot = c.snapshot;
        entry.snapshotMissing = c.missing;
        const std::optional<std::int64_t> id = journal->record(entry);
        ASSERT_TRUE(id);
        const JournalKey key{Kind::alarm, *id};
        const std::vector<JournalRow> rows = journal->rows(std::span(&key, 1));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].snapshotMissing, c.kept);
        EXPECT_EQ(rows[0].snapshotName.empty(), !c.kept.empty() || c.snapshot.empty());
    }
    EXPECT_EQ(everything(*journal).back().snapshotMissing, "") << "the row from before";
}

// Two programs write one journal at once: every alarm of both is kept, none is refused.
TEST_F(Journal, TwoWritersAtOnceLoseNothing) {
    constexpr int kEach = 300;
    const auto write = [this](std::string channel) {
        AlarmJournal journal(folder(), AlarmJournal::Role::writer);
        journal.startSession(kServer, kNoon);
        for (int i = 0; i < kEach; ++i) {
            EXPECT_TRUE(record(journal, kNoon + std::chrono::milliseconds(i), channel));
        }
        EXPECT_FALSE(journal.trouble());
    };
    {
        std::jthread first(write, "1");
        std::jthread second(write, "2");
    }
    const std::unique_ptr<AlarmJournal> reader = open(AlarmJournal::Role::reader);
    const std::vector<JournalKey> keys = reader->list({});
    EXPECT_EQ(std::ranges::count(keys, Kind::alarm, &JournalKey::kind), 2 * kEach);
    EXPECT_EQ(reader->unreviewedCount(), 2 * kEach);
}

// Several servers in one journal: each one's alarms and intervals are its own, however alike.
TEST_F(Journal, EachServersAlarmsAndIntervalsAreItsOwn) {
    const std::unique_ptr<AlarmJournal> first = open();
    const std::unique_ptr<AlarmJournal> siteB = open();
    first->startSession(kServer, kNoon);
    siteB->startSession(kServer, kNoon, "Site B");  // the same address, another port
    siteB->endGap(kNoon + 500ms);                   // subscribed at once: no interval
    siteB->beginGap(kNoon + 10s, "connection lost");
    first->endGap(kNoon + 20s);
    JournalEntry entry;
    entry.server = kServer;
    entry.channelId = "1";
    entry.alarmName = "Motion";
    entry.timestamp = "20260107120030000";
    entry.receivedAt = kNoon + 30s;
    const std::optional<std::int64_t> ofFirst = first->record(entry);
    entry.site = "Site B";
    EXPECT_NE(siteB->record(entry), ofFirst) << "two servers' alarms are two rows";

    struct Case {
        const char* what;
        std::optional<std::string> site;
        std::vector<std::pair<Kind, std::string>> rows;  // newest first
    };
    const std::vector<Case> cases = {
        {"every server",
         std::nullopt,
         {{Kind::alarm, "Site B"}, {Kind::alarm, ""}, {Kind::gap, "Site B"}, {Kind::gap, ""}}},
        {"the first server", "", {{Kind::alarm, ""}, {Kind::gap, ""}}},
        {"Site B", "Site B", {{Kind::alarm, "Site B"}, {Kind::gap, "Site B"}}},
        {"a server without rows", "Site C", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JournalFilter filter;
        filter.site = c.site;
        const std::vector<JournalKey> keys = first->list(filter);
        std::vector<std::pair<Kind, std::string>> found;
        for (const JournalRow& row : first->rows(keys)) {
            found.emplace_back(row.kind, row.site);
        }
        EXPECT_EQ(found, c.rows);
    }
    JournalFilter ofSiteB;
    ofSiteB.site = "Site B";
    const std::vector<JournalRow> gapOfB = first->rows(first->list(ofSiteB));
    ASSERT_EQ(gapOfB.size(), 2u);
    EXPECT_EQ(gapOfB[1].gapEnd, std::nullopt) << "the first server's subscription left it open";
}

// Each server of the journal once, by the address of its newest row; one that has only had an
// interval without reception is listed too.
TEST_F(Journal, TheServersAreListedOnceEachWithTheirNewestAddress) {
    const std::unique_ptr<AlarmJournal> journal = open();
    EXPECT_TRUE(journal->sites().empty());
    const auto recordFrom = [&](std::string server, std::string site, Clock::time_point at) {
        JournalEntry entry;
        entry.server = std::move(server);
        entry.site = std::move(site);
        entry.channelId = "1";
        entry.alarmName = "Motion";
        entry.timestamp = std::to_string(at.time_since_epoch().count());
        entry.receivedAt = at;
        EXPECT_TRUE(journal->record(entry));
    };
    recordFrom("127.0.0.1", "", kNoon);
    recordFrom("127.0.0.3", "Site C", kNoon + 1s);
    recordFrom("127.0.0.2", "", kNoon + 2s);  // the login's address changed
    recordFrom("127.0.0.1", "", kNoon - 1h);  // written last, received first
    const std::unique_ptr<AlarmJournal> siteB = open();
    siteB->startSession("127.0.0.4", kNoon + 3s, "Site B");
    EXPECT_EQ(journal->sites(),
              (std::vector<JournalSite>{
                  {"", "127.0.0.2"}, {"Site B", "127.0.0.4"}, {"Site C", "127.0.0.3"}}));
}

TEST(ServerName, IsTheSiteElseTheAddress) {
    struct Case {
        std::string_view site;
        std::string_view server;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"Site B", "127.0.0.1", "Site B"},
        {"", "127.0.0.1", "127.0.0.1"},
        {"", "", "First server"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(serverName(c.site, c.server), c.name) << c.site << " " << c.server;
    }
}

// A journal of every earlier version reads as the first server's, and takes new servers' rows.
TEST_F(Journal, AJournalOfAnEarlierVersionIsTheFirstServers) {
    struct Case {
        const char* what;
        const char* downgrade;
    };
    const std::vector<Case> cases = {
        {"before the server names", "PRAGMA user_version = 2;"},
        {"before the missing snapshots' reasons",
         "ALTER TABLE alarms DROP COLUMN snapshot_missing; PRAGMA user_version = 1;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder());
        {
            const std::unique_ptr<AlarmJournal> journal = open();
            journal->startSession(kServer, kNoon);
            ASSERT_TRUE(record(*journal, kNoon + 1s));
        }
        sqlite3* db = nullptr;
        sqlite3_open((folder() / AlarmJournal::kFileName).c_str(), &db);
        ASSERT_EQ(sqlite3_exec(db, (std::string(kWithoutSites) + c.downgrade).c_str(), nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);

        const std::unique_ptr<AlarmJournal> journal = open();
        journal->startSession(kServer, kNoon + 2s, "Site B");
        JournalFilter firstServers;
        firstServers.site = "";
        const std::vector<JournalRow> old = journal->rows(journal->list(firstServers));
        ASSERT_EQ(old.size(), 2u) << "its alarm and its open interval";
        EXPECT_EQ(old[0].kind, Kind::alarm);
        EXPECT_EQ(old[0].server, kServer);
        JournalFilter siteB;
        siteB.site = "Site B";
        EXPECT_EQ(journal->list(siteB).size(), 1u) << "the new server's own interval";
        EXPECT_FALSE(journal->trouble());
    }
}

}  // namespace
}  // namespace krt
