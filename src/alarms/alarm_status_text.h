#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "alarms/alarm_channel_owner.h"

namespace krt {

// The alarm channel's state as one line for the user, at `now`:
// "Alarms: connected since 10:42", "Alarms: refused by the server (code 0), retrying in 12 s
// (attempt 2)", "Alarms: stopped"; "Alarms: connecting" before the first report. Times are local.
std::string alarmStatusLine(const AlarmChannelStatus& status,
                            AlarmChannelStatus::Clock::time_point now);

// While snapshots that arrive cannot be written: "Snapshots cannot be stored: no space left in
// /home/ann/EventImages, 4 lost"; nothing while they are.
std::optional<std::string> snapshotTroubleLine(const AlarmChannelStatus& status);
// While alarms cannot be written to the journal: "The alarm journal is not being written: no
// space left in /home/ann/.local/share/krt-client, 3 alarms not recorded in full".
std::optional<std::string> journalTroubleLine(const AlarmChannelStatus& status);
// Why the channel is not subscribed: "connection lost", "refused by the server (code 0)", ...
std::string alarmReasonText(const AlarmChannelStatus& status);
// What keeps a file from being written, in the user's words: "no space left", "the file system
// is read-only", ...
std::string storageErrorText(std::error_code error);

// One server's state where the session has several, as the status line names it.
struct ServerState {
    using Clock = AlarmChannelStatus::Clock;
    enum class Phase {
        loggingIn,
        loginRetrying,  // the server could not be reached or answered badly
        loginRefused,   // the server refused the user: not tried again
        noPassword,     // no remembered password: not logged in
        alarms,         // logged in: its alarm channel's state tells
    };
    std::string name;
    Phase phase = Phase::loggingIn;
    Clock::time_point since{};        // loginRetrying: since when
    Clock::time_point nextAttempt{};  // loginRetrying
    AlarmChannelStatus alarms{};      // alarms
};

// "Site B: connected", "Site B: connection lost since 10:42 \u2014 retrying", "Site C: login
// refused", ... Times are local.
std::string serverStateText(const ServerState& server, ServerState::Clock::time_point now);

// "Last alarm: 10:45:03", or "No alarm received yet".
std::string lastAlarmLine(const AlarmChannelStatus& status);

// Local time as "%Y-%m-%dT%H:%M:%S".
std::string localIsoTime(AlarmChannelStatus::Clock::time_point time);

}  // namespace krt
