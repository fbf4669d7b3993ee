#include "common/ui/window_placement.h"

#include <algorithm>

namespace krt {

QRect placedWithin(QSize wanted, QPoint centre, const QRect& room) {
    const QSize size = wanted.boundedTo(room.size());
    QRect placed(centre - QPoint(size.width() / 2, size.height() / 2), size);
    placed.moveLeft(std::clamp(placed.left(), room.left(), room.right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), room.top(), room.bottom() + 1 - placed.height()));
    return placed;
}

}  // namespace krt
