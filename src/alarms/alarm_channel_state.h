#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
#include <variant>
#include <vector>

#include "alarms/alarm_channel_owner.h"

namespace krt {

// The pause before the next subscription attempt after that many failures in a row (no reply,
// or a connection lost before it had stayed up for kStableSubscription): none after the first,
// then growing from 100 ms up to 3 s, so that a server that is down, or that answers and drops
// the connection, is not hammered.
std::chrono::milliseconds subscriptionRetryPause(int consecutiveFailures);
inline constexpr std::chrono::seconds kStableSubscription{30};

// When something happened: the steady clock paces the attempts, the wall clock is what the
// owner is shown.
struct ChannelMoment {
    std::chrono::steady_clock::time_point steady;
    AlarmChannelStatus::Clock::time_point wall;

    static ChannelMoment now() {
        return {std::chrono::steady_clock::now(), AlarmChannelStatus::Clock::now()};
    }
};

// Everything the alarm channel knows about its subscription, changed only by
// nextAlarmChannelState().
struct AlarmChannelState {
    enum class Phase {
        idle,         // no subscription and no attempt under way; one may be due at attemptDue
        subscribing,  // an attempt is under way
        subscribed,   // accepted, and its push connection has not failed
        refused,      // answered without acceptance: the connection is kept, the retry timer runs
        stopped,
    };

    Phase phase = Phase::idle;
    // Of the latest attempt: only the loss of its own connection counts.
    std::uint64_t generation = 0;
    int failures = 0;  // attempts failed in a row, for the pause
    // A restart was asked for (or a failure calls for one): the next attempt starts then.
    std::optional<std::chrono::steady_clock::time_point> attemptDue;
    std::chrono::steady_clock::time_point subscribedAt;
    AlarmChannelStatus status;  // as the owner is told

    bool operator==(const AlarmChannelState&) const = default;
};

// What happens to the channel.
namespace channel_event {
using Reason = AlarmChannelStatus::Reason;

struct RestartRequested {};  // by the owner: at the start and on every retry timer tick
struct AttemptDue {};        // attemptDue has come
struct NoReply {             // the attempt ended without a reply
    Reason reason;
};
struct Replied {  // the subscription reply, judged: Reason::none when accepted
    Reason verdict;
    int code = 0;
};
struct ConnectionLost {  // "Recv Error" on the push connection of that attempt
    std::uint64_t generation;
};
struct AlarmReceived {};
struct SnapshotLost {};   // the server gave no picture
struct SnapshotUnsaved {  // a picture came and could not be written
    std::error_code error;
    std::filesystem::path folder;
};
struct SnapshotSaved {};   // a picture was written
struct JournalUnwritten {  // an alarm could not be written to the journal
    std::error_code error;
    std::filesystem::path folder;
};
struct JournalWritten {};
struct Stop {};
}  // namespace channel_event

using AlarmChannelEvent = std::variant<
    channel_event::RestartRequested, channel_event::AttemptDue, channel_event::NoReply,
    channel_event::Replied, channel_event::ConnectionLost, channel_event::AlarmReceived,
    channel_event::SnapshotLost, channel_event::SnapshotUnsaved, channel_event::SnapshotSaved,
    channel_event::JournalUnwritten, channel_event::JournalWritten, channel_event::Stop>;

// What the channel does after a step, in this order.
enum class AlarmChannelAction {
    report,         // tell the owner the new status
    startAttempt,   // close the push connection and subscribe again (the new generation)
    armRetryTimer,  // the owner's retry timer, with the retry period
    killRetryTimer,
    // The channel stops listening (the status says why) or listens again: every interval in
    // between is one in which no alarm can be received.
    gapBegins,
    gapEnds,
};

struct AlarmChannelStep {
    AlarmChannelState state;
    std::vector<AlarmChannelAction> actions;
};

// The channel's one rule: its state after `event` at `now`, and what to do about it.
// `retryPeriod_ms` is the period of the owner's retry timer, announced as the next attempt
// while refused.
AlarmChannelStep nextAlarmChannelState(const AlarmChannelState& state,
                                       const AlarmChannelEvent& event, const ChannelMoment& now,
                                       int retryPeriod_ms);

}  // namespace krt
