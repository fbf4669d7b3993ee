#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layouts/layout_book.h"

namespace krt {

// One thing a tour shows: a named layout, or a page of "All cameras".
struct TourStop {
    std::string layout;
    int page = 0;

    bool operator==(const TourStop&) const = default;
};

// The tour's layouts in order, "All cameras" as each of its pages; layouts that no longer
// exist are left out.
std::vector<TourStop> tourStops(const Tour& tour, const LayoutBook& book, int allCamerasPages);

// Which stop is shown after the tour has run that long (pauses not counted), and how long
// it stays: a pure function of time.
struct TourPosition {
    std::size_t stop = 0;
    std::chrono::milliseconds untilNext{0};

    bool operator==(const TourPosition&) const = default;
};
TourPosition tourPositionAt(std::size_t stopCount, std::chrono::seconds dwell,
                            std::chrono::milliseconds running);

// How long a tour has run, leaving out its pauses: while the user works (it goes on by
// itself once the user has left it alone for the idle time), while an alarm's camera is
// shown, and while the operator holds it with the pause key.
class TourClock {
  public:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Running, UserPause, AlarmPause, Held };

    TourClock(Clock::time_point start, std::chrono::milliseconds idle)
        : m_mark(start), m_idle(idle) {}

    void noteUserActivity(Clock::time_point now);
    void interruptForAlarm(Clock::time_point now, std::chrono::milliseconds shown);
    void toggleHold(Clock::time_point now);

    std::chrono::milliseconds running(Clock::time_point now) const;
    Phase phase(Clock::time_point now) const;

  private:
    void advance(Clock::time_point now);

    std::chrono::milliseconds m_running{0};  // up to m_mark
    Clock::time_point m_mark;
    std::chrono::milliseconds m_idle;
    std::optional<Clock::time_point> m_userPauseEnd;
    std::optional<Clock::time_point> m_alarmPauseEnd;
    bool m_held = false;
};

}  // namespace krt
