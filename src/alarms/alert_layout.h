#pragma once

#include "common/dialog_units.h"

namespace krt {

// ALERT_TIMER of the main sheet: an alert queued from the alarm thread shows this long after.
inline constexpr int kAlertTimerId = 1001;
inline constexpr int kAlertTimerPeriod_ms = 10;

// Where the event alert goes over the main sheet's client area of that size: a square-ish
// window centred across the longer side.
DialogRect alertPopupRect(int sheetWidth, int sheetHeight);

// The event alert's controls: three label/value rows from the top, the two buttons centred
// under them. Every control keeps its size.
struct AlertDialogMeasures {
    int clientWidth = 0;
    int typeLabelHeight = 0;
    int sourceLabelHeight = 0;
    int timeLabelWidth = 0;  // sets the value column
    int typeValueHeight = 0;
    int sourceValueHeight = 0;
    int timeValueHeight = 0;
    int showVideoWidth = 0;
};
struct AlertDialogLayout {
    ControlPosition typeLabel;
    ControlPosition sourceLabel;
    ControlPosition timeLabel;
    ControlPosition typeValue;
    ControlPosition sourceValue;
    ControlPosition timeValue;
    ControlPosition showVideo;
    ControlPosition close;
    bool operator==(const AlertDialogLayout&) const = default;
};
AlertDialogLayout layoutAlertDialog(const AlertDialogMeasures& measures);

// Below the two buttons: "Save Snapshot…" and "Copy Snapshot" centred in a row of their own,
// the late note (when there is one) under them, and the snapshot filling the rest of the
// area inside the outline.
struct AlertSnapshotMeasures {
    int clientWidth = 0;
    int clientHeight = 0;
    int buttonTop = 0;  // of "Show Video" and "Close"
    int buttonHeight = 0;
    int snapshotButtonWidth = 0;  // both snapshot buttons are this wide
    int lateNoteHeight = 0;       // 0 when the alarm is on time
};
struct AlertSnapshotLayout {
    ControlPosition saveSnapshot;
    ControlPosition copySnapshot;
    ControlPosition lateNote;
    DialogRect snapshot;  // empty when no room is left
    bool operator==(const AlertSnapshotLayout&) const = default;
};
AlertSnapshotLayout layoutAlertSnapshot(const AlertSnapshotMeasures& measures);

}  // namespace krt
