#pragma once

#include <QByteArray>
#include <QImage>
#include <filesystem>
#include <map>
#include <memory>
#include <span>

#include "alarms/event_ring.h"

namespace krt {

// One event's snapshot, decoded once when it arrives.
struct KeptSnapshot {
    QByteArray bytes;  // the file exactly as received
    QImage picture;    // right way up, at most the keep limit; null when it does not decode
    QImage thumbnail;  // as the event list draws it, 44 pixels high

    // What the server sent for a snapshot may be no picture at all (an error reply, a
    // truncated file): then there is nothing to show, save or copy.
    bool isPicture() const { return !picture.isNull(); }
};

// Decodes the snapshot as received, on whichever thread calls it; nothing when no bytes came.
// It needs no file: a snapshot that could not be written is shown, saved and copied from here.
std::shared_ptr<const KeptSnapshot> keptSnapshot(std::span<const char> bytes);

// The decoded snapshots of the kept events, by snapshot file. GUI thread only.
class SnapshotStore {
  public:
    void put(const std::filesystem::path& imagePath, std::shared_ptr<const KeptSnapshot> snapshot);
    // Null when the snapshot is not (or no longer) kept.
    std::shared_ptr<const KeptSnapshot> find(const std::filesystem::path& imagePath) const;
    // Forgets the snapshots of events the ring no longer keeps.
    void keepOnly(const EventRing& ring);

  private:
    std::map<std::filesystem::path, std::shared_ptr<const KeptSnapshot>> m_snapshots;
};

}  // namespace krt
