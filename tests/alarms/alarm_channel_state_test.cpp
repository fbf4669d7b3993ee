#include "alarms/alarm_channel_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace krt {
namespace {

using namespace std::chrono_literals;
using Phase = AlarmChannelState::Phase;
using State = AlarmChannelStatus::State;
using Reason = AlarmChannelStatus::Reason;
using Action = AlarmChannelAction;
namespace event = channel_event;

constexpr int kRetryPeriod_ms = 15000;

const ChannelMoment kNow{std::chrono::steady_clock::time_point(100h),
                         AlarmChannelStatus::Clock::time_point(500'000h)};
const ChannelMoment kEarlier{kNow.steady - 1h, kNow.wall - 1h};

AlarmChannelState in(Phase phase, std::uint64_t generation = 2, int failures = 0) {
    AlarmChannelState state;
    state.phase = phase;
    state.generation = generation;
    state.failures = failures;
    state.subscribedAt = kEarlier.steady;
    state.status.since = kEarlier.wall;
    state.status.state = phase == Phase::subscribed ? State::subscribed
                         : phase == Phase::stopped  ? State::stopped
                                                    : State::retrying;
    if (phase == Phase::refused) {
        state.status.reason = Reason::refused;
        state.status.attempt = 1;
    }
    return state;
}

AlarmChannelState withDue(AlarmChannelState state, std::chrono::milliseconds after) {
    state.attemptDue = kNow.steady + after;
    return state;
}

const std::error_code kFull = std::make_error_code(std::errc::no_space_on_device);

AlarmChannelState withTrouble(AlarmChannelState state, int lost) {
    state.status.lostSnapshots = lost;
    state.status.snapshotTrouble = StorageTrouble{kFull, "/snapshots", lost};
    return state;
}

AlarmChannelState withJournalTrouble(AlarmChannelState state, int lost) {
    state.status.journalTrouble = StorageTrouble{kFull, "/journal", lost};
    return state;
}

AlarmChannelState subscribedFor(std::chrono::seconds up, int failures) {
    AlarmChannelState state = in(Phase::subscribed, 2, failures);
    state.subscribedAt = kNow.steady - up;
    return state;
}

// The expected state after the step: the state before, changed so.
using Change = std::function<void(AlarmChannelState&)>;

const Change kUnchanged = [](AlarmChannelState&) {};

// Left without a subscription: retrying after the pause of `failures`, for `reason`.
Change retrying(Reason reason, int failures, std::chrono::milliseconds pause) {
    return [=](AlarmChannelState& s) {
        s.phase = Phase::idle;
        s.failures = failures;
        s.attemptDue = kNow.steady + pause;
        if (s.status.state != State::retrying) {
            s.status.since = kNow.wall;
        }
        s.status.state = State::retrying;
        ++s.status.attempt;
        s.status.reason = reason;
        s.status.code = 0;
        s.status.nextAttempt = kNow.wall + pause;
    };
}

struct StepCase {
    const char* what;
    AlarmChannelState before;
    AlarmChannelEvent event;
    Change change;
    std::vector<Action> actions;
};

TEST(AlarmChannelStateTest, EveryEventInEveryPhaseLeadsToItsStateAndActions) {
    const std::vector<StepCase> table = {
        // Restarts.
        {"a restart is due at once after no failure",
         in(Phase::idle),
         event::RestartRequested{},
         [](auto& s) { s.attemptDue = kNow.steady; },
         {}},
        {"a restart after three failures waits their pause",
         in(Phase::idle, 2, 3),
         event::RestartRequested{},
         [](auto& s) { s.attemptDue = kNow.steady + 200ms; },
         {}},
        {"requests while one is due are one request",
         withDue(in(Phase::idle), 1s),
         event::RestartRequested{},
         kUnchanged,
         {}},
        {"a refused subscription restarts on the timer's tick",
         in(Phase::refused),
         event::RestartRequested{},
         [](auto& s) { s.attemptDue = kNow.steady; },
         {}},
        {"a request during an attempt is made after it",
         in(Phase::subscribing),
         event::RestartRequested{},
         [](auto& s) { s.attemptDue = kNow.steady; },
         {}},
        {"a subscription in place needs no restart",
         in(Phase::subscribed),
         event::RestartRequested{},
         kUnchanged,
         {}},
        {"a stopped channel restarts no more",
         in(Phase::stopped),
         event::RestartRequested{},
         kUnchanged,
         {}},

        // Attempts.
        {"a due restart starts the next attempt",
         withDue(in(Phase::idle), 0ms),
         event::AttemptDue{},
         [](auto& s) {
             s.phase = Phase::subscribing;
             s.generation = 3;
             s.attemptDue.reset();
         },
         {Action::startAttempt}},
        {"a refused subscription is replaced by a new attempt",
         withDue(in(Phase::refused), 0ms),
         event::AttemptDue{},
         [](auto& s) {
             s.phase = Phase::subscribing;
             s.generation = 3;
             s.attemptDue.reset();
         },
         {Action::startAttempt}},
        {"no attempt before its time",
         withDue(in(Phase::idle), 1ms),
         event::AttemptDue{},
         kUnchanged,
         {}},
        {"no attempt without a request", in(Phase::idle), event::AttemptDue{}, kUnchanged, {}},
        {"a request made while subscribing is void once subscribed",
         withDue(in(Phase::subscribed), 0ms),
         event::AttemptDue{},
         [](auto& s) { s.attemptDue.reset(); },
         {}},

        // The attempt's outcome.
        {"an unreachable server is retried at once the first time",
         in(Phase::subscribing),
         event::NoReply{Reason::cannotConnect},
         retrying(Reason::cannotConnect, 1, 0ms),
         {Action::report}},
        {"failures in a row make the pause grow",
         in(Phase::subscribing, 2, 2),
         event::NoReply{Reason::noAnswer},
         retrying(Reason::noAnswer, 3, 200ms),
         {Action::report}},
        {"an accepted subscription kills the retry timer",
         in(Phase::subscribing, 2, 4),
         event::Replied{Reason::none, 1},
         [](auto& s) {
             s.phase = Phase::subscribed;
             s.subscribedAt = kNow.steady;
             s.status.state = State::subscribed;
             s.status.since = kNow.wall;
         },
         {Action::report, Action::killRetryTimer, Action::gapEnds}},
        {"a refusal keeps the connection and arms the retry timer",
         in(Phase::subscribing),
         event::Replied{Reason::refused, -3},
         [](auto& s) {
             s.phase = Phase::refused;
             s.status.attempt = 1;
             s.status.reason = Reason::refused;
             s.status.code = -3;
             s.status.nextAttempt = kNow.wall + 15s;
         },
         {Action::report, Action::armRetryTimer}},
        {"an unreadable reply is a refusal",
         in(Phase::subscribing),
         event::Replied{Reason::unreadable},
         [](auto& s) {
             s.phase = Phase::refused;
             s.status.attempt = 1;
             s.status.reason = Reason::unreadable;
             s.status.nextAttempt = kNow.wall + 15s;
         },
         {Action::report, Action::armRetryTimer}},
        {"an outcome without an attempt is void",
         in(Phase::idle),
         event::NoReply{Reason::noAnswer},
         kUnchanged,
         {}},
        {"a reply without an attempt is void",
         in(Phase::refused),
         event::Replied{Reason::none, 1},
         kUnchanged,
         {}},

        // The push connection.
        {"a lost connection is retried at once",
         subscribedFor(10s, 0),
         event::ConnectionLost{2},
         retrying(Reason::connectionLost, 1, 0ms),
         {Action::report, Action::gapBegins}},
        {"a connection that keeps failing is retried after a growing pause",
         subscribedFor(10s, 3),
         event::ConnectionLost{2},
         retrying(Reason::connectionLost, 4, 400ms),
         {Action::report, Action::gapBegins}},
        {"a subscription that stayed up starts the pause afresh",
         subscribedFor(30s, 5),
         event::ConnectionLost{2},
         retrying(Reason::connectionLost, 1, 0ms),
         {Action::report, Action::gapBegins}},
        {"the refused subscription's connection counts too",
         in(Phase::refused),
         event::ConnectionLost{2},
         retrying(Reason::connectionLost, 1, 0ms),
         {Action::report}},
        {"a connection that a newer attempt replaced restarts nothing",
         in(Phase::subscribed),
         event::ConnectionLost{1},
         kUnchanged,
         {}},
        {"the end of an attempt that got no reply restarts nothing more",
         withDue(in(Phase::idle), 100ms),
         event::ConnectionLost{2},
         kUnchanged,
         {}},
        {"a stopped channel's connection restarts nothing",
         in(Phase::stopped),
         event::ConnectionLost{2},
         kUnchanged,
         {}},

        // What the owner is told besides.
        {"an alarm is told with its time",
         in(Phase::subscribed),
         event::AlarmReceived{},
         [](auto& s) { s.status.lastAlarm = kNow.wall; },
         {Action::report}},
        {"a lost snapshot is counted",
         in(Phase::refused),
         event::SnapshotLost{},
         [](auto& s) { s.status.lostSnapshots = 1; },
         {Action::report}},
        {"a snapshot that cannot be written is told with why and where",
         in(Phase::subscribed),
         event::SnapshotUnsaved{kFull, "/snapshots"},
         [](auto& s) {
             s.status.lostSnapshots = 1;
             s.status.snapshotTrouble = StorageTrouble{kFull, "/snapshots", 1};
         },
         {Action::report}},
        {"the next one adds to the count",
         withTrouble(in(Phase::subscribed), 3),
         event::SnapshotUnsaved{kFull, "/snapshots"},
         [](auto& s) {
             s.status.lostSnapshots = 4;
             s.status.snapshotTrouble->lost = 4;
         },
         {Action::report}},
        {"a snapshot written again ends the trouble",
         withTrouble(in(Phase::subscribed), 3),
         event::SnapshotSaved{},
         [](auto& s) { s.status.snapshotTrouble.reset(); },
         {Action::report}},
        {"snapshots written without trouble are not told",
         in(Phase::subscribed),
         event::SnapshotSaved{},
         kUnchanged,
         {}},
        {"an alarm the journal cannot take is told with why, where and how many",
         withJournalTrouble(in(Phase::subscribed), 2),
         event::JournalUnwritten{kFull, "/journal"},
         [](auto& s) { s.status.journalTrouble->lost = 3; },
         {Action::report}},
        {"an alarm journaled again ends the journal's trouble",
         withJournalTrouble(in(Phase::subscribed), 2),
         event::JournalWritten{},
         [](auto& s) { s.status.journalTrouble.reset(); },
         {Action::report}},
        {"alarms journaled without trouble are not told",
         in(Phase::subscribed),
         event::JournalWritten{},
         kUnchanged,
         {}},
        {"a stop without a subscription leaves the interval as it is",
         in(Phase::refused),
         event::Stop{},
         [](auto& s) {
             s.phase = Phase::stopped;
             s.status.state = State::stopped;
             s.status.since = kNow.wall;
         },
         {Action::report}},
        {"the stop ends the channel",
         withDue(in(Phase::subscribed), 0ms),
         event::Stop{},
         [](auto& s) {
             s.phase = Phase::stopped;
             s.attemptDue.reset();
             s.status.state = State::stopped;
             s.status.since = kNow.wall;
         },
         {Action::report, Action::gapBegins}},
        {"a stopped channel is told nothing more",
         in(Phase::stopped),
         event::AlarmReceived{},
         kUnchanged,
         {}},
        {"a second stop is void", in(Phase::stopped), event::Stop{}, kUnchanged, {}},
    };
    for (const StepCase& c : table) {
        SCOPED_TRACE(c.what);
        AlarmChannelState expected = c.before;
        c.change(expected);
        const AlarmChannelStep step =
            nextAlarmChannelState(c.before, c.event, kNow, kRetryPeriod_ms);
        EXPECT_EQ(step.state, expected);
        EXPECT_EQ(step.actions, c.actions);
    }
}

TEST(SubscriptionRetryPause, GrowsFromAnImmediateRetryToACapOfThreeSeconds) {
    const std::vector<std::pair<int, std::chrono::milliseconds>> table = {
        {0, 0ms},   {1, 0ms},    {2, 100ms},  {3, 200ms},   {4, 400ms},
        {5, 800ms}, {6, 1600ms}, {7, 3000ms}, {50, 3000ms}, {1000000, 3000ms}};
    for (const auto& [failures, pause] : table) {
        EXPECT_EQ(subscriptionRetryPause(failures), pause) << failures << " failures";
    }
}

}  // namespace
}  // namespace krt
