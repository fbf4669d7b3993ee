#include "common/dialog_units.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(DialogUnits, MapToPixelsThroughTheFontsBaseUnitsRoundingToTheNearestPixel) {
    struct Case {
        DialogRect units;
        DialogBaseUnits base;
        DialogRect pixels;
    };
    for (const Case& c : {
             // MS Sans Serif 8 on the device: 6 × 13. 41 × 6 / 4 = 61.5 rounds up.
             Case{{18, 13, 41, 11}, {6, 13}, {27, 21, 62, 18}},
             Case{{188, 158, 0, 0}, {6, 13}, {282, 257, 0, 0}},
             Case{{0, 0, 4, 8}, {7, 17}, {0, 0, 7, 17}},
             Case{{-2, -1, 1, 1}, {6, 12}, {-3, -2, 2, 2}},
         }) {
        EXPECT_EQ(dialogUnitsToPixels(c.units, c.base), c.pixels)
            << c.units.x << "," << c.units.y << "," << c.units.width << "," << c.units.height;
    }
}

}  // namespace
}  // namespace krt
