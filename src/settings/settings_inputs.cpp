#include "settings/settings_inputs.h"

#include "base/option_ids.h"

namespace korv {

FrequencyScale frequencyScaleOf(std::int32_t freqScaleChoice) {
    switch (freqScaleChoice) {
    case FREQ_SCALE_LOG:
        return FrequencyScale::Log;
    case FREQ_SCALE_THIRD_OCTAVE:
        return FrequencyScale::ThirdOctave;
    default:
        return FrequencyScale::Linear;
    }
}

FrequencyScale frequencyScaleOf(const AppSettings& settings) {
    return frequencyScaleOf(settings.freqScaleChoice);
}

DbRange dbRangeOf(std::int32_t dbScaleChoice) {
    switch (dbScaleChoice) {
    case DB_SCALE_30:
        return DbRange::Db30;
    case DB_SCALE_90:
        return DbRange::Db90;
    default:
        return DbRange::Db60;
    }
}

DbRange dbRangeOf(const AppSettings& settings) {
    return dbRangeOf(settings.dbScaleChoice);
}

namespace {
// The spare word, once it holds this program's own choices, carries 0x4B43 in its upper half,
// Max Over Step in bit 15, the first file channel in bits 8..14 and the second in bits 0..7.
// Any other value (the 300 of every older file) means channels 1 and 2, one frame a step.
constexpr std::uint32_t kSpareTag = 0x4B430000U;
constexpr std::uint32_t kTagMask = 0xFFFF0000U;
constexpr std::uint32_t kMaxOverStepBit = 0x8000U;

bool spareTagged(const AppSettings& settings) {
    return (static_cast<std::uint32_t>(settings.spareSetting) & kTagMask) == kSpareTag;
}

void storeSpare(AppSettings& settings, FileChannels channels, bool maxOver) {
    settings.spareSetting =
        static_cast<std::int32_t>(kSpareTag | (maxOver ? kMaxOverStepBit : 0U) |
                                  static_cast<std::uint32_t>(channels.first) << 8 |
                                  static_cast<std::uint32_t>(channels.second));
}
} // namespace

FileChannels fileChannelsOf(const AppSettings& settings) {
    const auto word = static_cast<std::uint32_t>(settings.spareSetting);
    const FileChannels stored{static_cast<int>((word >> 8) & 0x7FU),
                              static_cast<int>(word & 0xFFU)};
    if (!spareTagged(settings) || !stored.valid()) {
        return {};
    }
    return stored;
}

void setFileChannels(AppSettings& settings, FileChannels channels) {
    if (!channels.valid()) {
        return;
    }
    storeSpare(settings, channels, maxOverStep(settings));
}

bool maxOverStep(const AppSettings& settings) {
    return spareTagged(settings) &&
           (static_cast<std::uint32_t>(settings.spareSetting) & kMaxOverStepBit) != 0;
}

void setMaxOverStep(AppSettings& settings, bool on) {
    if (on || spareTagged(settings)) {
        storeSpare(settings, fileChannelsOf(settings), on);
    }
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
    in.frequencyScale = frequencyScaleOf(settings);
    in.lowBandHz = settings.lowBandHz;
    in.highBandHz = settings.highBandHz;
    in.averageCountScroll = settings.averageCountScroll;
    in.levelScaleCode = settings.levelScaleCode;
    in.dbRange = dbRangeOf(settings);
    in.calibration = settings.calibrationTable;
    in.maxOverStep = maxOverStep(settings);
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
    o.dbRange = dbRangeOf(s);
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
