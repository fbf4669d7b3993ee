#include "alarms/alarm_status_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace krt {
namespace {

using Clock = AlarmChannelStatus::Clock;
using State = AlarmChannelStatus::State;
using Reason = AlarmChannelStatus::Reason;

// 7 December 2026 at the given local time.
Clock::time_point localTime(int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&local));
}

TEST(AlarmStatusLine, SaysTheStateTheReasonAndWhenTheNextAttemptIsDue) {
    const Clock::time_point now = localTime(10, 45, 0);
    struct Case {
        AlarmChannelStatus status;
        const char* line;
    };
    const auto retrying = [&](Reason reason, int code, int attempt, int inSeconds) {
        AlarmChannelStatus status;
        status.state = State::retrying;
        status.reason = reason;
        status.code = code;
        status.attempt = attempt;
        status.nextAttempt = now + std::chrono::milliseconds(inSeconds * 1000 - 300);
        return status;
    };
    AlarmChannelStatus subscribed;
    subscribed.state = State::subscribed;
    subscribed.since = localTime(10, 42, 31);
    AlarmChannelStatus stopped;
    stopped.state = State::stopped;
    const Case cases[] = {
        {AlarmChannelStatus{}, "Alarms: connecting"},
        {subscribed, "Alarms: connected since 10:42"},
        {retrying(Reason::refused, 0, 2, 12),
         "Alarms: refused by the server (code 0), retrying in 12 s (attempt 2)"},
        {retrying(Reason::noAnswer, 0, 1, 0),
         "Alarms: no answer from the server, retrying in 0 s "
         "(attempt 1)"},
        {retrying(Reason::connectionLost, 0, 3, 3),
         "Alarms: connection lost, retrying in 3 s (attempt 3)"},
        {retrying(Reason::cannotConnect, 0, 4, 1),
         "Alarms: cannot connect to the server, retrying in 1 s (attempt 4)"},
        {stopped, "Alarms: stopped"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(alarmStatusLine(c.status, now), c.line);
    }
}

TEST(ServerStateText, NamesTheServerAndSaysSinceWhenItIsInTrouble) {
    const Clock::time_point now = localTime(10, 45, 0);
    using LoginPhase = ServerState::Phase;
    const auto server = [](LoginPhase phase) {
        ServerState state;
        state.name = "Site B";
        state.phase = phase;
        return state;
    };
    ServerState loginRetrying = server(LoginPhase::loginRetrying);
    loginRetrying.since = localTime(10, 42, 5);
    loginRetrying.nextAttempt = now + std::chrono::milliseconds(7700);
    ServerState subscribed = server(LoginPhase::alarms);
    subscribed.alarms.state = State::subscribed;
    ServerState lost = server(LoginPhase::alarms);
    lost.alarms.reason = Reason::connectionLost;
    lost.alarms.since = localTime(10, 42, 59);
    ServerState stopped = server(LoginPhase::alarms);
    stopped.alarms.state = State::stopped;
    const std::pair<ServerState, const char*> cases[] = {
        {server(LoginPhase::loggingIn), "Site B: logging in"},
        {loginRetrying, "Site B: cannot log in since 10:42 \u2014 retrying in 8 s"},
        {server(LoginPhase::loginRefused), "Site B: login refused"},
        {server(LoginPhase::noPassword), "Site B: not logged in (no remembered password)"},
        {server(LoginPhase::alarms), "Site B: connecting"},
        {subscribed, "Site B: connected"},
        {lost, "Site B: connection lost since 10:42 \u2014 retrying"},
        {stopped, "Site B: stopped"},
    };
    for (const auto& [state, line] : cases) {
        EXPECT_EQ(serverStateText(state, now), line);
    }
}

TEST(AlarmStatusLine, LastAlarmIsItsLocalTime) {
    AlarmChannelStatus status;
    EXPECT_EQ(lastAlarmLine(status), "No alarm received yet");
    status.lastAlarm = localTime(10, 45, 3);
    EXPECT_EQ(lastAlarmLine(status), "Last alarm: 10:45:03");
    EXPECT_EQ(localIsoTime(*status.lastAlarm), "2026-12-07T10:45:03");
}

TEST(SnapshotTroubleLine, SaysWhyWhereAndHowManyUntilSnapshotsAreStoredAgain) {
    AlarmChannelStatus status;
    EXPECT_EQ(snapshotTroubleLine(status), std::nullopt);
    const auto trouble = [](std::errc error, int lost) {
        return StorageTrouble{std::make_error_code(error), "/home/ann/EventImages", lost};
    };
    const std::vector<std::pair<StorageTrouble, std::string>> table = {
        {trouble(std::errc::no_space_on_device, 4),
         "Snapshots cannot be stored: no space left in /home/ann/EventImages, 4 lost"},
        {trouble(std::errc::file_too_large, 1),
         "Snapshots cannot be stored: files that large are not allowed in "
         "/home/ann/EventImages, 1 lost"},
        {trouble(std::errc::read_only_file_system, 2),
         "Snapshots cannot be stored: the file system is read-only in /home/ann/EventImages, 2 "
         "lost"},
        {trouble(std::errc::permission_denied, 1),
         "Snapshots cannot be stored: no permission to write in /home/ann/EventImages, 1 lost"},
        {{std::error_code(EDQUOT, std::generic_category()), "/q", 3},
         "Snapshots cannot be stored: the disk quota is used up in /q, 3 lost"},
        {trouble(std::errc::io_error, 1),
         "Snapshots cannot be stored: input/output error in /home/ann/EventImages, 1 lost"},
    };
    for (const auto& [told, line] : table) {
        status.snapshotTrouble = told;
        EXPECT_EQ(snapshotTroubleLine(status), line);
    }
}

TEST(JournalTroubleLine, SaysWhyWhereAndHowManyAlarmsWereNotRecordedInFull) {
    AlarmChannelStatus status;
    EXPECT_EQ(journalTroubleLine(status), std::nullopt);
    const std::error_code full = std::make_error_code(std::errc::no_space_on_device);
    const std::vector<std::pair<StorageTrouble, std::string>> table = {
        {{full, "/home/ann/.local/share/krt-client", 0},
         "The alarm journal is not being written: no space left in "
         "/home/ann/.local/share/krt-client"},
        {{full, "/j", 1},
         "The alarm journal is not being written: no space left in /j, 1 alarm "
         "not recorded in full"},
        {{std::make_error_code(std::errc::device_or_resource_busy), "/j", 3},
         "The alarm journal is not being written: another program keeps it busy in /j, 3 "
         "alarms not recorded in full"},
    };
    for (const auto& [told, line] : table) {
        status.journalTrouble = told;
        EXPECT_EQ(journalTroubleLine(status), line);
    }
}

}  // namespace
}  // namespace krt
