// Alarms per second handled end to end by the alarm channel: krt-sim pushes 1,000 alarms with
// 50 KB snapshots; each is parsed, its snapshot fetched with "getAlarmImage" and written, the
// event stored in the ring and, in the second case, the alarm journaled first. Both must
// sustain 1,000 alarms a second.

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "alarms/alarm_channel.h"
#include "journal/alarm_journal.h"
#include "sim_config.h"
#include "sim_control.h"
#include "sim_server.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAlarms = 1000;
constexpr std::size_t kSnapshotBytes = 50 * 1024;
constexpr auto kWait = std::chrono::seconds(120);

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
        address = "127.201." + std::to_string(octet(random)) + "." + std::to_string(octet(random));
        auto sim = std::make_unique<krt::sim::SimServer>(config);
        try {
            sim->start(address, 5500);
            return sim;
        } catch (const std::system_error&) {
        }
    }
    return nullptr;
}

// kAlarms alarms of the nine cameras, a millisecond apart from now on, their snapshots kept.
std::vector<krt::sim::AlarmMessage> preparedAlarms(krt::sim::SimServer& sim) {
    const auto start = std::chrono::system_clock::now();
    std::vector<krt::sim::AlarmMessage> alarms;
    const krt::sim::AlarmTime now{krt::sim::AlarmTime::Kind::Relative, {}, {}};
    for (int i = 0; i < kAlarms; ++i) {
        alarms.push_back(
            sim.prepareAlarm(std::to_string(1 + i % 9), "Motion",
                             krt::sim::alarmTimestamp(now, start + std::chrono::milliseconds(i))));
    }
    return alarms;
}

// Without a journal, and with one: the alarm is then also journaled before it is handed over.
void BM_AlarmsEndToEnd(benchmark::State& state, bool journaled) {
    const fs::path folder =
        fs::temp_directory_path() / ("krt-alarm-bench-" + std::to_string(std::random_device{}()));
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
        std::shared_ptr<krt::AlarmJournal> journal;
        if (journaled) {
            journal = std::make_shared<krt::AlarmJournal>(folder / "journal",
                                                          krt::AlarmJournal::Role::writer);
        }
        CountingOwner owner;
        auto channel = std::make_unique<krt::AlarmChannel>(
            app, owner, krt::SnapshotRetention::DeleteEvicted, krt::kAlarmRetryPeriod_ms, journal);
        channel->requestAlarmRestart();
        if (!sim->waitForSubscribers(1, kWait)) {
            state.SkipWithError("the channel did not subscribe");
            break;
        }
        // The simulator renders every snapshot before the clock starts: what is measured is
        // the client's work, not the pictures'.
        const std::vector<krt::sim::AlarmMessage> alarms = preparedAlarms(*sim);
        state.ResumeTiming();

        for (const krt::sim::AlarmMessage& alarm : alarms) {
            sim->pushAlarmMessage(alarm);
        }
        const bool allStored = owner.waitForStored(kAlarms);

        state.PauseTiming();
        channel.reset();
        sim.reset();
        if (!allStored || owner.troubled()) {
            state.SkipWithError("not every alarm was stored and journaled");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["alarms_per_second"] =
        benchmark::Counter(static_cast<double>(kAlarms) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    fs::remove_all(folder);
}

BENCHMARK_CAPTURE(BM_AlarmsEndToEnd, plain, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_AlarmsEndToEnd, journaled, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
