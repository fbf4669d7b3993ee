#include "alarms/alarm_status_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "common/local_time.h"

namespace krt {

std::string alarmReasonText(const AlarmChannelStatus& status) {
    using Reason = AlarmChannelStatus::Reason;
    switch (status.reason) {
        case Reason::refused:
            return "refused by the server (code " + std::to_string(status.code) + ")";
        case Reason::unreadable:
            return "the server's reply cannot be read";
        case Reason::noAnswer:
            return "no answer from the server";
        case Reason::connectionLost:
            return "connection lost";
        case Reason::cannotConnect:
            return "cannot connect to the server";
        case Reason::none:
            break;
    }
    return "not connected";
}

std::string alarmStatusLine(const AlarmChannelStatus& status,
                            AlarmChannelStatus::Clock::time_point now) {
    using State = AlarmChannelStatus::State;
    switch (status.state) {
        case State::subscribed:
            return "Alarms: connected since " + formatLocalTime(status.since, "%H:%M");
        case State::retrying: {
            if (status.reason == AlarmChannelStatus::Reason::none) {
                return "Alarms: connecting";  // the first attempt is under way
            }
            const auto left = std::chrono::ceil<std::chrono::seconds>(status.nextAttempt - now);
            return "Alarms: " + alarmReasonText(status) + ", retrying in " +
                   std::to_string(std::max<long long>(left.count(), 0)) + " s (attempt " +
                   std::to_string(status.attempt) + ")";
        }
        case State::stopped:
            break;
    }
    return "Alarms: stopped";
}

std::string serverStateText(const ServerState& server, ServerState::Clock::time_point now) {
    using Phase = ServerState::Phase;
    using State = AlarmChannelStatus::State;
    const std::string retrying = " \u2014 retrying";
    switch (server.phase) {
        case Phase::loggingIn:
            return server.name + ": logging in";
        case Phase::loginRetrying: {
            const auto left = std::chrono::ceil<std::chrono::seconds>(server.nextAttempt - now);
            return server.name + ": cannot log in since " + formatLocalTime(server.since, "%H:%M") +
                   retrying + " in " + std::to_string(std::max<long long>(left.count(), 0)) + " s";
        }
        case Phase::loginRefused:
            return server.name + ": login refused";
        case Phase::noPassword:
            return server.name + ": not logged in (no remembered password)";
        case Phase::alarms:
            break;
    }
    const AlarmChannelStatus& alarms = server.alarms;
    if (alarms.state == State::subscribed) {
        return server.name + ": connected";
    }
    if (alarms.state == State::stopped) {
        return server.name + ": stopped";
    }
    if (alarms.reason == AlarmChannelStatus::Reason::none) {
        return server.name + ": connecting";
    }
    return server.name + ": " + alarmReasonText(alarms) + " since " +
           formatLocalTime(alarms.since, "%H:%M") + retrying;
}

std::optional<std::string> snapshotTroubleLine(const AlarmChannelStatus& status) {
    if (!status.snapshotTrouble) {
        return std::nullopt;
    }
    const StorageTrouble& trouble = *status.snapshotTrouble;
    return "Snapshots cannot be stored: " + storageErrorText(trouble.error) + " in " +
           trouble.folder.string() + ", " + std::to_string(trouble.lost) + " lost";
}

std::optional<std::string> journalTroubleLine(const AlarmChannelStatus& status) {
    if (!status.journalTrouble) {
        return std::nullopt;
    }
    const StorageTrouble& trouble = *status.journalTrouble;
    std::string line =
        "The alarm journal is not being written: " + storageErrorText(trouble.error) + " in " +
        trouble.folder.string();
    if (trouble.lost > 0) {
        line +=
            ", " + std::to_string(trouble.lost) +
            (trouble.lost == 1 ? " alarm not recorded in full" : " alarms not recorded in full");
    }
    return line;
}

std::string storageErrorText(std::error_code error) {
    // Only a system error's number is an errno; another category's says it in its message.
    const std::error_condition condition = error.default_error_condition();
    const int errnoValue = condition.category() == std::generic_category() ? condition.value() : 0;
    switch (static_cast<std::errc>(errnoValue)) {
        case std::errc::no_space_on_device:
            return "no space left";
        case std::errc::file_too_large:
            return "files that large are not allowed";
        case std::errc::read_only_file_system:
            return "the file system is read-only";
        case std::errc::permission_denied:
        case std::errc::operation_not_permitted:
            return "no permission to write";
        case std::errc::no_such_file_or_directory:
            return "the folder is missing";
        case std::errc::device_or_resource_busy:
            return "another program keeps it busy";
        case std::errc::illegal_byte_sequence:
            return "the file is damaged";
        default:
            break;
    }
    if (errnoValue == EDQUOT) {
        return "the disk quota is used up";
    }
    std::string text = error.message();
    if (!text.empty()) {
        text.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(text.front())));
    }
    return text;
}

std::string lastAlarmLine(const AlarmChannelStatus& status) {
    return status.lastAlarm ? "Last alarm: " + formatLocalTime(*status.lastAlarm, "%H:%M:%S")
                            : "No alarm received yet";
}

std::string localIsoTime(AlarmChannelStatus::Clock::time_point time) {
    return formatLocalTime(time, "%Y-%m-%dT%H:%M:%S");
}

}  // namespace krt
