#include "alarms/alert_cooldown.h"

#include <algorithm>

namespace krt {
namespace {

// A server that names every alarm differently cannot make the table grow without end.
constexpr std::size_t kMaxRemembered = 1024;

}  // namespace

bool AlertCooldown::allowAlert(std::string_view channelId, std::string_view alarmName,
                               Clock::time_point now, std::chrono::seconds cooldown) {
    if (cooldown <= std::chrono::seconds(0)) {
        return true;
    }
    const std::pair<std::string, std::string> key(channelId, alarmName);
    const auto last = m_lastAlert.find(key);
    if (last != m_lastAlert.end() && now - last->second < cooldown) {
        return false;
    }
    if (m_lastAlert.size() >= kMaxRemembered) {
        forgetExpired(now, cooldown);
    }
    m_lastAlert[key] = now;
    return true;
}

void AlertCooldown::forgetExpired(Clock::time_point now, std::chrono::seconds cooldown) {
    std::erase_if(m_lastAlert, [&](const auto& entry) { return now - entry.second >= cooldown; });
    if (m_lastAlert.size() >= kMaxRemembered) {
        m_lastAlert.clear();
    }
}

}  // namespace krt
