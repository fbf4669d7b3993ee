#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace krt {

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
