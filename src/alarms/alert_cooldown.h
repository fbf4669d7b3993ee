#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace krt {

// The setting "AlertCooldownSeconds": 0 alerts on every alarm.
inline constexpr std::string_view kAlertCooldownValue = "AlertCooldownSeconds";
inline constexpr int kMaxAlertCooldownSeconds = 24 * 60 * 60;

// The stored text as a number of seconds: 0 when missing or not a whole number, and never
// more than a day.
int parseAlertCooldownSeconds(std::string_view text);

// Repeat suppression: an alarm of a camera and name that popped an alert pops the next one
// only once the cooldown has passed since. Suppressed alarms start no new cooldown.
class AlertCooldown {
  public:
    using Clock = std::chrono::steady_clock;

    // Whether this alarm pops an alert now; when it does, its cooldown starts.
    bool allowAlert(std::string_view channelId, std::string_view alarmName, Clock::time_point now,
                    std::chrono::seconds cooldown);

  private:
    void forgetExpired(Clock::time_point now, std::chrono::seconds cooldown);

    std::map<std::pair<std::string, std::string>, Clock::time_point> m_lastAlert;
};

}  // namespace krt
