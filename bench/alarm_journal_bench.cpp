// How fast alarms go into the journal alone, each with a 50 KB snapshot: a row and a snapshot
// file per alarm, as the channel records it when the snapshot could not be linked. The journal
// end to end, from krt-sim through the alarm channel, is in alarm_channel_bench.
//
//   build/bench/alarm_journal_bench
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "journal/alarm_journal.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSnapshotBytes = 50 * 1024;

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

BENCHMARK(BM_JournalRecord)->Iterations(3000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
