#include "layouts/tour_schedule.h"

#include <algorithm>

namespace krt {

using std::chrono::milliseconds;

std::vector<TourStop> tourStops(const Tour& tour, const LayoutBook& book, int allCamerasPages) {
    std::vector<TourStop> stops;
    for (const std::string& name : tour.layouts) {
        if (name == kAllCamerasLayout) {
            for (int page = 0; page < std::max(allCamerasPages, 1); ++page) {
                stops.push_back({name, page});
            }
        } else if (book.findLayout(name) != nullptr) {
            stops.push_back({name, 0});
        }
    }
    return stops;
}

TourPosition tourPositionAt(std::size_t stopCount, std::chrono::seconds dwell,
                            milliseconds running) {
    const milliseconds step = std::max<milliseconds>(dwell, milliseconds(1));
    if (stopCount == 0 || running.count() < 0) {
        return {0, step};
    }
    const auto steps = static_cast<std::size_t>(running / step);
    return {steps % stopCount, step - running % step};
}

void TourClock::advance(Clock::time_point now) {
    m_running = running(now);
    m_mark = std::max(m_mark, now);
}

milliseconds TourClock::running(Clock::time_point now) const {
    if (m_held || now <= m_mark) {
        return m_running;
    }
    // Time since the mark counts from where the longer pause ends.
    Clock::time_point from = m_mark;
    for (const auto& end : {m_userPauseEnd, m_alarmPauseEnd}) {
        if (end) {
            from = std::max(from, *end);
        }
    }
    return m_running +
           std::max(std::chrono::duration_cast<milliseconds>(now - from), milliseconds(0));
}

TourClock::Phase TourClock::phase(Clock::time_point now) const {
    if (m_held) {
        return Phase::Held;
    }
    if (m_alarmPauseEnd && now < *m_alarmPauseEnd) {
        return Phase::AlarmPause;
    }
    if (m_userPauseEnd && now < *m_userPauseEnd) {
        return Phase::UserPause;
    }
    return Phase::Running;
}

void TourClock::noteUserActivity(Clock::time_point now) {
    advance(now);
    m_userPauseEnd = now + m_idle;
}

void TourClock::interruptForAlarm(Clock::time_point now, milliseconds shown) {
    advance(now);
    m_alarmPauseEnd = now + shown;
}

void TourClock::toggleHold(Clock::time_point now) {
    advance(now);
    m_held = !m_held;
    // Released from a hold, the tour goes on at once.
    m_userPauseEnd.reset();
    m_alarmPauseEnd.reset();
}

}  // namespace krt
