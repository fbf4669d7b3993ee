#include "common/ui/scroll_action.h"

#include <QAbstractSlider>

namespace krt {

std::optional<ScrollAction> scrollActionOf(int sliderAction) {
    switch (sliderAction) {
        case QAbstractSlider::SliderSingleStepSub:
            return ScrollAction::LineUp;
        case QAbstractSlider::SliderSingleStepAdd:
            return ScrollAction::LineDown;
        case QAbstractSlider::SliderPageStepSub:
            return ScrollAction::PageUp;
        case QAbstractSlider::SliderPageStepAdd:
            return ScrollAction::PageDown;
        case QAbstractSlider::SliderMove:
            return ScrollAction::ThumbTrack;
        case QAbstractSlider::SliderToMinimum:
            return ScrollAction::Top;
        case QAbstractSlider::SliderToMaximum:
            return ScrollAction::Bottom;
        default:
            return std::nullopt;
    }
}

}  // namespace krt
