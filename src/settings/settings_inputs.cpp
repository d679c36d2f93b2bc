#include "settings/settings_inputs.h"

#include "base/option_ids.h"

namespace korv {

namespace {
// The spare word holds 0x4B43 in its upper half when it holds the channels: the first in
// bits 8..15, the second in bits 0..7.
constexpr std::uint32_t kFileChannelsTag = 0x4B430000U;
constexpr std::uint32_t kTagMask = 0xFFFF0000U;
} // namespace

FileChannels fileChannelsOf(const AppSettings& settings) {
    const auto word = static_cast<std::uint32_t>(settings.spareSetting);
    const FileChannels stored{static_cast<int>((word >> 8) & 0xFFU),
                              static_cast<int>(word & 0xFFU)};
    if ((word & kTagMask) != kFileChannelsTag || !stored.valid()) {
        return {};
    }
    return stored;
}

void setFileChannels(AppSettings& settings, FileChannels channels) {
    if (!channels.valid()) {
        return;
    }
    settings.spareSetting = static_cast<std::int32_t>(
        kFileChannelsTag | static_cast<std::uint32_t>(channels.first) << 8 |
        static_cast<std::uint32_t>(channels.second));
}

AnalysisInputs analysisInputsFrom(const AppSettings& settings) {
    return AnalysisInputs{settings.fftSizeChoice, settings.resolutionFactor,
                          settings.timeScaleMsec};
}

ColumnAnalysisInputs columnAnalysisInputsFrom(const AppSettings& settings, const RunFormat& format,
                                              const RunParameters& run,
                                              std::span<const std::uint8_t> samples,
                                              std::span<const float> precise) {
    ColumnAnalysisInputs in;
    in.samples = samples;
    in.precise = precise;
    in.channels = format.channels;
    in.bitsPerSample = format.bytesPerSample * 8;
    in.sampleRate = format.sampleRate;
    in.run = run;
    in.freqScaleChoice = settings.freqScaleChoice;
    in.lowBandHz = settings.lowBandHz;
    in.highBandHz = settings.highBandHz;
    in.averageCountScroll = settings.averageCountScroll;
    in.levelScaleCode = settings.levelScaleCode;
    in.dbScaleChoice = settings.dbScaleChoice;
    in.calibration = settings.calibrationTable;
    return in;
}

void applyAutomaticParameters(const AutomaticParameters& result, AppSettings& settings) {
    settings.highBandHz = result.highBandHz;
    if (!result.check.proceeds()) {
        return;
    }
    settings.timeScaleMsec = result.timeScaleMsec;
    settings.timeScaleMsecSaved = result.timeScaleMsec;
    settings.fftSizeChoice = result.fftSizeChoice;
    settings.freqResolutionHz = result.freqResolutionHz;
}

void useAnalyzeFileScale(AppSettings& settings) {
    if (settings.freqScaleChoice != FREQ_SCALE_LINEAR &&
        settings.freqScaleChoice != FREQ_SCALE_LOG) {
        settings.freqScaleChoice = FREQ_SCALE_LINEAR;
        settings.fftSizeChoice = fftSizeChoiceFor(10);
    }
}

ScopeOptions scopeOptions(const AppSettings& s, const ScopeAxis& axis, bool grid) {
    ScopeOptions o;
    o.displayTypeChoice = s.displayTypeChoice;
    o.plotTypeChoice = s.plotTypeChoice;
    o.dbScaleChoice = s.dbScaleChoice;
    o.levelScaleCode = s.levelScaleCode;
    o.marker1Hz = s.marker1Hz;
    o.marker2Hz = s.marker2Hz;
    o.stereo = s.typeChoice == TYPE_STEREO;
    o.channelChoice = s.channelChoice;
    o.grid = grid;
    o.axis = axis;
    return o;
}

ViewBand viewBandOf(const AppSettings& st) {
    if (st.typeChoice != TYPE_STEREO) {
        return ViewBand::Mono;
    }
    if (st.channelChoice == CHANNEL_LEFT) {
        return ViewBand::Left;
    }
    return st.channelChoice == CHANNEL_RIGHT ? ViewBand::Right : ViewBand::Dual;
}

} // namespace korv
