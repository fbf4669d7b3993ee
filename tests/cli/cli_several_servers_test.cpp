#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_test_support.h"
#include "server_option.h"
#include "sim/sim_test_support.h"
#include "support/log_capture.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using cli::ServerOption;
using sim::test::RunningSim;
using ::testing::HasSubstr;

constexpr auto kSubscriptionWait = 10s;

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> documents;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        documents.push_back(nlohmann::json::parse(line));
    }
    return documents;
}

// Three servers, the third of which is down: the two others' alarms arrive, each named, and
// the same alarm of two servers is two rows in the journal.
TEST(CliSeveralServers, AlarmsOfEveryLiveServerArriveNamedAndAreJournaledApart) {
    test::ScopedEnvironment noPassword{"KRT_PASSWORD", std::nullopt};
    test::ScopedEnvironment noLogDir{"KRT_LOG_DIR", std::nullopt};
    test::TempFolder temp;
    RunningSim siteA;
    RunningSim siteB;
    // An address on which nothing listens: its login fails at every attempt.
    const std::string down = krt::test::listenOnFreeLoopbackAddress(5500).address;

    const std::jthread pusher([&] {
        ASSERT_TRUE(siteA.server().waitForSubscribers(1, kSubscriptionWait));
        ASSERT_TRUE(siteB.server().waitForSubscribers(1, kSubscriptionWait));
        const sim::AlarmMessage sent = siteA.server().pushAlarm("1", "Motion");
        siteB.server().pushAlarmStamped("1", "Motion", sent.timestamp);
    });
    const test::CliRun run = test::runCli({"--server",       "Site A=" + siteA.address(),
                                           "--server",       "Site B=" + siteB.address(),
                                           "--server",       "Site C=" + down,
                                           "--user",         "demo",
                                           "--password",     "demo",
                                           "--json",         "alarms",
                                           "--count",        "2",
                                           "--timeout",      "20",
                                           "--retry-period", "0.2",
                                           "--snapshot-dir", (temp.path() / "EventImages").string(),
                                           "--journal-dir",  (temp.path() / "journal").string()});

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("Site C: "));
    std::map<std::string, std::string> alarmTimeBySite;
    for (const nlohmann::json& line : jsonLines(run.out)) {
        if (line.contains("name")) {
            EXPECT_EQ(line["channel"], "1");
            alarmTimeBySite[line["server"]] = line["time"];
        }
    }
    ASSERT_EQ(alarmTimeBySite.size(), 2u) << run.out;
    EXPECT_EQ(alarmTimeBySite["Site A"], alarmTimeBySite["Site B"]);

    const auto history = [&](std::vector<std::string> filter) {
        std::vector<std::string> arguments = {"--json", "history", "--journal-dir",
                                              (temp.path() / "journal").string()};
        arguments.insert(arguments.end(), filter.begin(), filter.end());
        const test::CliRun listed = test::runCli(arguments);
        EXPECT_EQ(listed.status, 0) << listed.err;
        // Kind and reason, oldest first, by server.
        std::map<std::string, std::vector<std::string>> rows;
        const std::vector<nlohmann::json> documents = jsonLines(listed.out);
        for (auto row = documents.rbegin(); row != documents.rend(); ++row) {
            rows[(*row)["site"]].push_back(
                std::string((*row)["kind"]) +
                ((*row)["kind"] == "gap" ? " " + std::string((*row)["reason"]) : std::string()));
        }
        return rows;
    };
    using Rows = std::map<std::string, std::vector<std::string>>;
    // Subscribed at once: no interval until the run's end.
    EXPECT_EQ(history({}), (Rows{{"Site A", {"alarm", "gap client not running"}},
                                 {"Site B", {"alarm", "gap client not running"}},
                                 {"Site C", {"gap cannot connect to the server"}}}));
    EXPECT_EQ(history({"--site", "Site B"}),
              (Rows{{"Site B", {"alarm", "gap client not running"}}}));
}

TEST(CliSeveralServers, ServersAndCamerasAreReadFromTheCommandLine) {
    struct Case {
        const char* text;
        std::optional<ServerOption> server;
    };
    const std::vector<Case> cases = {
        {"127.0.0.2", ServerOption{"", "127.0.0.2", 5500, "127.0.0.2"}},
        {"127.0.0.3:5501", ServerOption{"", "127.0.0.3", 5501, "127.0.0.3:5501"}},
        {"Site B=127.0.0.3", ServerOption{"Site B", "127.0.0.3", 5500, "127.0.0.3"}},
        {"a=b=127.0.0.3", ServerOption{"a=b", "127.0.0.3", 5500, "127.0.0.3"}},
        {"=127.0.0.3", std::nullopt},
        {"Site B=", std::nullopt},
        {"127.0.0.3:0", std::nullopt},
        {"127.0.0.3:65536", std::nullopt},
        {"127.0.0.3:x", std::nullopt},
        {"server.example", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(cli::parseServerOption(c.text, 5500), c.server);
    }

    const std::vector<ServerOption> servers = {
        *cli::parseServerOption("127.0.0.2", 5500), *cli::parseServerOption("127.0.0.3", 5500),
        *cli::parseServerOption("Gate=127.0.0.3:5501", 5500)};
    struct Pick {
        const char* camera;
        std::optional<std::pair<std::size_t, std::string>> picked;
    };
    const std::vector<Pick> picks = {
        {"127.0.0.2:1", std::pair(std::size_t{0}, "1")},
        {"127.0.0.3:12", std::pair(std::size_t{1}, "12")},
        {"Gate:4", std::pair(std::size_t{2}, "4")},
        {"127.0.0.3:5501:4", std::pair(std::size_t{2}, "4")},
        {"1", std::nullopt},
        {"Yard:1", std::nullopt},
        {"Gate:", std::nullopt},
    };
    for (const Pick& p : picks) {
        SCOPED_TRACE(p.camera);
        EXPECT_EQ(cli::pickCamera(p.camera, servers), p.picked);
    }
    EXPECT_EQ(cli::pickCamera("Gate:4", std::span(servers).first(1)),
              std::pair(std::size_t{0}, std::string("Gate:4")))
        << "one server: the whole text is the channel ID";
    EXPECT_EQ(cli::journalSite(servers, 0), "") << "the first server's";
    EXPECT_EQ(cli::journalSite(servers, 1), "127.0.0.3");
    EXPECT_EQ(cli::journalSite(servers, 2), "Gate");
}

}  // namespace
}  // namespace krt
