#pragma once

#include "common/dialog_units.h"

class QFont;
class QWidget;

namespace krt {

// The dialog base units of a font: its average character width and its height.
DialogBaseUnits dialogBaseUnits(const QFont& font);

// Places a control at its template rectangle (dialog units), made larger where the control's
// text would not fit: the host's fonts are wider than the device's.
void placeFromTemplate(QWidget* control, const DialogRect& units);

// Resizes a dialog to its template size and keeps it from shrinking below that.
void sizeFromTemplate(QWidget* dialog, int widthUnits, int heightUnits);

// Moves a control, keeping its size.
void moveTo(QWidget* control, ControlPosition position);

}  // namespace krt
