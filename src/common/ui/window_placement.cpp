#include "common/ui/window_placement.h"

#include <algorithm>

namespace krt {

QRect keptWithin(const QRect& wanted, const QRect& room) {
    QRect placed(wanted.topLeft(), wanted.size().boundedTo(room.size()));
    placed.moveLeft(std::clamp(placed.left(), room.left(), room.right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), room.top(), room.bottom() + 1 - placed.height()));
    return placed;
}

}  // namespace krt
