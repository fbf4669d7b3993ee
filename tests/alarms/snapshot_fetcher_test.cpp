#include "alarms/snapshot_fetcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "alarms/alarm_time.h"
#include "alarms/fake_alarm_server.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FakeAlarmServer;
using test::FakeAlarmServerScript;

constexpr auto kFetcherWait = 10s;

TEST(SnapshotBudget, LetsThroughWhatTheExpectedPicturesLeaveRoomFor) {
    struct Case {
        const char* what;
        std::size_t taken;
        std::size_t expected_bytes;
        std::size_t budget_bytes;
        bool admitted;
    };
    const std::vector<Case> cases = {
        {"room for one more", 2, 100, 300, true},
        {"the budget full", 3, 100, 300, false},
        {"a burst of small pictures beyond the old count of 64", 1000, 20'000, kSnapshotBudgetBytes,
         true},
        {"the same burst of 16 MB pictures", 4, 16 << 20, kSnapshotBudgetBytes, false},
        {"a picture larger than the budget, none taken", 0, 1000, 300, true},
        {"a picture larger than the budget, one taken", 1, 1000, 300, false},
        {"nothing known of the pictures", 5, 0, 300, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(snapshotBudgetAdmits(c.taken, c.expected_bytes, c.budget_bytes), c.admitted)
            << c.what;
    }
}

// Holds the server's first picture back until opened, so that every job the test enqueues
// waits behind it.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, kFetcherWait, [this] { return m_open; });
    }
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

struct Finished {
    std::string alarmName;
    SnapshotOutcome outcome;
    std::string missing;
    std::size_t bytes;
};

class SnapshotFetcherTest : public testing::Test {
  protected:
    SnapshotFetcherTest()
        : m_folder(fs::temp_directory_path() /
                   ("krt-fetcher-" + std::to_string(std::random_device{}()))) {
        fs::create_directories(m_folder);
    }
    ~SnapshotFetcherTest() override { fs::remove_all(m_folder); }

    std::unique_ptr<SnapshotFetcher> fetcher(const std::string& address,
                                             std::size_t budget_bytes = kSnapshotBudgetBytes) {
        m_app.m_serverAddress = address;
        return std::make_unique<SnapshotFetcher>(
            m_app, m_cancellation, m_kept,
            [this](const SnapshotJob& job, const FetchedSnapshot& snapshot) {
                {
                    std::lock_guard lock(m_mutex);
                    m_finished.push_back({job.event.alarmName, snapshot.outcome, snapshot.missing,
                                          snapshot.bytes.size()});
                }
                m_changed.notify_all();
            },
            budget_bytes);
    }

    SnapshotJob job(int n) const {
        const std::string timestamp = "20131125103000" + std::to_string(1000 + n).substr(1);
        AlarmEvent event{"Alarm" + std::to_string(n), "7", "25-Nov-2013::10:30:00",
                         m_folder / (timestamp + ".jpg")};
        return {{timestamp, event.alarmName, "7"}, parseAlarmTimestamp(timestamp), event, true};
    }

    std::vector<Finished> waitForFinished(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, kFetcherWait, [&] { return m_finished.size() >= count; });
        return m_finished;
    }

    fs::path m_folder;
    AppState m_app;
    Cancellation m_cancellation;
    KeptEvents m_kept{SnapshotRetention::DeleteEvicted};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Finished> m_finished;
};

// A server whose first picture waits until the gate opens, so that every later fetch queues.
FakeAlarmServerScript firstPictureHeldBy(Gate& gate) {
    FakeAlarmServerScript script;
    script.image = [&gate](int n) {
        if (n == 0) {
            gate.wait();
        }
        return test::fakeJpeg(n);
    };
    return script;
}

// A burst far beyond the old count of 64 waiting fetches, all queued behind a slow first
// picture, still gets every snapshot, in the order of the alarms.
TEST_F(SnapshotFetcherTest, ABurstOfOrdinaryPicturesGetsEverySnapshot) {
    constexpr int kBurst = 200;
    Gate gate;
    FakeAlarmServer server(firstPictureHeldBy(gate));
    const auto fetching = fetcher(server.address());
    for (int n = 0; n < kBurst; ++n) {
        fetching->enqueue(job(n));
    }
    gate.open();
    const std::vector<Finished> finished = waitForFinished(kBurst);
    ASSERT_EQ(finished.size(), std::size_t{kBurst});
    for (int n = 0; n < kBurst; ++n) {
        const Finished& one = finished[static_cast<std::size_t>(n)];
        EXPECT_EQ(one.alarmName, "Alarm" + std::to_string(n));
        EXPECT_EQ(one.outcome, SnapshotOutcome::stored) << n << ": " << one.missing;
        EXPECT_TRUE(one.missing.empty());
    }
    EXPECT_EQ(server.imageRequests().size(), std::size_t{kBurst});
}

// Beyond the budget's bytes, at the size the pictures are expected to have, the alarms go on
// in order without a fetch, and say so.
TEST_F(SnapshotFetcherTest, ABurstBeyondTheBudgetMarksTheRestTooManyWaiting) {
    constexpr int kBurst = 10;
    constexpr int kRoom = 3;
    Gate gate;
    FakeAlarmServer server(firstPictureHeldBy(gate));
    const auto fetching = fetcher(server.address(), kRoom * kFirstSnapshotGuessBytes);
    for (int n = 0; n < kBurst; ++n) {
        fetching->enqueue(job(n));
    }
    gate.open();
    const std::vector<Finished> finished = waitForFinished(kBurst);
    ASSERT_EQ(finished.size(), std::size_t{kBurst});
    for (int n = 0; n < kBurst; ++n) {
        const Finished& one = finished[static_cast<std::size_t>(n)];
        EXPECT_EQ(one.alarmName, "Alarm" + std::to_string(n));
        if (n < kRoom) {
            EXPECT_EQ(one.outcome, SnapshotOutcome::stored) << n;
        } else {
            EXPECT_EQ(one.outcome, SnapshotOutcome::lost) << n;
            EXPECT_EQ(one.missing, kNotFetchedTooManyWaiting) << n;
        }
    }
    EXPECT_EQ(server.imageRequests().size(), std::size_t{kRoom});
}

// Every way of getting no picture says which it was.
TEST_F(SnapshotFetcherTest, ASnapshotThatDoesNotComeSaysWhy) {
    struct Case {
        const char* what;
        std::string reply;  // empty: no frame at all
        bool serverGone;
        std::string missing;
    };
    const std::vector<Case> cases = {
        {"an error code", "<kmResponse><kmReturnCode>-1</kmReturnCode></kmResponse>", false,
         "server error -1"},
        {"neither a picture nor a reply of the server's", "GIF89a", false, "not a picture"},
        {"no reply", "", false, "no answer"},
        {"no server", "", true, "disconnected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeAlarmServerScript script;
        script.image = [&c](int) { return c.reply; };
        FakeAlarmServer server(script);
        const std::string address = server.address();
        if (c.serverGone) {
            server.stop();
        }
        {
            std::lock_guard lock(m_mutex);
            m_finished.clear();
        }
        const auto fetching = fetcher(address);
        fetching->enqueue(job(0));
        const std::vector<Finished> finished = waitForFinished(1);
        ASSERT_EQ(finished.size(), 1u);
        EXPECT_EQ(finished[0].outcome, SnapshotOutcome::lost);
        EXPECT_EQ(finished[0].missing, c.missing);
        EXPECT_EQ(finished[0].bytes, 0u);
    }
}

}  // namespace
}  // namespace krt
