#pragma once

#include <QRect>

namespace krt {

// Where a window of the wanted size opens, centred on `centre`: as large as it fits into
// `room` (a screen's available area) and moved into it, so that no edge lies off the screen.
QRect placedWithin(QSize wanted, QPoint centre, const QRect& room);

}  // namespace krt
