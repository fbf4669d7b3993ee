#pragma once

#include <filesystem>
#include <mutex>

#include "alarms/event_ring.h"

namespace krt {

enum class SnapshotRetention {
    DeleteEvicted,  // as the client: a snapshot goes with its event
    KeepAll,        // every snapshot stays on disk
};

// The ring of kept events, shared between the thread that stores events and those that read
// them, with the snapshot files that go with the events.
class KeptEvents {
  public:
    explicit KeptEvents(SnapshotRetention retention) : m_retention(retention) {}

    // Stores the event; the evicted one's snapshot goes with it.
    void add(AlarmEvent event);
    // Where a new event's snapshot goes: `wanted`, or when a file or a kept event has that name
    // (alarms that share a timestamp) the first free "<stem>-2<ext>", "<stem>-3<ext>", ..., so
    // that no snapshot replaces another's. Called by the one thread that adds events.
    std::filesystem::path freeSnapshotPath(const std::filesystem::path& wanted) const;
    // A copy, for painting or printing.
    EventRing ring() const;
    // Deletes the snapshot of every kept event (when the channel ends).
    void deleteSnapshots();

  private:
    const SnapshotRetention m_retention;
    mutable std::mutex m_mutex;
    EventRing m_ring;
};

}  // namespace krt
