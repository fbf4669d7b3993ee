#pragma once

#include <QRect>

namespace krt {

// The wanted place of a window made to fit into `room` (a screen's available area): no larger
// than the room, and moved into it so that no edge lies off the screen.
QRect keptWithin(const QRect& wanted, const QRect& room);

}  // namespace krt
