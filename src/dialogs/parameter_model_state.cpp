// What the controls of a parameter dialog show: enabled, checked, their texts and bars.

#include "dialogs/parameter_model.h"

#include "analysis/parameters.h"
#include "dialogs/control_ids.h"
#include "dialogs/radio_groups.h"
#include "dialogs/radio_values.h"
#include "display/plot_layout.h"
#include "settings/settings_inputs.h"

#include <string>

namespace korv {

using namespace radio_groups;

bool ParameterDialogModel::enabled(int id) const {
    if (!hasControl(id)) {
        return false;
    }
    if (hasBeginEnd()) {
        if (id == ID_RATE_EDIT) {
            return enteringRate_;
        }
        const bool lockedByRateChange =
            isResolutionRadio(id) || isFftRadio(id) || isScaleRadio(id) ||
            isOneOf(id, {ID_BEGIN_EDIT, ID_END_EDIT, ID_LOW_BAND_SCROLL, ID_RESOLUTION_SCROLL,
                         ID_TIME_SCALE_EDIT, ID_CURSOR_OFFSET_EDIT});
        if (enteringRate_ && lockedByRateChange) {
            return false;
        }
        if ((isResolutionRadio(id) || isTypeRadio(id)) && runWork_.formatFromHeader) {
            return false;
        }
    }
    const FrequencyScale scale = work_.frequencyScale;
    const bool scrollDisplay = work_.displayType == DisplayType::Scroll;
    if (isChannelRadio(id)) {
        return stereo();
    }
    if (id == FREQ_SCALE_THIRD_OCTAVE) {
        return dialog_ == DialogId::SpectrumPlot || !scrollDisplay;
    }
    if (id == highBandScrollId()) {
        return scale == FrequencyScale::Linear;
    }
    if (id == ID_RESOLUTION_SCROLL || id == ID_LOW_BAND_SCROLL) {
        return scale != FrequencyScale::ThirdOctave;
    }
    if (isScrollMemRadio(id)) {
        return scrollDisplay && !work_.pitchDetector;
    }
    if (isPitchRadio(id)) {
        return !(stereo() && work_.channel == StereoChannel::Right);
    }
    if (id == PLOT_PEAK_DELTA) {
        return peakDeltaAllowed();
    }
    if (id == PLOT_LR_DELTA) {
        return lrDeltaAllowed();
    }
    if (id == ID_TRIGGER_SCROLL || id == ID_TRIGGER_EDIT) {
        return work_.recording == Recording::Choice::Trigger;
    }
    return true;
}

bool ParameterDialogModel::checked(int id) const {
    if (!hasControl(id)) {
        return false;
    }
    if (isSampleRateRadio(id)) {
        return work_.inputSampleRateHz == sampleRateOfRadio(id);
    }
    const RadioValue* radio = radioValue(id);
    if (radio == nullptr || !radio->chosen(work_)) {
        return false;
    }
    // Mono data shows no channel, the plots no scroll memory.
    if (isChannelRadio(id)) {
        return stereo();
    }
    if (isScrollMemRadio(id)) {
        return work_.displayType == DisplayType::Scroll;
    }
    return true;
}

std::string ParameterDialogModel::text(int id) const {
    if (const auto typed = typed_.find(id); typed != typed_.end()) {
        return typed->second;
    }
    const bool thirdOctave = work_.frequencyScale == FrequencyScale::ThirdOctave;
    switch (id) {
    case ID_RESOLUTION_EDIT:
        return thirdOctave ? "Oct/3" : formatResolution(resolutionHz());
    case ID_LOW_BAND_EDIT:
        return std::to_string(thirdOctave ? thirdOctaveDisplayEdges(sampleRate(), fftSize()).lowHz
                                          : work_.lowBandHz);
    case ID_HIGH_BAND_EDIT:
        return std::to_string(thirdOctave ? thirdOctaveDisplayEdges(sampleRate(), fftSize()).highHz
                                          : work_.highBandHz);
    case ID_AVERAGE_EDIT:
        return std::to_string(clampTo(averageCount(), AVERAGE_COUNT_RANGE));
    case ID_TRIGGER_EDIT:
        return enabled(id) ? std::to_string(runWork_.triggerLevel) : std::string();
    case ID_RATE_EDIT:
        return rateText_;
    case ID_BEGIN_EDIT:
        return beginText_;
    case ID_END_EDIT:
        return endText_;
    case ID_TIME_SCALE_EDIT:
        return timeScaleText_;
    case ID_CURSOR_OFFSET_EDIT:
        return cursorOffsetText_;
    case ID_FIRST_CHANNEL_EDIT:
        return firstChannelText_;
    case ID_SECOND_CHANNEL_EDIT:
        return secondChannelText_;
    case ID_NEW_RATE:
        return enteringRate_ ? "OK" : "New";
    default:
        return {};
    }
}

ScrollRange ParameterDialogModel::scrollRange(int id) const {
    if (id == ID_RESOLUTION_SCROLL) {
        return RESOLUTION_FACTOR_RANGE;
    }
    if (id == ID_LOW_BAND_SCROLL) {
        return lowBandRange(work_.frequencyScale, sampleRate());
    }
    if (id == highBandScrollId()) {
        return highBandRange(sampleRate());
    }
    if (id == ID_AVERAGE_SCROLL) {
        return AVERAGE_COUNT_RANGE;
    }
    if (id == ID_TRIGGER_SCROLL) {
        return TRIGGER_LEVEL_RANGE;
    }
    return {};
}

int ParameterDialogModel::scrollPosition(int id) const {
    int value = 0;
    if (id == ID_RESOLUTION_SCROLL) {
        value = work_.resolutionFactor;
    } else if (id == ID_LOW_BAND_SCROLL) {
        value = work_.lowBandHz;
    } else if (id == highBandScrollId()) {
        value = work_.highBandHz;
    } else if (id == ID_AVERAGE_SCROLL) {
        value = averageCount();
    } else if (id == ID_TRIGGER_SCROLL) {
        value = runWork_.triggerLevel;
    }
    return clampTo(value, scrollRange(id));
}

} // namespace korv
