// How fast alarms go into the journal, each with a 50 KB snapshot: the journal alone (a row and
// a snapshot file per alarm, as the channel records it when the snapshot could not be linked),
// and end to end, krt-sim pushing 1,000 alarms that the channel fetches, stores, journals and
// hands over. Both must sustain 1,000 alarms a second.
//
//   build/bench/alarm_journal_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <system_error>

#include "alarms/alarm_channel.h"
#include "alarms/alarm_journal.h"
#include "sim_config.h"
#include "sim_server.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAlarms = 1000;
constexpr std::size_t kSnapshotBytes = 50 * 1024;
constexpr auto kWait = std::chrono::seconds(120);

fs::path freshFolder(const char* name) {
    const fs::path folder =
        fs::temp_directory_path() / (std::string(name) + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
    return folder;
}

void BM_JournalRecord(benchmark::State& state) {
    const fs::path folder = freshFolder("krt-journal-bench-");
    const std::string snapshot = "\xFF\xD8\xFF" + std::string(kSnapshotBytes - 3, 'x');
    int recorded = 0;
    {
        krt::AlarmJournal journal(folder, krt::AlarmJournal::Role::writer);
        journal.startSession("127.0.0.1", krt::JournalClock::now());
        for (auto _ : state) {
            krt::JournalEntry entry;
            entry.server = "127.0.0.1";
            entry.channelId = std::to_string(1 + recorded % 9);
            entry.alarmName = "Motion";
            entry.timestamp = std::to_string(recorded);
            entry.timeText = "08-Dec-2026::10:00:00";
            entry.receivedAt = krt::JournalClock::now();
            entry.snapshot = snapshot;
            if (!journal.record(entry) || journal.trouble()) {
                state.SkipWithError("an alarm was not recorded");
                break;
            }
            ++recorded;
        }
    }
    state.counters["alarms_per_second"] =
        benchmark::Counter(static_cast<double>(recorded), benchmark::Counter::kIsRate);
    fs::remove_all(folder);
}

class CountingOwner : public krt::AlarmChannelOwner {
  public:
    void queueEventAlert(std::string_view, std::string_view, std::string_view) override {}
    void eventStored(const krt::AlarmEvent&, std::span<const char>) override {
        {
            std::lock_guard lock(m_mutex);
            ++m_stored;
        }
        m_changed.notify_all();
    }
    void channelStatusChanged(const krt::AlarmChannelStatus& status) override {
        std::lock_guard lock(m_mutex);
        m_troubled = m_troubled || status.journalTrouble.has_value();
    }
    void setRetryTimer(int, int) override {}
    void killRetryTimer(int) override {}

    bool waitForStored(int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_stored >= count; });
    }
    bool troubled() {
        std::lock_guard lock(m_mutex);
        return m_troubled;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_stored = 0;
    bool m_troubled = false;
};

// A simulator on a loopback address that nothing else holds.
std::unique_ptr<krt::sim::SimServer> startSim(std::string& address) {
    krt::sim::SimConfig config = krt::sim::defaultConfig();
    config.alarms.intervalSeconds = 0;
    config.alarmImageMinBytes = kSnapshotBytes;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    for (int attempt = 0; attempt < 100; ++attempt) {
        address = "127.202." + std::to_string(octet(random)) + "." + std::to_string(octet(random));
        auto sim = std::make_unique<krt::sim::SimServer>(config);
        try {
            sim->start(address, 5500);
            return sim;
        } catch (const std::system_error&) {
        }
    }
    return nullptr;
}

void BM_AlarmsJournaledEndToEnd(benchmark::State& state) {
    const fs::path folder = freshFolder("krt-journal-e2e-bench-");
    for (auto _ : state) {
        state.PauseTiming();
        krt::AppState app;
        auto sim = startSim(app.m_serverAddress);
        if (!sim) {
            state.SkipWithError("no free loopback address");
            break;
        }
        app.m_snapshotFolder = folder / "EventImages";
        fs::create_directories(app.m_snapshotFolder);
        auto journal = std::make_shared<krt::AlarmJournal>(folder / "journal",
                                                           krt::AlarmJournal::Role::writer);
        CountingOwner owner;
        auto channel = std::make_unique<krt::AlarmChannel>(
            app, owner, krt::SnapshotRetention::DeleteEvicted, krt::kAlarmRetryPeriod_ms, journal);
        channel->requestAlarmRestart();
        if (!sim->waitForSubscribers(1, kWait)) {
            state.SkipWithError("the channel did not subscribe");
            break;
        }
        state.ResumeTiming();

        for (int i = 0; i < kAlarms; ++i) {
            sim->pushAlarm(std::to_string(1 + i % 9), "Motion");
        }
        const bool allStored = owner.waitForStored(kAlarms);

        state.PauseTiming();
        channel.reset();
        sim.reset();
        if (!allStored || owner.troubled()) {
            state.SkipWithError("not every alarm was journaled");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["alarms_per_second"] =
        benchmark::Counter(static_cast<double>(kAlarms) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    fs::remove_all(folder);
}

BENCHMARK(BM_JournalRecord)->Iterations(3000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlarmsJournaledEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
