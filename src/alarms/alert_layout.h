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

}  // namespace krt
