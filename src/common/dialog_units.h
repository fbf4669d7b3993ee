#pragma once

namespace krt {

// Where the layout rules of the dialogs and pages put a control, in pixels. Each control keeps
// its width; the rules only say where it goes. Divisions truncate towards zero, as the rules
// are written.

struct ControlPosition {
    int x = 0;
    int y = 0;
    bool operator==(const ControlPosition&) const = default;
};

// Dialog templates are sized in dialog units; the font's average character width and height
// (the base units) turn them into pixels: a horizontal unit is a quarter of the width, a
// vertical unit an eighth of the height, rounded to the nearest pixel.
struct DialogBaseUnits {
    int width = 0;
    int height = 0;
};
struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DialogRect&) const = default;
};
DialogRect dialogUnitsToPixels(const DialogRect& units, DialogBaseUnits base);

}  // namespace krt
