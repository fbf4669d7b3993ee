#include "alarms/kept_events.h"

#include <optional>

#include "journal/snapshot_file.h"

namespace krt {

void KeptEvents::add(AlarmEvent event) {
    std::lock_guard lock(m_mutex);
    const std::optional<AlarmEvent> evicted = m_ring.add(std::move(event));
    // Events with one timestamp share one file: it goes with the last of them.
    if (evicted && m_retention == SnapshotRetention::DeleteEvicted && !evicted->imagePath.empty() &&
        !m_ring.refersTo(evicted->imagePath)) {
        removeSnapshotFile(evicted->imagePath);
    }
}

EventRing KeptEvents::ring() const {
    std::lock_guard lock(m_mutex);
    return m_ring;
}

void KeptEvents::deleteSnapshots() {
    if (m_retention == SnapshotRetention::KeepAll) {
        return;
    }
    std::lock_guard lock(m_mutex);
    for (const AlarmEvent& event : m_ring.events()) {
        if (!event.imagePath.empty()) {
            removeSnapshotFile(event.imagePath);
        }
    }
}

}  // namespace krt
