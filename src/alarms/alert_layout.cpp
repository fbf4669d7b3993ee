#include "alarms/alert_layout.h"

namespace krt {
namespace {

constexpr int kPopupTop = 20;
constexpr int kPopupMargin = 10;
constexpr int kFirstRowTop = 20;
constexpr int kLabelLeft = 10;
constexpr int kRowGap = 5;
constexpr int kValueColumnGap = 12;
constexpr int kButtonRowGap = 20;
constexpr int kButtonGap = 10;
constexpr int kSnapshotGap = 6;
constexpr int kSnapshotInset = 6;  // inside the black outline

}  // namespace

DialogRect alertPopupRect(int sheetWidth, int sheetHeight) {
    if (sheetWidth > sheetHeight) {
        return {(sheetWidth - sheetHeight) / 2, kPopupTop, sheetHeight,
                sheetHeight - 2 * kPopupTop};
    }
    return {kPopupMargin, (sheetHeight - sheetWidth) / 2, sheetWidth - 2 * kPopupMargin,
            sheetWidth};
}

AlertDialogLayout layoutAlertDialog(const AlertDialogMeasures& m) {
    const auto rowTop = [](int heightAbove, int rowsAbove) {
        return kFirstRowTop + heightAbove + rowsAbove * kRowGap;
    };
    const int valueColumn = m.timeLabelWidth + kValueColumnGap;
    const int timeValueTop = rowTop(m.typeValueHeight + m.sourceValueHeight, 2);
    const int buttonTop = timeValueTop + m.timeValueHeight + kButtonRowGap;
    const int showVideoLeft = (m.clientWidth - 2 * (m.showVideoWidth + kButtonGap / 2)) / 2;

    AlertDialogLayout layout;
    layout.typeLabel = {kLabelLeft, rowTop(0, 0)};
    layout.sourceLabel = {kLabelLeft, rowTop(m.typeLabelHeight, 1)};
    layout.timeLabel = {kLabelLeft, rowTop(m.typeLabelHeight + m.sourceLabelHeight, 2)};
    layout.typeValue = {valueColumn, rowTop(0, 0)};
    layout.sourceValue = {valueColumn, rowTop(m.typeValueHeight, 1)};
    layout.timeValue = {valueColumn, timeValueTop};
    layout.showVideo = {showVideoLeft, buttonTop};
    layout.close = {showVideoLeft + m.showVideoWidth + kButtonGap, buttonTop};
    return layout;
}

AlertSnapshotLayout layoutAlertSnapshot(const AlertSnapshotMeasures& m) {
    AlertSnapshotLayout layout;
    const int rowTop = m.buttonTop + m.buttonHeight + kRowGap;
    const int saveLeft = (m.clientWidth - 2 * m.snapshotButtonWidth - kButtonGap) / 2;
    layout.saveSnapshot = {saveLeft, rowTop};
    layout.copySnapshot = {saveLeft + m.snapshotButtonWidth + kButtonGap, rowTop};
    const int noteTop = rowTop + m.buttonHeight + kSnapshotGap;
    layout.lateNote = {kLabelLeft, noteTop};
    const int top = noteTop + (m.lateNoteHeight > 0 ? m.lateNoteHeight + kSnapshotGap : 0);
    const int width = m.clientWidth - 2 * kSnapshotInset;
    const int height = m.clientHeight - kSnapshotInset - top;
    if (width > 0 && height > 0) {
        layout.snapshot = {kSnapshotInset, top, width, height};
    }
    return layout;
}

}  // namespace krt
