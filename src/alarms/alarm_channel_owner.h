#pragma once

#include <string_view>

#include "alarms/alarm_event.h"

namespace krt {

// ALARM_RETRY_TIMER: while a subscription is refused, the owner calls requestAlarmRestart()
// on every tick.
inline constexpr int kAlarmRetryTimerId = 2500;
inline constexpr int kAlarmRetryPeriod_ms = 15000;

// What the alarm channel tells whoever owns it (the Events page, the command-line client).
// Every call comes from one of the channel's own threads, never from the owner's; an owner
// with a thread of its own hands the work over to it.
class AlarmChannelOwner {
  public:
    virtual ~AlarmChannelOwner() = default;

    // An alert is due for the event just stored.
    virtual void queueEventAlert(std::string_view alarmName, std::string_view channelId,
                                 std::string_view timeText) = 0;
    // An event has been stored in the ring, its snapshot fetched (or not).
    virtual void eventStored(const AlarmEvent& event) = 0;

    // Arm (or re-arm) the timer, whose every tick calls requestAlarmRestart().
    virtual void setRetryTimer(int timerId, int period_ms) = 0;
    virtual void killRetryTimer(int timerId) = 0;
};

}  // namespace krt
