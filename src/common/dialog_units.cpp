#include "common/dialog_units.h"

namespace krt {

namespace {

// value × numerator / denominator, rounded to the nearest integer, halves away from zero.
int scaleRounded(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

}  // namespace

DialogRect dialogUnitsToPixels(const DialogRect& units, DialogBaseUnits base) {
    const auto horizontal = [&](int value) { return scaleRounded(value, base.width, 4); };
    const auto vertical = [&](int value) { return scaleRounded(value, base.height, 8); };
    return {horizontal(units.x), vertical(units.y), horizontal(units.width),
            vertical(units.height)};
}

}  // namespace krt
