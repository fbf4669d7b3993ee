#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "alarms/alarm_event.h"

namespace krt {

// The six most recent events. Slots fill in order 0..5; after that each new event replaces the
// oldest one in place, so the newest is at `newestPos` and the older ones precede it, wrapping.
class EventRing {
  public:
    static constexpr int kCapacity = 6;

    // Stores the event in slot `writePos` and returns the event it evicted, if any.
    std::optional<AlarmEvent> add(AlarmEvent event);

    const std::vector<AlarmEvent>& events() const { return m_events; }
    int writePos() const { return m_writePos; }
    int newestPos() const { return m_newestPos; }

    // The slots of every kept event, newest first: from `newestPos` backwards, wrapping.
    std::vector<int> walkFromNewest() const;

    // Whether any kept event names this snapshot file.
    bool refersTo(const std::filesystem::path& imagePath) const;

  private:
    std::vector<AlarmEvent> m_events;
    int m_writePos = 0;
    int m_newestPos = 0;
};

}  // namespace krt
