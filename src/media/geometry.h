#pragma once

namespace krt {

// A rectangle in pixels, the origin at its top left.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const Rect&) const = default;
};

}  // namespace krt
