#include "dialogs/radio_values.h"

#include "dialogs/control_ids.h"

#include <algorithm>
#include <array>

namespace korv {

namespace {

template <auto Field, auto Value> constexpr RadioValue radio(int id) {
    return {id, [](AppSettings& s) { s.*Field = Value; },
            [](const AppSettings& s) { return s.*Field == Value; }};
}

constexpr std::array kRadioValues{
    radio<&AppSettings::resolutionBits, 8>(RESOLUTION_8_BIT),
    radio<&AppSettings::resolutionBits, 16>(RESOLUTION_16_BIT),
    radio<&AppSettings::stereo, false>(TYPE_MONO),
    radio<&AppSettings::stereo, true>(TYPE_STEREO),
    radio<&AppSettings::channel, StereoChannel::Dual>(CHANNEL_DUAL),
    radio<&AppSettings::channel, StereoChannel::Left>(CHANNEL_LEFT),
    radio<&AppSettings::channel, StereoChannel::Right>(CHANNEL_RIGHT),
    radio<&AppSettings::log2FftSize, 9>(FFT_SIZE_CHOICE_FIRST),
    radio<&AppSettings::log2FftSize, 10>(FFT_SIZE_CHOICE_FIRST + 1),
    radio<&AppSettings::log2FftSize, 11>(FFT_SIZE_CHOICE_FIRST + 2),
    radio<&AppSettings::log2FftSize, 12>(FFT_SIZE_CHOICE_FIRST + 3),
    radio<&AppSettings::log2FftSize, 13>(FFT_SIZE_CHOICE_FIRST + 4),
    radio<&AppSettings::log2FftSize, 14>(FFT_SIZE_CHOICE_LAST),
    radio<&AppSettings::frequencyScale, FrequencyScale::Linear>(FREQ_SCALE_LINEAR),
    radio<&AppSettings::frequencyScale, FrequencyScale::Log>(FREQ_SCALE_LOG),
    radio<&AppSettings::frequencyScale, FrequencyScale::ThirdOctave>(FREQ_SCALE_THIRD_OCTAVE),
    radio<&AppSettings::palette, PaletteName::Cb>(PALETTE_CB),
    radio<&AppSettings::palette, PaletteName::Bw>(PALETTE_BW),
    radio<&AppSettings::palette, PaletteName::User>(PALETTE_USER),
    radio<&AppSettings::dbRange, DbRange::Db30>(DB_SCALE_30),
    radio<&AppSettings::dbRange, DbRange::Db60>(DB_SCALE_60),
    radio<&AppSettings::dbRange, DbRange::Db90>(DB_SCALE_90),
    radio<&AppSettings::displayType, DisplayType::Scroll>(DISPLAY_SCROLL),
    radio<&AppSettings::displayType, DisplayType::BarPlot>(DISPLAY_BAR_PLOT),
    radio<&AppSettings::displayType, DisplayType::LinePlot>(DISPLAY_LINE_PLOT),
    radio<&AppSettings::plotType, PlotType::Signal>(PLOT_SIGNAL),
    radio<&AppSettings::plotType, PlotType::PeakDelta>(PLOT_PEAK_DELTA),
    radio<&AppSettings::plotType, PlotType::LrDelta>(PLOT_LR_DELTA),
    radio<&AppSettings::scrollMemory, false>(SCROLL_MEM_OFF),
    radio<&AppSettings::scrollMemory, true>(SCROLL_MEM_ON),
    radio<&AppSettings::pitchDetector, false>(PITCH_DETECTOR_OFF),
    radio<&AppSettings::pitchDetector, true>(PITCH_DETECTOR_ON),
    radio<&AppSettings::analysisAtStop, false>(ANALYSIS_AT_STOP_OFF),
    radio<&AppSettings::analysisAtStop, true>(ANALYSIS_AT_STOP_ON),
    radio<&AppSettings::maxOverStep, false>(STEP_MAX_OFF),
    radio<&AppSettings::maxOverStep, true>(STEP_MAX_ON),
    radio<&AppSettings::recording, Recording::Choice::Off>(RECORDING_OFF),
    radio<&AppSettings::recording, Recording::Choice::Manual>(RECORDING_ON),
    radio<&AppSettings::recording, Recording::Choice::Trigger>(RECORDING_TRIGGER),
};

} // namespace

const RadioValue* radioValue(int id) {
    const auto* row = std::find_if(kRadioValues.begin(), kRadioValues.end(),
                                   [id](const RadioValue& r) { return r.id == id; });
    return row != kRadioValues.end() ? row : nullptr;
}

std::int32_t sampleRateOfRadio(int id) {
    for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
        if (c.id == id) {
            return c.hz;
        }
    }
    return 0;
}

} // namespace korv
