#pragma once

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

    // Stores the event; the evicted one's snapshot goes with it unless a kept event shares it.
    void add(AlarmEvent event);
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
