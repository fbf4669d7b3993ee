#pragma once

#include <filesystem>
#include <string>

#include "alarms/late_alarm.h"
#include "common/camera_ref.h"

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
    std::string site{};  // the server's name in the operator's list; empty: the first server

    CameraRef camera() const { return {.server = site, .channel = channelId}; }

    bool operator==(const AlarmEvent&) const = default;
};

}  // namespace krt
