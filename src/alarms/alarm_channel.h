#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "alarms/alarm_channel_owner.h"
#include "alarms/alarm_message.h"
#include "alarms/alarm_time.h"
#include "alarms/event_ring.h"
#include "common/app_state.h"
#include "protocol/cancellation.h"
#include "protocol/socket_client.h"
#include "protocol/worker_thread.h"

namespace krt {

enum class SnapshotRetention {
    DeleteEvicted,  // as the client: a snapshot goes with its event
    KeepAll,        // every snapshot stays on disk
};

// The pause before the next subscription attempt after that many failures in a row (no reply,
// or a connection lost before it had stayed up for kStableSubscription): none after the first,
// then growing from 100 ms up to 3 s, so that a server that is down, or that answers and drops
// the connection, is not hammered.
std::chrono::milliseconds subscriptionRetryPause(int consecutiveFailures);
inline constexpr std::chrono::seconds kStableSubscription{30};

// Snapshots waiting for their fetch beyond this many are not fetched: their events are stored
// without one, in order, so that a stalling server cannot make the queue grow without end.
inline constexpr std::size_t kMaxPendingSnapshots = 64;

// The alarm notification channel. It subscribes with "setalarmnotifications" to the server of
// the application state, stores every pushed alarm with its snapshot (fetched with
// "getAlarmImage" into the snapshot folder) in the ring of six, tells its owner, and
// resubscribes by itself until a subscription is accepted and whenever the push connection
// fails. It reports its state to its owner at every change.
//
// Threads: one restart thread makes every subscription attempt, so that at most one attempt
// and one push connection exist at a time however many restarts are requested; the push
// receiver thread reads the alarms and queues them; one snapshot thread fetches the snapshots
// in order and stores the events, so that a slow snapshot delays only itself. The owner must
// outlive the channel.
class AlarmChannel {
  public:
    // `retryPeriod_ms` is the period the owner's retry timer is armed with.
    AlarmChannel(const AppState& app, AlarmChannelOwner& owner,
                 SnapshotRetention retention = SnapshotRetention::DeleteEvicted,
                 int retryPeriod_ms = kAlarmRetryPeriod_ms);
    // Wakes every connection at once, stops the threads, reports `stopped` and deletes the kept
    // snapshots.
    ~AlarmChannel();
    AlarmChannel(const AlarmChannel&) = delete;
    AlarmChannel& operator=(const AlarmChannel&) = delete;

    // Asks for a new subscription; it is made unless an accepted one is in place. The owner
    // calls it once to start the channel and on every tick of the retry timer. Requests that
    // arrive while one is pending are one request.
    void requestAlarmRestart();

    // A subscription has been accepted and its push connection has not failed.
    bool connectedFlag() const;
    // A copy of the kept events, for painting or printing.
    EventRing ring() const;

  private:
    using Reason = AlarmChannelStatus::Reason;
    struct SnapshotJob {
        AlarmMessage message;
        LocalTime time;
        AlarmEvent event;
        bool fetch = true;
    };

    void restartLoop();
    void restartAlarmChannel();
    int startReceivingAlarms(std::uint64_t generation);
    void subscriptionUnanswered(Reason reason);
    void subscriptionAnswered(std::uint64_t generation, Reason verdict, int code);

    void fnCCResponseData(std::uint64_t generation, std::span<const char> data);
    void connectionLost(std::uint64_t generation);
    void countFailureLocked(Reason reason);
    void handleAlarm(std::string_view text);
    std::filesystem::path snapshotPath(std::string_view timestamp, const LocalTime& time) const;

    void snapshotLoop();
    void storeEvent(const SnapshotJob& job);
    bool fetchImage(const SnapshotJob& job);
    void judgePunctuality(AlarmEvent& event, const LocalTime& time, WallClock::time_point received);
    void addEvent(AlarmEvent event);

    void interruptConnections();
    void deleteKeptSnapshots();

    // Changes the status under the state lock and reports it, one report at a time.
    template <typename Change>
    void report(Change change);

    const AppState& m_app;
    AlarmChannelOwner& m_owner;
    const SnapshotRetention m_retention;
    const int m_retryPeriod_ms;
    Cancellation m_cancellation;  // the channel's end: wakes every connection of it

    std::mutex m_reportMutex;  // taken before m_stateMutex
    mutable std::mutex m_stateMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_restartRequested = false;
    bool m_connected = false;  // connectedFlag
    // Of the current subscription attempt: its reply has been judged, its connection failed.
    bool m_answered = false;
    bool m_connectionLost = false;
    std::uint64_t m_generation = 0;  // of the current subscription attempt
    int m_failedAttempts = 0;        // in a row, for the pause
    std::chrono::steady_clock::time_point m_subscribedAt;
    AlarmChannelStatus m_status;

    std::mutex m_jobMutex;
    std::condition_variable m_jobReady;
    std::deque<SnapshotJob> m_jobs;

    mutable std::mutex m_ringMutex;
    EventRing m_ring;
    ServerClockEstimate m_serverClock;  // guarded by m_ringMutex

    std::unique_ptr<SocketClient> m_pushClient;
    WorkerThread m_snapshotThread;
    WorkerThread m_restartThread;  // last: it runs on everything above
};

}  // namespace krt
