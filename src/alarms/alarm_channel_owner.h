#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "alarms/alarm_event.h"

namespace krt {

// ALARM_RETRY_TIMER: while a subscription is refused, the owner calls requestAlarmRestart()
// on every tick.
inline constexpr int kAlarmRetryTimerId = 2500;
inline constexpr int kAlarmRetryPeriod_ms = 15000;

// Why something is not being stored (snapshots, the journal), and how many since it began.
struct StorageTrouble {
    std::error_code error;  // of the last write that failed
    std::filesystem::path folder;
    int lost = 0;

    bool operator==(const StorageTrouble&) const = default;
};

// Where the alarm channel stands, as its owner shows it to the user. A channel that is not
// subscribed is always retrying by itself until it is stopped.
struct AlarmChannelStatus {
    using Clock = std::chrono::system_clock;

    enum class State {
        subscribed,  // the server accepted the subscription; alarms arrive
        retrying,    // no subscription in place; the next attempt is due at nextAttempt
        stopped,     // the channel has ended (logout, window closed)
    };
    // Why the last attempt failed (retrying only).
    enum class Reason {
        none,
        refused,         // the server answered with kmReturnCode `code` (0 or less)
        unreadable,      // the server answered with something that is not a subscription reply
        noAnswer,        // connected, but no reply came within the exchange deadline
        connectionLost,  // the push connection failed
        cannotConnect,   // the server could not be reached
    };

    State state = State::retrying;
    Clock::time_point since;        // when the channel entered this state
    int attempt = 0;                // retrying: failed attempts since the last subscription
    Reason reason = Reason::none;   // retrying
    int code = 0;                   // reason refused: the server's return code
    Clock::time_point nextAttempt;  // retrying: when the next attempt is due
    int lostSnapshots = 0;          // snapshots of this channel's life that could not be stored
    std::optional<Clock::time_point> lastAlarm;  // when the last alarm was received
    // Snapshots arrive but cannot be written (a full disk): they are shown from memory, and
    // this says so until one is written again.
    std::optional<StorageTrouble> snapshotTrouble;
    // Alarms that cannot be written to the journal (they are still shown), until one is.
    std::optional<StorageTrouble> journalTrouble;
    // What the journal's opening must tell (a damaged journal set aside); empty: nothing.
    std::string journalNotice;

    bool operator==(const AlarmChannelStatus&) const = default;
};

// What the alarm channel tells whoever owns it (the Events page, the command-line client).
// Every call comes from one of the channel's own threads, never from the owner's; an owner
// with a thread of its own hands the work over to it.
class AlarmChannelOwner {
  public:
    virtual ~AlarmChannelOwner() = default;

    // An alert is due for the event just stored.
    virtual void queueEventAlert(std::string_view alarmName, std::string_view channelId,
                                 std::string_view timeText) = 0;
    // An event has been stored in the ring with its snapshot: the bytes as received (empty
    // when none came). They may be all there is of it: no file is at its imagePath when it
    // could not be written.
    virtual void eventStored(const AlarmEvent& event, std::span<const char> snapshot) = 0;
    // The channel's state changed, an alarm arrived (lastAlarm) or a snapshot was lost
    // (lostSnapshots grew). Reports come one at a time, in the order of the changes; the last
    // one is the channel's state.
    virtual void channelStatusChanged(const AlarmChannelStatus& status) = 0;

    // Arm (or re-arm) the timer, whose every tick calls requestAlarmRestart().
    virtual void setRetryTimer(int timerId, int period_ms) = 0;
    virtual void killRetryTimer(int timerId) = 0;
};

}  // namespace krt
