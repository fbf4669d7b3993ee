#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "alarms/alarm_event.h"
#include "alarms/alarm_message.h"
#include "alarms/kept_events.h"
#include "common/app_state.h"
#include "protocol/cancellation.h"
#include "protocol/worker_thread.h"

namespace krt {

// The bytes of pictures that may wait for their fetch or be in flight. A snapshot beyond them
// is not fetched and its event is stored without one, in order, so that a stalling server
// cannot make the waiting grow without end, while a burst of ordinary pictures is fetched whole.
inline constexpr std::size_t kSnapshotBudgetBytes = std::size_t{64} * 1024 * 1024;
// What a picture is expected to take before the first one has come.
inline constexpr std::size_t kFirstSnapshotGuessBytes = std::size_t{256} * 1024;

// Whether one more snapshot may be fetched, `taken` ones waiting or in flight, each expected to
// be as large as the last picture received: one is always let through.
bool snapshotBudgetAdmits(std::size_t taken, std::size_t expected_bytes, std::size_t budget_bytes);

// Why an alarm has no snapshot, as the journal keeps it and the History shows it.
inline constexpr const char* kNotFetchedTooManyWaiting = "not fetched: too many waiting";
inline constexpr const char* kNotFetchedNoFolder = "not fetched: no snapshot folder";
inline constexpr const char* kNotFetchedNoRequest = "not fetched: the alarm cannot be asked for";
inline constexpr const char* kNotAPicture = "not a picture";
inline constexpr const char* kDisconnected = "disconnected";
inline constexpr const char* kNoAnswer = "no answer";
// "server error N": the server answered with its return code N instead of a picture.
std::string serverErrorText(int code);

// One alarm on its way to the ring: its snapshot is fetched into event.imagePath first (the
// fetcher moves it to a free name when another snapshot has that one).
struct SnapshotJob {
    AlarmMessage message;
    LocalTime time;
    AlarmEvent event;
    bool fetch = true;
};

enum class SnapshotOutcome {
    stored,      // the snapshot is in its file
    notFetched,  // no file was asked for (no snapshot folder)
    lost,        // the server gave no picture
    unsaved,     // the picture came and could not be written: it is in memory only
};

struct FetchedSnapshot {
    SnapshotOutcome outcome = SnapshotOutcome::notFetched;
    std::vector<char> bytes;     // the picture as received (stored and unsaved)
    std::error_code writeError;  // unsaved: why
    std::string missing;         // notFetched and lost: why there is no picture
};

// Fetches the snapshots of the alarms with "getAlarmImage", one at a time in the order of
// the alarms, on a thread of its own, so that a slow snapshot delays only the events after it.
// Each finished job is handed to `done` on that thread; a fetch cut short by the stop is
// handed to nobody.
class SnapshotFetcher {
  public:
    using Done = std::function<void(const SnapshotJob& job, const FetchedSnapshot& snapshot)>;

    // The server is the application state's; `cancellation` ends a fetch under way; `kept`
    // tells which snapshot names are taken, and `done` adds to it.
    SnapshotFetcher(const AppState& app, const Cancellation& cancellation, const KeptEvents& kept,
                    Done done, std::size_t budget_bytes = kSnapshotBudgetBytes);
    ~SnapshotFetcher();
    SnapshotFetcher(const SnapshotFetcher&) = delete;
    SnapshotFetcher& operator=(const SnapshotFetcher&) = delete;

    void enqueue(SnapshotJob job);
    // Drops the jobs that wait and ends the thread within the stop bound (the cancellation
    // must have been cancelled for a fetch under way to end at once).
    void stop(const char* stopLabel, int timeout_ms);

  private:
    void run();
    // The job no longer waits, and its picture tells the size of the next.
    void settle(const SnapshotJob& job, const FetchedSnapshot& snapshot);
    FetchedSnapshot fetch(const SnapshotJob& job);
    FetchedSnapshot fetchImage(const SnapshotJob& job);

    const AppState& m_app;
    const Cancellation& m_cancellation;
    const KeptEvents& m_kept;
    const Done m_done;
    const std::size_t m_budget_bytes;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<SnapshotJob> m_jobs;
    std::size_t m_toFetch = 0;  // jobs waiting or in flight that fetch their picture
    std::size_t m_expected_bytes = kFirstSnapshotGuessBytes;
    bool m_stopping = false;
    WorkerThread m_thread;  // last: it runs on everything above
};

}  // namespace krt
