#include "alarms/alarm_channel_state.h"

#include <algorithm>

namespace krt {
namespace {

using Phase = AlarmChannelState::Phase;
using Action = AlarmChannelAction;
using State = AlarmChannelStatus::State;
using Reason = AlarmChannelStatus::Reason;

constexpr std::chrono::milliseconds kFirstRetryPause{100};
constexpr std::chrono::milliseconds kLongestRetryPause{3000};

void enterState(AlarmChannelStatus& status, State state, const ChannelMoment& now) {
    if (status.state != state) {
        status.state = state;
        status.since = now.wall;
    }
}

// No subscription any more: the next attempt follows after the pause of this many failures.
void failed(AlarmChannelState& state, Reason reason, const ChannelMoment& now) {
    // A subscription that stayed up long enough was a success: the pause starts afresh.
    if (state.phase == Phase::subscribed &&
        now.steady - state.subscribedAt >= kStableSubscription) {
        state.failures = 0;
    }
    ++state.failures;
    const auto pause = subscriptionRetryPause(state.failures);
    state.phase = Phase::idle;
    state.attemptDue = now.steady + pause;
    enterState(state.status, State::retrying, now);
    ++state.status.attempt;
    state.status.reason = reason;
    state.status.code = 0;
    state.status.nextAttempt = now.wall + pause;
}

struct Stepper {
    AlarmChannelStep& step;
    const ChannelMoment& now;
    const int retryPeriod_ms;

    AlarmChannelState& state() { return step.state; }
    void act(std::initializer_list<Action> actions) {
        step.actions.insert(step.actions.end(), actions);
    }

    void operator()(channel_event::RestartRequested) {
        // A subscription in place needs none; requests while one is due are one request.
        const Phase phase = state().phase;
        if (phase != Phase::subscribed && phase != Phase::stopped && !state().attemptDue) {
            state().attemptDue = now.steady + subscriptionRetryPause(state().failures);
        }
    }

    void operator()(channel_event::AttemptDue) {
        if (!state().attemptDue || now.steady < *state().attemptDue ||
            state().phase == Phase::subscribing) {
            return;
        }
        state().attemptDue.reset();
        if (state().phase == Phase::idle || state().phase == Phase::refused) {
            ++state().generation;
            state().phase = Phase::subscribing;
            act({Action::startAttempt});
        }
    }

    void operator()(const channel_event::NoReply& event) {
        if (state().phase == Phase::subscribing) {
            failed(state(), event.reason, now);
            act({Action::report});
        }
    }

    void operator()(const channel_event::Replied& event) {
        if (state().phase != Phase::subscribing) {
            return;
        }
        AlarmChannelStatus& status = state().status;
        if (event.verdict == Reason::none) {
            state().phase = Phase::subscribed;
            state().subscribedAt = now.steady;
            status.state = State::subscribed;
            status.since = now.wall;
            status.attempt = 0;
            status.reason = Reason::none;
            status.code = 0;
            act({Action::report, Action::killRetryTimer, Action::gapEnds});
            return;
        }
        // Kept open as it is (alarms pushed on it still count); the retry timer replaces it.
        state().phase = Phase::refused;
        enterState(status, State::retrying, now);
        ++status.attempt;
        status.reason = event.verdict;
        status.code = event.code;
        status.nextAttempt = now.wall + std::chrono::milliseconds(retryPeriod_ms);
        act({Action::report, Action::armRetryTimer});
    }

    void operator()(const channel_event::ConnectionLost& event) {
        // A connection that a newer attempt has already replaced restarts nothing.
        const bool connected =
            state().phase == Phase::subscribed || state().phase == Phase::refused;
        if (connected && event.generation == state().generation) {
            const bool wasListening = state().phase == Phase::subscribed;
            failed(state(), Reason::connectionLost, now);
            act({Action::report});
            if (wasListening) {
                act({Action::gapBegins});
            }
        }
    }

    void operator()(channel_event::AlarmReceived) {
        if (state().phase != Phase::stopped) {
            state().status.lastAlarm = now.wall;
            act({Action::report});
        }
    }

    void operator()(channel_event::SnapshotLost) {
        if (state().phase != Phase::stopped) {
            ++state().status.lostSnapshots;
            act({Action::report});
        }
    }

    void operator()(const channel_event::SnapshotUnsaved& event) {
        if (state().phase == Phase::stopped) {
            return;
        }
        AlarmChannelStatus& status = state().status;
        ++status.lostSnapshots;
        const int lost = status.snapshotTrouble ? status.snapshotTrouble->lost + 1 : 1;
        status.snapshotTrouble = StorageTrouble{event.error, event.folder, lost};
        act({Action::report});
    }

    void operator()(channel_event::SnapshotSaved) {
        if (state().phase != Phase::stopped && state().status.snapshotTrouble) {
            state().status.snapshotTrouble.reset();
            act({Action::report});
        }
    }

    void operator()(const channel_event::JournalUnwritten& event) {
        if (state().phase == Phase::stopped) {
            return;
        }
        std::optional<StorageTrouble>& trouble = state().status.journalTrouble;
        trouble = StorageTrouble{event.error, event.folder, trouble ? trouble->lost + 1 : 1};
        act({Action::report});
    }

    void operator()(channel_event::JournalWritten) {
        if (state().phase != Phase::stopped && state().status.journalTrouble) {
            state().status.journalTrouble.reset();
            act({Action::report});
        }
    }

    void operator()(channel_event::Stop) {
        if (state().phase != Phase::stopped) {
            const bool wasListening = state().phase == Phase::subscribed;
            state().phase = Phase::stopped;
            state().attemptDue.reset();
            enterState(state().status, State::stopped, now);
            act({Action::report});
            if (wasListening) {
                act({Action::gapBegins});
            }
        }
    }
};

}  // namespace

std::chrono::milliseconds subscriptionRetryPause(int consecutiveFailures) {
    if (consecutiveFailures <= 1) {
        return std::chrono::milliseconds(0);
    }
    const int doublings = std::min(consecutiveFailures - 2, 8);
    return std::min(kFirstRetryPause * (1 << doublings), kLongestRetryPause);
}

AlarmChannelStep nextAlarmChannelState(const AlarmChannelState& state,
                                       const AlarmChannelEvent& event, const ChannelMoment& now,
                                       int retryPeriod_ms) {
    AlarmChannelStep step{state, {}};
    std::visit(Stepper{step, now, retryPeriod_ms}, event);
    return step;
}

}  // namespace krt
