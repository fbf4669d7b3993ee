#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "alarms/alarm_channel_owner.h"
#include "alarms/alarm_channel_state.h"
#include "alarms/kept_events.h"
#include "alarms/late_alarm.h"
#include "alarms/snapshot_fetcher.h"
#include "common/app_state.h"
#include "journal/alarm_journal.h"
#include "protocol/cancellation.h"
#include "protocol/socket_client.h"
#include "protocol/worker_thread.h"

namespace krt {

// The alarm notification channel. It subscribes with "setalarmnotifications" to the server of
// the application state, stores every pushed alarm with its snapshot (fetched with
// "getAlarmImage" into the snapshot folder) in the ring of six, tells its owner, and
// resubscribes by itself until a subscription is accepted and whenever the push connection
// fails. It reports its state to its owner at every change.
//
// The rule of the subscription is nextAlarmChannelState(); this class only carries it out.
// Threads: the channel thread applies every event to the state, one at a time in order, and
// makes every subscription attempt, so that at most one attempt and one push connection exist
// at a time; the push receiver hands what it reads to the channel thread; the snapshot
// fetcher stores the events (and writes them to the journal). The owner must outlive the
// channel.
class AlarmChannel {
  public:
    // `retryPeriod_ms` is the period the owner's retry timer is armed with.
    // With a journal, every alarm is written to it before the owner hears of it, and every
    // interval in which the channel is not subscribed is recorded in it, under `site`: the
    // server's name in the operator's list (empty: the first server).
    AlarmChannel(const AppState& app, AlarmChannelOwner& owner,
                 SnapshotRetention retention = SnapshotRetention::DeleteEvicted,
                 int retryPeriod_ms = kAlarmRetryPeriod_ms,
                 std::shared_ptr<AlarmJournal> journal = nullptr, std::string site = {});
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
    bool connectedFlag() const { return m_connected.load(); }
    // A copy of the kept events, for painting or printing.
    EventRing ring() const { return m_kept.ring(); }

  private:
    struct PushedMessage {
        std::string text;
        WallClock::time_point received;
    };
    using Work = std::variant<AlarmChannelEvent, PushedMessage>;

    void post(Work work);
    void run();
    void apply(const AlarmChannelEvent& event);
    // One subscription attempt on the push client; its outcome, or nothing when the stop cut
    // it short.
    std::optional<AlarmChannelEvent> subscribe();
    void handleAlarm(std::string_view text, WallClock::time_point received);
    void fnCCResponseData(std::uint64_t generation, std::span<const char> data);
    void snapshotDone(const SnapshotJob& job, const FetchedSnapshot& snapshot);
    void journal(const SnapshotJob& job, const FetchedSnapshot& snapshot);
    void recordGap(AlarmChannelAction action);
    void interruptConnections();

    const AppState& m_app;
    const std::string m_site;
    AlarmChannelOwner& m_owner;
    const int m_retryPeriod_ms;
    Cancellation m_cancellation;  // the channel's end: wakes every connection of it

    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<Work> m_queue;
    bool m_stopping = false;

    // The channel thread's alone (the destructor's once it has ended).
    AlarmChannelState m_state;
    ServerClockEstimate m_serverClock;
    std::atomic<bool> m_connected{false};
    std::chrono::steady_clock::time_point m_nextHeartbeat;

    const std::shared_ptr<AlarmJournal> m_journal;
    KeptEvents m_kept;
    std::unique_ptr<SocketClient> m_pushClient;
    SnapshotFetcher m_fetcher;
    WorkerThread m_thread;  // last: it runs on everything above
};

}  // namespace krt
