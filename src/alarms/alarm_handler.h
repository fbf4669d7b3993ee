#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "alarms/alarm_channel_owner.h"
#include "alarms/event_ring.h"
#include "common/app_state.h"
#include "protocol/socket_client.h"
#include "protocol/worker_thread.h"

namespace krt {

struct AlarmMessage;
struct LocalTime;

enum class SnapshotRetention {
    DeleteEvicted,  // as the client: a snapshot goes with its event
    KeepAll,        // every snapshot stays on disk
};

// The pause before the next subscription attempt after that many attempts in a row got no
// reply at all: none after the first, then growing from 100 ms up to 3 s, so that a server
// that is down is not hammered.
std::chrono::milliseconds subscriptionRetryPause(int consecutiveFailures);

// The alarm notification channel. It subscribes with "setalarmnotifications" to the server of
// the application state, stores every pushed alarm with its snapshot (fetched with
// "getAlarmImage" into the snapshot folder) in the ring of six, tells its owner, and
// resubscribes by itself when the push connection fails.
//
// Threads: one restart thread makes every subscription attempt, so that at most one attempt
// and one push connection exist at a time however many restarts are requested; the push
// receiver thread handles each alarm, snapshot download included. The owner must outlive the
// channel.
class kmKRTAlarmHandlerC {
  public:
    kmKRTAlarmHandlerC(const KRTApp& app, AlarmChannelOwner& owner,
                       SnapshotRetention retention = SnapshotRetention::DeleteEvicted);
    // Closes the connections, stops the threads and deletes the kept snapshots.
    ~kmKRTAlarmHandlerC();
    kmKRTAlarmHandlerC(const kmKRTAlarmHandlerC&) = delete;
    kmKRTAlarmHandlerC& operator=(const kmKRTAlarmHandlerC&) = delete;

    // Asks for a new subscription; it is made unless one is in place already. The owner calls
    // it once to start the channel and on every tick of the retry timer. Requests that arrive
    // while one is pending are one request.
    void requestAlarmRestart();

    // A reply to the subscription has been received and the push connection has not failed.
    bool connectedFlag() const;
    // A copy of the kept events, for painting or printing.
    EventRing ring() const;

  private:
    void restartLoop();
    void restartAlarmChannel();
    int startReceivingAlarms(std::uint64_t generation);
    void subscriptionFailed();
    void subscriptionAnswered(std::uint64_t generation);

    void fnCCResponseData(std::uint64_t generation, std::span<const char> data);
    void connectionLost(std::uint64_t generation);
    void handleAlarm(std::string_view text);
    std::filesystem::path snapshotPath(std::string_view timestamp, const LocalTime& time) const;
    void fetchImage(const AlarmMessage& message, const LocalTime& time,
                    const std::filesystem::path& imagePath);
    void judgePunctuality(AlarmEvent& event, const LocalTime& time, WallClock::time_point received);
    void addEvent(AlarmEvent event);

    bool registerFetch(kmMgrSocketClient& client);
    void unregisterFetch();
    void interruptConnections();
    void deleteKeptSnapshots();

    const KRTApp& m_app;
    AlarmChannelOwner& m_owner;
    const SnapshotRetention m_retention;

    mutable std::mutex m_stateMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_restartRequested = false;
    bool m_connected = false;        // connectedFlag
    bool m_connectionLost = false;   // the current push connection failed before its reply
    std::uint64_t m_generation = 0;  // of the current subscription attempt
    int m_failedAttempts = 0;        // in a row without any reply
    kmMgrSocketClient* m_activeFetch = nullptr;

    mutable std::mutex m_ringMutex;
    EventRing m_ring;
    ServerClockEstimate m_serverClock;  // guarded by m_ringMutex

    std::unique_ptr<kmMgrSocketClient> m_pushClient;
    WorkerThread m_restartThread;  // last: it runs on everything above
};

}  // namespace krt
