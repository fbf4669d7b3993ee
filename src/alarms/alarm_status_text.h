#pragma once

#include <string>

#include "alarms/alarm_channel_owner.h"

namespace krt {

// The alarm channel's state as one line for the user, at `now`:
// "Alarms: connected since 10:42", "Alarms: refused by the server (code 0), retrying in 12 s
// (attempt 2)", "Alarms: stopped". Times are local.
std::string alarmStatusLine(const AlarmChannelStatus& status,
                            AlarmChannelStatus::Clock::time_point now);

// "Last alarm: 10:45:03", or "No alarm received yet".
std::string lastAlarmLine(const AlarmChannelStatus& status);

// Local time as "%Y-%m-%dT%H:%M:%S".
std::string localIsoTime(AlarmChannelStatus::Clock::time_point time);

}  // namespace krt
