#include "alarms/late_alarm.h"

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

#include "alarms/alarm_time.h"

namespace krt {
namespace {

using std::chrono::milliseconds;

std::tm localParts(WallClock::time_point point) {
    const std::time_t seconds = WallClock::to_time_t(point);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts;
}

std::string formatted(const std::tm& parts, const char* format) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&parts, format);
    return text.str();
}

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
    const std::tm event = localParts(eventTime);
    const std::tm received = localParts(receivedTime);
    const bool sameDay = event.tm_year == received.tm_year && event.tm_yday == received.tm_yday;
    const char* format = sameDay ? "%H:%M:%S" : "%d-%b-%Y %H:%M:%S";
    return "late: event " + formatted(event, format) + ", received " + formatted(received, format);
}

}  // namespace krt
