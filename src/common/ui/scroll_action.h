#pragma once

#include <optional>

#include "common/scroll_rule.h"

namespace krt {

// The scroll action of a QAbstractSlider::SliderAction, for the lists' own scroll rule;
// nothing for an action the rule does not know.
std::optional<ScrollAction> scrollActionOf(int sliderAction);

}  // namespace krt
