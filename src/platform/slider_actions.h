#pragma once
// The desktop's scroll bar actions as the program's scroll steps.

#include "display/scroll_action.h"

#include <QAbstractSlider>

namespace korv {

// To the start or end of the bar counts as a thumb move to where the slider went.
[[nodiscard]] inline ScrollAction sliderScrollAction(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return ScrollAction::LineBack;
    case QAbstractSlider::SliderSingleStepAdd:
        return ScrollAction::LineForward;
    case QAbstractSlider::SliderPageStepSub:
        return ScrollAction::PageBack;
    case QAbstractSlider::SliderPageStepAdd:
        return ScrollAction::PageForward;
    case QAbstractSlider::SliderMove:
    case QAbstractSlider::SliderToMinimum:
    case QAbstractSlider::SliderToMaximum:
        return ScrollAction::Thumb;
    default:
        return ScrollAction::Other;
    }
}

} // namespace korv
