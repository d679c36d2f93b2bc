#pragma once
// The groups of radio buttons of the parameter dialogs, by control id.

#include "analysis/parameters.h"
#include "base/option_ids.h"

#include <algorithm>
#include <initializer_list>

namespace korv::radio_groups {

inline bool inRange(int id, int first, int last) {
    return id >= first && id <= last;
}

inline bool isOneOf(int id, std::initializer_list<int> ids) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

inline bool isSampleRateRadio(int id) {
    return inRange(id, SAMPLE_RATE_5K, SAMPLE_RATE_48K) ||
           inRange(id, SAMPLE_RATE_8K, SAMPLE_RATE_384K);
}
inline bool isResolutionRadio(int id) {
    return id == RESOLUTION_8_BIT || id == RESOLUTION_16_BIT;
}
inline bool isTypeRadio(int id) {
    return id == TYPE_MONO || id == TYPE_STEREO;
}
inline bool isChannelRadio(int id) {
    return inRange(id, CHANNEL_DUAL, CHANNEL_RIGHT);
}
inline bool isFftRadio(int id) {
    return inRange(id, FFT_SIZE_CHOICE_FIRST, FFT_SIZE_CHOICE_LAST);
}
inline bool isScaleRadio(int id) {
    return inRange(id, FREQ_SCALE_LINEAR, FREQ_SCALE_THIRD_OCTAVE);
}
inline bool isPaletteRadio(int id) {
    return inRange(id, PALETTE_CB, PALETTE_USER);
}
inline bool isDbRadio(int id) {
    return inRange(id, DB_SCALE_30, DB_SCALE_90);
}
inline bool isDisplayRadio(int id) {
    return inRange(id, DISPLAY_SCROLL, DISPLAY_LINE_PLOT);
}
inline bool isPlotRadio(int id) {
    return inRange(id, PLOT_SIGNAL, PLOT_LR_DELTA);
}
inline bool isScrollMemRadio(int id) {
    return id == SCROLL_MEM_OFF || id == SCROLL_MEM_ON;
}
inline bool isPitchRadio(int id) {
    return id == PITCH_DETECTOR_OFF || id == PITCH_DETECTOR_ON;
}
inline bool isAnalysisAtStopRadio(int id) {
    return id == ANALYSIS_AT_STOP_OFF || id == ANALYSIS_AT_STOP_ON;
}
inline bool isStepMaxRadio(int id) {
    return id == STEP_MAX_OFF || id == STEP_MAX_ON;
}
inline bool isRecordingRadio(int id) {
    return isOneOf(id, {RECORDING_OFF, RECORDING_ON, RECORDING_TRIGGER});
}

} // namespace korv::radio_groups
