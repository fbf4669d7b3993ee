#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>

#include "alarms/alarm_event.h"
#include "alarms/alarm_message.h"
#include "alarms/kept_events.h"
#include "common/app_state.h"
#include "protocol/cancellation.h"
#include "protocol/worker_thread.h"

namespace krt {

// Snapshots waiting for their fetch beyond this many are not fetched: their events are stored
// without one, in order, so that a stalling server cannot make the queue grow without end.
inline constexpr std::size_t kMaxPendingSnapshots = 64;

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
                    Done done);
    ~SnapshotFetcher();
    SnapshotFetcher(const SnapshotFetcher&) = delete;
    SnapshotFetcher& operator=(const SnapshotFetcher&) = delete;

    void enqueue(SnapshotJob job);
    // Drops the jobs that wait and ends the thread within the stop bound (the cancellation
    // must have been cancelled for a fetch under way to end at once).
    void stop(const char* stopLabel, int timeout_ms);

  private:
    void run();
    FetchedSnapshot fetch(const SnapshotJob& job);
    FetchedSnapshot fetchImage(const SnapshotJob& job);

    const AppState& m_app;
    const Cancellation& m_cancellation;
    const KeptEvents& m_kept;
    const Done m_done;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<SnapshotJob> m_jobs;
    bool m_stopping = false;
    WorkerThread m_thread;  // last: it runs on everything above
};

}  // namespace krt
