#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol/diag_log.h"

namespace krt {

using WallClock = std::chrono::system_clock;

// An alarm whose picture is not of now: it arrived more than this after its own time, or its
// time lies more than this ahead of ours, once the server clock's offset is allowed for.
inline constexpr std::chrono::seconds kLateAlarmLimit{60};
// The server clock's offset is taken as the median apparent delay of this many first alarms:
// a server whose clock is wrong makes every alarm look equally late (or early), whereas a few
// genuinely late ones among the first cannot move a median.
inline constexpr std::size_t kClockOffsetSamples = 3;

enum class Punctuality { OnTime, Late };

// The alarm's own time (local time of the server's timestamp) as a point on our clock;
// nothing when the calendar cannot convert it.
std::optional<WallClock::time_point> alarmTimePoint(const LocalTime& time);

// Tells late alarms from those on time, learning the server clock's offset from the first
// alarms. Until it has learnt it, the server clock is taken to agree with ours.
class ServerClockEstimate {
  public:
    Punctuality judge(WallClock::time_point eventTime, WallClock::time_point receivedTime);

    // How far the alarms' times lie behind our clock when they are on time (negative: the
    // server clock is ahead); nothing until enough alarms have come.
    std::optional<std::chrono::milliseconds> offset() const { return m_offset; }

  private:
    std::vector<std::chrono::milliseconds> m_samples;
    std::optional<std::chrono::milliseconds> m_offset;
};

// "late: event 10:41:02, received 10:44:30", with the dates ("24-Nov-2013 10:41:02") when
// the two times fall on different days.
std::string lateAlarmNote(WallClock::time_point eventTime, WallClock::time_point receivedTime);

}  // namespace krt
