#pragma once

#include <QString>
#include <functional>

#include "alarms/alarm_event.h"

class QWidget;

namespace krt {

struct KeptSnapshot;

inline constexpr const char* kSaveSnapshotText = "Save Snapshot\u2026";
inline constexpr const char* kCopySnapshotText = "Copy Snapshot";

// Asks where to save a snapshot, starting from the suggested path; empty when cancelled.
using SnapshotFileChooser = std::function<QString(QWidget* parent, const QString& suggestedPath)>;
// Installs the chooser (tests) and returns the previous one; an empty one restores the file
// dialog.
SnapshotFileChooser setSnapshotFileChooser(SnapshotFileChooser chooser);

// "Save Snapshot…": the file dialog opens on "<camera>-<YYYYMMDD-HHMMSS>.jpg" in the Pictures
// folder and the file gets the bytes exactly as received. When the file cannot be written
// there, says so and asks again, so that the snapshot is not lost.
void saveSnapshotAs(QWidget* parent, const AlarmEvent& event, const KeptSnapshot& snapshot);
// "Copy Snapshot": the picture, and the JPEG bytes as received, on the clipboard.
void copySnapshot(const KeptSnapshot& snapshot);

}  // namespace krt
