#include "alarms/kept_events.h"

#include <optional>
#include <string>
#include <system_error>

#include "journal/snapshot_file.h"

namespace krt {

void KeptEvents::add(AlarmEvent event) {
    std::lock_guard lock(m_mutex);
    const std::optional<AlarmEvent> evicted = m_ring.add(std::move(event));
    if (evicted && m_retention == SnapshotRetention::DeleteEvicted && !evicted->imagePath.empty()) {
        removeSnapshotFile(evicted->imagePath);
    }
}

std::filesystem::path KeptEvents::freeSnapshotPath(const std::filesystem::path& wanted) const {
    std::lock_guard lock(m_mutex);
    // A kept event whose snapshot was lost names a file that does not exist: its name stays
    // its own while it is kept, so that its eviction deletes nobody else's file.
    const auto taken = [this](const std::filesystem::path& path) {
        std::error_code unreadable;  // then writing it fails and says why
        return m_ring.refersTo(path) || std::filesystem::exists(path, unreadable);
    };
    std::filesystem::path path = wanted;
    for (int n = 2; taken(path); ++n) {
        path = wanted;
        path.replace_filename(wanted.stem().string() + "-" + std::to_string(n) +
                              wanted.extension().string());
    }
    return path;
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
