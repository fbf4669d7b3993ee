#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include "alarms/snapshot_fetcher.h"
#include "cli/cli_test_support.h"
#include "journal/alarm_journal.h"
#include "sim/sim_test_support.h"
#include "support/log_capture.h"

extern char** environ;

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::test::RunningSim;
using test::runCli;
using ::testing::HasSubstr;

constexpr auto kWait = 10s;

std::vector<nlohmann::json> documents(const std::string& text) {
    std::vector<nlohmann::json> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        found.push_back(nlohmann::json::parse(line));
    }
    return found;
}

std::vector<nlohmann::json> ofKind(const std::vector<nlohmann::json>& all, const char* kind) {
    std::vector<nlohmann::json> found;
    for (const nlohmann::json& document : all) {
        if (document.value("kind", "") == kind) {
            found.push_back(document);
        }
    }
    return found;
}

class CliHistory : public ::testing::Test {
  protected:
    std::vector<std::string> alarms(const std::string& server, std::vector<std::string> extra) {
        std::vector<std::string> all = {"--server",       server,
                                        "--user",         "demo",
                                        "--password",     "demo",
                                        "--json",         "alarms",
                                        "--journal-dir",  journal().string(),
                                        "--snapshot-dir", (m_temp.path() / "EventImages").string()};
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }
    std::vector<nlohmann::json> history(std::vector<std::string> options) {
        std::vector<std::string> all = {"--json", "history", "--journal-dir", journal().string()};
        all.insert(all.end(), options.begin(), options.end());
        const test::CliRun run = runCli(all);
        EXPECT_EQ(run.status, 0) << run.err;
        return documents(run.out);
    }
    fs::path journal() const { return m_temp.path() / "journal"; }

    test::ScopedEnvironment m_noPassword{"KRT_PASSWORD", std::nullopt};
    test::TempFolder m_temp;
};

// From krt-sim through "krt-cli alarms --journal" to "krt-cli history" and "review": what was
// printed is what the journal holds, with its snapshots.
TEST_F(CliHistory, TheJournalHoldsWhatAlarmsPrintedAndReviewsMarkIt) {
    RunningSim sim;
    const std::jthread pusher([&] {
        ASSERT_TRUE(sim.server().waitForSubscribers(1, kWait));
        std::size_t fetched = 0;
        for (const char* channel : {"1", "4", "1"}) {
            sim.server().pushAlarm(channel, "Door Open");
            ASSERT_TRUE(sim.server().waitForRequests("getAlarmImage", ++fetched, kWait));
        }
    });
    const test::CliRun run = runCli(alarms(sim.address(), {"--count", "3", "--timeout", "20"}));
    ASSERT_EQ(run.status, 0) << run.err;
    std::multiset<std::string> printed;
    for (const nlohmann::json& event : documents(run.out)) {
        if (event.contains("name")) {
            printed.insert(event["channel"].get<std::string>() + " " +
                           event["time"].get<std::string>());
        }
    }
    ASSERT_EQ(printed.size(), 3u);

    const std::vector<nlohmann::json> all = history({});
    const std::vector<nlohmann::json> rows = ofKind(all, "alarm");
    std::multiset<std::string> journaled;
    for (const nlohmann::json& row : rows) {
        journaled.insert(row["channel"].get<std::string>() + " " + row["time"].get<std::string>());
        EXPECT_EQ(row["name"], "Door Open");
        EXPECT_EQ(fs::file_size(row["snapshot"].get<std::string>()), row["snapshotBytes"]);
    }
    EXPECT_EQ(journaled, printed);
    const std::vector<nlohmann::json> gaps = ofKind(all, "gap");
    ASSERT_EQ(gaps.size(), 1u) << "since the run ended";
    EXPECT_EQ(gaps[0]["reason"], "client not running");
    EXPECT_TRUE(gaps[0]["to"].is_null());
    EXPECT_EQ(ofKind(history({"--channel", "4"}), "alarm").size(), 1u);

    const std::string first = std::to_string(rows.back()["id"].get<int>());
    const test::CliRun review =
        runCli({"--user", "ann", "review", first, "--note", "checked, \"all\" fine",
                "--journal-dir", journal().string()});
    EXPECT_EQ(review.status, 0) << review.err;
    const std::vector<nlohmann::json> left = ofKind(history({"--unreviewed"}), "alarm");
    EXPECT_EQ(left.size(), 2u);
    const nlohmann::json reviewed = ofKind(history({"--since", "-1h"}), "alarm").back();
    EXPECT_EQ(reviewed["reviewedBy"], "ann");
    EXPECT_EQ(reviewed["note"], "checked, \"all\" fine");

    const test::CliRun unknown = runCli({"review", "999999", "--journal-dir", journal().string()});
    EXPECT_EQ(unknown.status, 3);
    EXPECT_THAT(unknown.err, HasSubstr("1 of the IDs are no alarms of the journal."));
    EXPECT_EQ(
        runCli({"history", "--since", "yesterday", "--journal-dir", journal().string()}).status, 1);
}

// A journal of a newer program is left as it is (the journal's rule); history says why it
// prints nothing, and fails.
TEST_F(CliHistory, ANewerJournalIsLeftAsItIsAndTheReaderSaysWhy) {
    fs::create_directories(journal());
    const fs::path file = journal() / AlarmJournal::kFileName;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t (x); PRAGMA user_version = 99;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const auto size = fs::file_size(file);

    const test::CliRun run = runCli({"history", "--journal-dir", journal().string()});

    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("The alarm journal in " + journal().string() +
                                   " cannot be read: it was written by a newer version"));
    EXPECT_EQ(fs::file_size(file), size);
}

// krt-cli as its own process, with its standard output on a pipe that this test reads.
class CliProcess {
  public:
    explicit CliProcess(const std::vector<std::string>& arguments) {
        int pipe[2];
        EXPECT_EQ(::pipe(pipe), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe[0]);
        std::vector<char*> argv{const_cast<char*>(KRT_CLI_PROGRAM)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&m_pid, KRT_CLI_PROGRAM, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        m_out = ::fdopen(pipe[0], "r");
    }
    ~CliProcess() {
        kill();
        if (m_out != nullptr) {
            std::fclose(m_out);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // The next line printed; nothing once the output has ended.
    std::optional<std::string> line() {
        char* text = nullptr;
        std::size_t capacity = 0;
        const ssize_t length = ::getline(&text, &capacity, m_out);
        std::optional<std::string> found;
        if (length > 0) {
            found = std::string(text, static_cast<std::size_t>(length));
        }
        std::free(text);
        return found;
    }
    void kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

  private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
};

// "kill -9" during a burst of 500 alarms a second: every alarm printed before the kill is in
// the journal, which opens clean.
TEST_F(CliHistory, EveryAlarmPrintedBeforeAKillIsInTheJournal) {
    RunningSim sim;
    CliProcess cli(alarms(sim.address(), {"--timeout", "60"}));
    ASSERT_TRUE(sim.server().waitForSubscribers(1, kWait));
    std::atomic<bool> pushing{true};
    std::jthread burst([&] {
        auto next = std::chrono::steady_clock::now();
        for (int n = 0; pushing && n < 30'000; ++n) {
            sim.server().pushAlarm(std::to_string(1 + n % 9), "Burst-" + std::to_string(n));
            next += 2ms;
            std::this_thread::sleep_until(next);  // the burst's pace, 500 a second
        }
    });
    std::vector<std::string> names;
    while (names.size() < 200) {
        const std::optional<std::string> line = cli.line();
        ASSERT_TRUE(line) << "krt-cli ended early";
        if (const auto event = nlohmann::json::parse(*line); event.contains("name")) {
            names.push_back(event["name"]);
        }
    }
    cli.kill();
    pushing = false;
    // What it printed before it died.
    while (const std::optional<std::string> line = cli.line()) {
        if (const auto event = nlohmann::json::parse(*line, nullptr, false);
            !event.is_discarded() && event.contains("name")) {
            names.push_back(event["name"]);
        }
    }

    AlarmJournal reopened(journal(), AlarmJournal::Role::writer);
    EXPECT_TRUE(reopened.notice().empty()) << reopened.notice();
    EXPECT_FALSE(reopened.trouble());
    std::set<std::string> journaled;
    const std::vector<JournalKey> keys = reopened.list({});
    for (const JournalRow& row : reopened.rows(keys)) {
        journaled.insert(row.alarmName);
    }
    for (const std::string& name : names) {
        EXPECT_TRUE(journaled.contains(name)) << name;
    }
}

// The client holds the journal twice (its writer and its History) while krt-cli reads it: what
// the client journals after krt-cli has ended is still seen by the next reader.
TEST_F(CliHistory, AReaderEndingBesideTheClientsJournalsLosesNoLaterAlarm) {
    AlarmJournal writer(journal(), AlarmJournal::Role::writer);
    const AlarmJournal history(journal(), AlarmJournal::Role::reader);
    const auto journalAlarm = [&writer](const char* name) {
        JournalEntry entry;
        entry.server = "127.0.0.1";
        entry.channelId = "3";
        entry.alarmName = name;
        entry.timestamp = name;
        entry.receivedAt = JournalClock::now();
        return writer.record(entry).has_value();
    };
    const auto alarmsListedByKrtCli = [this] {
        CliProcess cli({"--json", "history", "--journal-dir", journal().string()});
        std::vector<std::string> lines;
        while (const std::optional<std::string> line = cli.line()) {
            lines.push_back(*line);
        }
        return ofKind(documents(std::accumulate(lines.begin(), lines.end(), std::string())),
                      "alarm")
            .size();
    };
    ASSERT_TRUE(journalAlarm("First"));
    EXPECT_EQ(alarmsListedByKrtCli(), 1u);
    ASSERT_TRUE(journalAlarm("Second"));
    EXPECT_EQ(alarmsListedByKrtCli(), 2u);
}

// A burst of 2 MiB snapshots while each takes its time: the pictures that fit in the fetcher's
// budget are journaled, and every other alarm says why it has none.
TEST_F(CliHistory, ABurstBeyondTheSnapshotBudgetSaysWhyTheRestHaveNone) {
    constexpr int kBurst = 48;
    constexpr std::size_t kPictureBytes = std::size_t{2} << 20;
    sim::SimConfig config = RunningSim::quietDefault();
    config.alarmImageMinBytes = kPictureBytes;
    sim::FaultMode slow;
    slow.kind = sim::FaultKind::Delay;
    slow.request = "getAlarmImage";
    slow.delayMs = 200;
    config.faults.push_back(slow);
    RunningSim sim(config);
    CliProcess cli(
        alarms(sim.address(), {"--count", std::to_string(kBurst + 1), "--timeout", "60"}));
    ASSERT_TRUE(sim.server().waitForSubscribers(1, kWait));
    // Once the first has been printed, its picture tells the fetcher the size of the next.
    sim.server().pushAlarm("1", "First");
    int printed = 0;
    const auto untilPrinted = [&](int count) {
        while (printed < count) {
            const std::optional<std::string> line = cli.line();
            ASSERT_TRUE(line) << "krt-cli ended early";
            printed += nlohmann::json::parse(*line).contains("name") ? 1 : 0;
        }
    };
    untilPrinted(1);
    for (int n = 0; n < kBurst; ++n) {
        sim.server().pushAlarm(std::to_string(1 + n % 9), "Burst-" + std::to_string(n));
    }
    untilPrinted(kBurst + 1);

    const std::vector<nlohmann::json> rows = ofKind(history({}), "alarm");
    ASSERT_EQ(rows.size(), std::size_t{kBurst + 1});
    std::size_t withSnapshot = 0;
    for (const nlohmann::json& row : rows) {
        if (row["snapshot"] != "") {
            ++withSnapshot;
            EXPECT_TRUE(row["snapshotMissing"].is_null()) << row.dump();
            EXPECT_GE(row["snapshotBytes"], kPictureBytes);
        } else {
            EXPECT_EQ(row["snapshotMissing"], "not fetched: too many waiting") << row.dump();
        }
    }
    EXPECT_GE(withSnapshot, kSnapshotBudgetBytes / kPictureBytes) << "the budget's worth";
    EXPECT_LT(withSnapshot, rows.size()) << "the burst goes beyond the budget";
}

}  // namespace
}  // namespace krt
