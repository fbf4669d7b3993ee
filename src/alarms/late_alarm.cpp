#include "alarms/late_alarm.h"

#include <algorithm>
#include <ctime>
#include <string_view>

#include "alarms/alarm_time.h"
#include "common/local_time.h"

namespace krt {
namespace {

using std::chrono::milliseconds;

}  // namespace

std::optional<WallClock::time_point> alarmTimePoint(const LocalTime& time) {
    std::tm parts = calendarParts(time);
    const std::time_t seconds = std::mktime(&parts);
    if (seconds == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return WallClock::from_time_t(seconds) + milliseconds(time.millisecond);
}

Punctuality ServerClockEstimate::judge(WallClock::time_point eventTime,
                                       WallClock::time_point receivedTime) {
    const milliseconds apparentDelay =
        std::chrono::duration_cast<milliseconds>(receivedTime - eventTime);
    if (!m_offset) {
        m_samples.push_back(apparentDelay);
        if (m_samples.size() == kClockOffsetSamples) {
            std::ranges::sort(m_samples);
            m_offset = m_samples[m_samples.size() / 2];
            m_samples.clear();
        }
    }
    const milliseconds lateness = apparentDelay - m_offset.value_or(milliseconds(0));
    return lateness > kLateAlarmLimit || lateness < -kLateAlarmLimit ? Punctuality::Late
                                                                     : Punctuality::OnTime;
}

std::string lateAlarmNote(WallClock::time_point eventTime, WallClock::time_point receivedTime) {
    const bool sameDay =
        formatLocalTime(eventTime, "%Y%j") == formatLocalTime(receivedTime, "%Y%j");
    const std::string_view format = sameDay ? "%H:%M:%S" : "%d-%b-%Y %H:%M:%S";
    return "late: event " + formatLocalTime(eventTime, format) + ", received " +
           formatLocalTime(receivedTime, format);
}

}  // namespace krt
