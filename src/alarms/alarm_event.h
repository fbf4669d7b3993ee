#pragma once

#include <filesystem>
#include <string>

#include "alarms/late_alarm.h"

namespace krt {

// One kept event, as the event list and the alert show it.
struct AlarmEvent {
    std::string alarmName;
    std::string channelId;
    std::string timeText;               // "%d-%b-%Y::%H:%M:%S"
    std::filesystem::path imagePath;    // the snapshot file; empty when there is no folder for it
    WallClock::time_point eventTime{};  // the alarm's own time
    WallClock::time_point receivedTime{};  // when it reached us
    Punctuality punctuality = Punctuality::OnTime;

    bool operator==(const AlarmEvent&) const = default;
};

}  // namespace krt
