#include "settings/settings_inputs.h"

#include "base/option_ids.h"

#include <algorithm>

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

void setFrequencyScale(AppSettings& settings, FrequencyScale scale) {
    switch (scale) {
    case FrequencyScale::Log:
        settings.freqScaleChoice = FREQ_SCALE_LOG;
        return;
    case FrequencyScale::ThirdOctave:
        settings.freqScaleChoice = FREQ_SCALE_THIRD_OCTAVE;
        return;
    case FrequencyScale::Linear:
        break;
    }
    settings.freqScaleChoice = FREQ_SCALE_LINEAR;
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

void setDbRange(AppSettings& settings, DbRange range) {
    settings.dbScaleChoice = range == DbRange::Db30   ? DB_SCALE_30
                             : range == DbRange::Db90 ? DB_SCALE_90
                                                      : DB_SCALE_60;
}

int log2FftSizeFromChoice(std::int32_t fftSizeChoice) {
    const std::int32_t choice =
        std::clamp(fftSizeChoice, FFT_SIZE_CHOICE_FIRST, FFT_SIZE_CHOICE_LAST);
    return MIN_LOG2_FFT_SIZE + static_cast<int>(choice - FFT_SIZE_CHOICE_FIRST);
}

int fftSizeFromChoice(std::int32_t fftSizeChoice) {
    return 1 << log2FftSizeFromChoice(fftSizeChoice);
}

std::int32_t fftSizeChoiceFor(int log2Size) {
    return FFT_SIZE_CHOICE_FIRST + offeredLog2FftSize(log2Size) - MIN_LOG2_FFT_SIZE;
}

int fftSizeOf(const AppSettings& settings) {
    return fftSizeFromChoice(settings.fftSizeChoice);
}

void setLog2FftSize(AppSettings& settings, int log2Size) {
    settings.fftSizeChoice = fftSizeChoiceFor(log2Size);
}

std::optional<PaletteName> paletteNameOf(std::int32_t paletteChoice) {
    switch (paletteChoice) {
    case PALETTE_CB:
        return PaletteName::Cb;
    case PALETTE_BW:
        return PaletteName::Bw;
    case PALETTE_USER:
        return PaletteName::User;
    default:
        return std::nullopt;
    }
}

std::optional<PaletteName> paletteNameOf(const AppSettings& settings) {
    return paletteNameOf(settings.paletteChoice);
}

void setPaletteName(AppSettings& settings, PaletteName name) {
    settings.paletteChoice = name == PaletteName::Bw     ? PALETTE_BW
                             : name == PaletteName::User ? PALETTE_USER
                                                         : PALETTE_CB;
}

bool fillActivePalette(std::int32_t paletteChoice, const LevelPalette& userPalette,
                       LevelPalette& active) {
    const std::optional<PaletteName> name = paletteNameOf(paletteChoice);
    if (!name) {
        return false;
    }
    active = paletteFor(*name, userPalette);
    return true;
}

bool fillActivePalette(const AppSettings& settings, LevelPalette& active) {
    return fillActivePalette(settings.paletteChoice, settings.userPalette, active);
}

StereoChannel stereoChannelOf(const AppSettings& settings) {
    switch (settings.channelChoice) {
    case CHANNEL_DUAL:
        return StereoChannel::Dual;
    case CHANNEL_RIGHT:
        return StereoChannel::Right;
    default:
        return StereoChannel::Left;
    }
}

void setStereoChannel(AppSettings& settings, StereoChannel channel) {
    settings.channelChoice = channel == StereoChannel::Dual    ? CHANNEL_DUAL
                             : channel == StereoChannel::Right ? CHANNEL_RIGHT
                                                               : CHANNEL_LEFT;
}

bool stereoOf(const AppSettings& settings) {
    return settings.typeChoice == TYPE_STEREO;
}

void setStereo(AppSettings& settings, bool stereo) {
    settings.typeChoice = stereo ? TYPE_STEREO : TYPE_MONO;
}

namespace {

DisplayType displayTypeOf(const AppSettings& settings) {
    switch (settings.displayTypeChoice) {
    case DISPLAY_SCROLL:
        return DisplayType::Scroll;
    case DISPLAY_BAR_PLOT:
        return DisplayType::BarPlot;
    default:
        return DisplayType::LinePlot;
    }
}

PlotType plotTypeOf(const AppSettings& settings) {
    switch (settings.plotTypeChoice) {
    case PLOT_PEAK_DELTA:
        return PlotType::PeakDelta;
    case PLOT_LR_DELTA:
        return PlotType::LrDelta;
    default:
        return PlotType::Signal;
    }
}

} // namespace

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
    return AnalysisInputs{log2FftSizeFromChoice(settings.fftSizeChoice), settings.resolutionFactor,
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

ScanLoopInputs scanLoopInputs(const AppSettings& settings, std::int32_t sampleRate, int channels,
                              const RunParameters& params) {
    ScanLoopInputs in;
    in.sampleRate = sampleRate;
    in.channels = channels;
    in.log2FftSize = params.log2FftSize;
    in.windowSamples = params.windowSamples;
    in.analysisWindowMsec = params.analysisWindowMsec;
    in.timeScaleMsec = settings.timeScaleMsec;
    in.frequencyScale = frequencyScaleOf(settings);
    in.lowBandHz = settings.lowBandHz;
    in.highBandHz = settings.highBandHz;
    in.levelScaleCode = settings.levelScaleCode;
    in.liveLevelScaleCode = &settings.levelScaleCode;
    in.calibration = settings.calibrationTable;
    in.pitchDetector = settings.pitchDetectorChoice == PITCH_DETECTOR_ON;
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
    setLog2FftSize(settings, result.log2FftSize);
    settings.freqResolutionHz = result.freqResolutionHz;
}

void useAnalyzeFileScale(AppSettings& settings) {
    if (settings.freqScaleChoice != FREQ_SCALE_LINEAR &&
        settings.freqScaleChoice != FREQ_SCALE_LOG) {
        settings.freqScaleChoice = FREQ_SCALE_LINEAR;
        setLog2FftSize(settings, DEFAULT_LOG2_FFT_SIZE);
    }
}

ScopeOptions scopeOptions(const AppSettings& s, const ScopeAxis& axis, bool grid) {
    ScopeOptions o;
    o.displayType = displayTypeOf(s);
    o.plotType = plotTypeOf(s);
    o.dbRange = dbRangeOf(s);
    o.levelScaleCode = s.levelScaleCode;
    o.marker1Hz = s.marker1Hz;
    o.marker2Hz = s.marker2Hz;
    o.stereo = stereoOf(s);
    o.channel = stereoChannelOf(s);
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
