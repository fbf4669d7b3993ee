#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_test_support.h"
#include "sim/sim_test_support.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::test::RunningSim;
using test::runCli;
using test::ScopedEnvironment;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

constexpr auto kWait = 10s;
constexpr std::size_t kSnapshotBytes = 50 * 1024;

sim::SimConfig simConfig() {
    sim::SimConfig config = RunningSim::quietDefault();
    config.alarmImageMinBytes = kSnapshotBytes;
    return config;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        found.push_back(line);
    }
    return found;
}

class CliAlarms : public ::testing::Test {
  protected:
    void SetUp() override {
        m_snapshots = fs::temp_directory_path() /
                      ("krt-cli-alarms-" + std::to_string(std::random_device{}())) / "EventImages";
    }
    void TearDown() override { fs::remove_all(m_snapshots.parent_path()); }

    std::vector<std::string> arguments(const std::string& server,
                                       std::vector<std::string> options) const {
        std::vector<std::string> all = {"--server", server, "--user", "demo", "--password", "demo"};
        if (m_json) {
            all.push_back("--json");
        }
        all.push_back("alarms");
        all.insert(all.end(), options.begin(), options.end());
        all.insert(all.end(), {"--timeout", "20", "--snapshot-dir", m_snapshots.string()});
        return all;
    }

    // Runs the server side of a test on its own thread while krt-cli runs on this one.
    static std::jthread serverSide(std::function<void()> body) { return std::jthread(body); }

    static void pushWhenSubscribed(sim::SimServer& server, int count) {
        ASSERT_TRUE(server.waitForSubscribers(1, kWait));
        for (int i = 0; i < count; ++i) {
            server.pushAlarm(std::to_string(1 + i % 9), "Motion");
            // Distinct timestamps, so that every event has a file of its own.
            ASSERT_TRUE(
                server.waitForRequests("getAlarmImage", static_cast<std::size_t>(i + 1), kWait));
        }
    }

    std::size_t snapshotCount() const {
        return fs::exists(m_snapshots) ? static_cast<std::size_t>(
                                             std::distance(fs::directory_iterator(m_snapshots), {}))
                                       : 0;
    }

    ScopedEnvironment m_noPassword{"KRT_PASSWORD", std::nullopt};
    ScopedEnvironment m_noLogDir{"KRT_LOG_DIR", std::nullopt};
    fs::path m_snapshots;
    bool m_json = false;
};

TEST_F(CliAlarms, PrintsCountEventsWithTheirSnapshotsAndExitsWithZero) {
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 3); });

    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "3", "--keep"}));

    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> printed = lines(run.out);
    ASSERT_EQ(printed.size(), 3u) << run.out;
    for (const std::string& line : printed) {
        EXPECT_THAT(line, MatchesRegex("name=Motion\tchannel=[1-3]\t"
                                       "time=[0-9]{2}-[A-Z][a-z]{2}-[0-9]{4}::[0-9:]{8}\t"
                                       "image=.*/EventImages/[0-9]{17}\\.jpg\tbytes=[0-9]+"));
        const std::string image =
            line.substr(line.find("image=") + 6, line.find("\tbytes=") - line.find("image=") - 6);
        const auto bytes = std::stoull(line.substr(line.find("bytes=") + 6));
        EXPECT_GE(bytes, kSnapshotBytes);
        EXPECT_EQ(fs::file_size(image), bytes) << "--keep leaves the snapshot in place";
    }
}

TEST_F(CliAlarms, JsonLinesCarryNameChannelTimeImageAndImageBytes) {
    m_json = true;
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 2); });

    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "2", "--keep"}));

    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<nlohmann::ordered_json> events;
    for (const std::string& line : lines(run.out)) {
        if (auto document = nlohmann::ordered_json::parse(line); !document.contains("status")) {
            events.push_back(std::move(document));
        }
    }
    ASSERT_EQ(events.size(), 2u);
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto& event = events[i];
        std::vector<std::string> keys;
        for (const auto& [key, value] : event.items()) {
            keys.push_back(key);
        }
        EXPECT_EQ(keys,
                  (std::vector<std::string>{"name", "channel", "time", "image", "imageBytes"}));
        EXPECT_EQ(event["name"], "Motion");
        EXPECT_EQ(event["channel"], std::to_string(i + 1));
        EXPECT_EQ(fs::file_size(event["image"].get<std::string>()), event["imageBytes"]);
    }
}

TEST_F(CliAlarms, DeletesEverySnapshotAtTheEndWithoutKeep) {
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 8); });

    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "8"}));

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines(run.out).size(), 8u);
    EXPECT_EQ(snapshotCount(), 0u) << "the client's snapshots go with it";
}

TEST_F(CliAlarms, KeepLeavesEverySnapshot) {
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 8); });

    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "8", "--keep"}));

    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> printed = lines(run.out);
    ASSERT_EQ(printed.size(), 8u);
    // Alarms pushed within one millisecond share a timestamp, yet each has its own file.
    std::set<std::string> images;
    for (const std::string& line : printed) {
        images.insert(
            line.substr(line.find("image=") + 6, line.find("\tbytes=") - line.find("image=") - 6));
    }
    EXPECT_EQ(images.size(), 8u);
    EXPECT_EQ(snapshotCount(), 8u);
    for (const std::string& image : images) {
        EXPECT_TRUE(fs::exists(image)) << image;
    }
}

// Two cameras' alarms of one timestamp: each line names its own file with its own picture, the
// first under the timestamp's name.
TEST_F(CliAlarms, TwoAlarmsOfOneTimestampKeepTwoPictures) {
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] {
        ASSERT_TRUE(sim.server().waitForSubscribers(1, kWait));
        sim.server().pushAlarmStamped("1", "Motion", "20250315101010123");
        sim.server().pushAlarmStamped("2", "Motion", "20250315101010123");
    });

    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "2", "--keep"}));

    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> printed = lines(run.out);
    ASSERT_EQ(printed.size(), 2u) << run.out;
    std::vector<std::string> pictures;
    for (const std::string& line : printed) {
        const std::size_t start = line.find("image=") + 6;
        const fs::path image = line.substr(start, line.find("\tbytes=") - start);
        EXPECT_EQ(fs::file_size(image), std::stoull(line.substr(line.find("bytes=") + 6)));
        std::ifstream file(image, std::ios::binary);
        pictures.emplace_back(std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>());
    }
    EXPECT_THAT(printed[0], HasSubstr("channel=1\t"));
    EXPECT_THAT(printed[0], HasSubstr("/20250315101010123.jpg\t"));
    EXPECT_THAT(printed[1], HasSubstr("/20250315101010123-2.jpg\t"));
    EXPECT_NE(pictures[0], pictures[1]);
    EXPECT_EQ(snapshotCount(), 2u);
}

TEST_F(CliAlarms, ATimeOutBeforeCountEventsExitsWithThree) {
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 1); });

    std::vector<std::string> all = arguments(sim.address(), {"--count", "2"});
    all.erase(all.end() - 4, all.end() - 2);  // the default time-out of the fixture
    all.insert(all.end(), {"--timeout", "1.5"});
    const test::CliRun run = runCli(all);

    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(lines(run.out).size(), 1u);
}

TEST_F(CliAlarms, ResubscribesWhenTheServerIsRestarted) {
    auto first = std::make_unique<RunningSim>(simConfig());
    const std::string address = first->address();
    sim::SimServer second(simConfig());
    const std::jthread restarts([&] {
        pushWhenSubscribed(first->server(), 1);
        // Killed once the snapshot is stored (a snapshot cut off would be a lost one): every
        // connection goes, nothing listens.
        for (int i = 0; i < 1000 && snapshotCount() == 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        first.reset();
        second.start(address, 5500);
        pushWhenSubscribed(second, 1);
    });

    const test::CliRun run = runCli(arguments(address, {"--count", "2", "--keep"}));

    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> printed = lines(run.out);
    ASSERT_EQ(printed.size(), 2u);
    // The first snapshot may be cut off by the kill; the one after the restart is whole.
    EXPECT_THAT(printed[1], HasSubstr("\tbytes=" + std::to_string(kSnapshotBytes)));
}

// A refused subscription is retried until one is accepted; the state changes come as lines of
// their own, before the alarm that the accepted subscription brings.
TEST_F(CliAlarms, ARefusedSubscriptionIsRetriedAndEachStateIsPrinted) {
    m_json = true;
    sim::SimConfig config = simConfig();
    sim::FaultMode refuse;
    refuse.kind = sim::FaultKind::Refuse;
    refuse.request = "setalarmnotifications";
    refuse.times = 1;
    config.faults.push_back(refuse);
    RunningSim sim(config);
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 1); });

    const test::CliRun run =
        runCli(arguments(sim.address(), {"--count", "1", "--retry-period", "0.2"}));

    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> printed = lines(run.out);
    ASSERT_EQ(printed.size(), 4u) << run.out;
    const auto retrying = nlohmann::json::parse(printed[0]);
    EXPECT_EQ(retrying["status"], "retrying");
    EXPECT_EQ(retrying["reason"], "refused");
    EXPECT_EQ(retrying["code"], 0);
    EXPECT_EQ(retrying["attempt"], 1);
    EXPECT_EQ(nlohmann::json::parse(printed[1])["status"], "subscribed");
    EXPECT_EQ(nlohmann::json::parse(printed[2])["name"], "Motion");
    EXPECT_EQ(nlohmann::json::parse(printed[3])["status"], "stopped");
    EXPECT_THAT(run.err, HasSubstr("Alarms: refused by the server (code 0), retrying in "));
    EXPECT_THAT(run.err, HasSubstr("Alarms: connected since "));
}

TEST_F(CliAlarms, ASnapshotFolderThatCannotBeMadeIsAUsageError) {
    RunningSim sim(simConfig());
    fs::create_directories(m_snapshots.parent_path());
    std::ofstream(m_snapshots.string()) << "a file, not a folder";

    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "1"}));

    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot create the snapshot folder"));
    EXPECT_EQ(sim.server().requestCount("validateuser"), 0u);
}

TEST_F(CliAlarms, TheSnapshotFolderItMakesIsTheUsersAloneWhateverTheUmask) {
    RunningSim sim(simConfig());
    const std::jthread pusher = serverSide([&] { pushWhenSubscribed(sim.server(), 1); });
    const mode_t previous = ::umask(0);
    const test::CliRun run = runCli(arguments(sim.address(), {"--count", "1", "--keep"}));
    ::umask(previous);

    ASSERT_EQ(run.status, 0) << run.err;
    for (const fs::path& folder : {m_snapshots, m_snapshots.parent_path()}) {
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    }
    ASSERT_EQ(snapshotCount(), 1u);
    EXPECT_EQ(fs::status(fs::directory_iterator(m_snapshots)->path()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(CliAlarms, OptionsOutOfRangeAreUsageErrors) {
    RunningSim sim(simConfig());
    const std::vector<std::vector<std::string>> table = {
        {"--count", "-1"}, {"--timeout", "-1"}, {"--timeout", "1e12"}, {"--count", "many"}};
    for (const std::vector<std::string>& options : table) {
        std::vector<std::string> all = {"--server",   sim.address(), "--user", "demo",
                                        "--password", "demo",        "alarms"};
        all.insert(all.end(), options.begin(), options.end());
        const test::CliRun run = runCli(all);
        EXPECT_EQ(run.status, 1) << options[0] << " " << options[1];
        EXPECT_THAT(run.err, HasSubstr(options[0])) << run.err;
    }
    EXPECT_EQ(sim.server().requestCount("validateuser"), 0u);
}

}  // namespace
}  // namespace krt
