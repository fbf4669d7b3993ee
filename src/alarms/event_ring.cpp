#include "alarms/event_ring.h"

#include <algorithm>
#include <utility>

namespace krt {

std::optional<AlarmEvent> EventRing::add(AlarmEvent event) {
    std::optional<AlarmEvent> evicted;
    const auto slot = static_cast<std::size_t>(m_writePos);
    if (m_events.size() == kCapacity) {
        evicted = std::exchange(m_events[slot], std::move(event));
    } else {
        m_events.insert(m_events.begin() + m_writePos, std::move(event));
    }
    m_newestPos = m_writePos;
    m_writePos = (m_writePos + 1) % kCapacity;
    return evicted;
}

std::vector<int> EventRing::walkFromNewest() const {
    // Stopping at `writePos` would leave out the oldest of six kept events.
    const int count = static_cast<int>(m_events.size());
    std::vector<int> slots;
    slots.reserve(m_events.size());
    for (int k = 0; k < count; ++k) {
        slots.push_back((m_newestPos - k + kCapacity) % kCapacity);
    }
    return slots;
}

bool EventRing::refersTo(const std::filesystem::path& imagePath) const {
    return !imagePath.empty() && std::ranges::any_of(m_events, [&](const AlarmEvent& kept) {
        return kept.imagePath == imagePath;
    });
}

}  // namespace krt
