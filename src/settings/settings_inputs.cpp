#include "settings/settings_inputs.h"

#include "base/option_ids.h"

#include <algorithm>
#include <array>
#include <optional>

namespace korv {

namespace {

// A choice's value and the record's id for it: each pair written once, read both ways.
template <typename Value> struct IdOf {
    Value value;
    std::int32_t id;
};

template <typename Value, std::size_t N>
std::optional<Value> valueOfId(const std::array<IdOf<Value>, N>& table, std::int32_t id) {
    for (const IdOf<Value>& row : table) {
        if (row.id == id) {
            return row.value;
        }
    }
    return std::nullopt;
}

// The first row is what an id the table does not know reads as.
template <typename Value, std::size_t N>
Value valueOrFirst(const std::array<IdOf<Value>, N>& table, std::int32_t id) {
    return valueOfId(table, id).value_or(table.front().value);
}

template <typename Value, std::size_t N>
std::int32_t idOfValue(const std::array<IdOf<Value>, N>& table, Value value) {
    for (const IdOf<Value>& row : table) {
        if (row.value == value) {
            return row.id;
        }
    }
    return table.front().id;
}

constexpr std::array<IdOf<FrequencyScale>, 3> kFrequencyScaleIds{{
    {FrequencyScale::Linear, FREQ_SCALE_LINEAR},
    {FrequencyScale::Log, FREQ_SCALE_LOG},
    {FrequencyScale::ThirdOctave, FREQ_SCALE_THIRD_OCTAVE},
}};
constexpr std::array<IdOf<DbRange>, 3> kDbRangeIds{{
    {DbRange::Db60, DB_SCALE_60},
    {DbRange::Db30, DB_SCALE_30},
    {DbRange::Db90, DB_SCALE_90},
}};
constexpr std::array<IdOf<PaletteName>, 3> kPaletteIds{{
    {PaletteName::Cb, PALETTE_CB},
    {PaletteName::Bw, PALETTE_BW},
    {PaletteName::User, PALETTE_USER},
}};
constexpr std::array<IdOf<StereoChannel>, 3> kStereoChannelIds{{
    {StereoChannel::Left, CHANNEL_LEFT},
    {StereoChannel::Dual, CHANNEL_DUAL},
    {StereoChannel::Right, CHANNEL_RIGHT},
}};
constexpr std::array<IdOf<DisplayType>, 3> kDisplayTypeIds{{
    {DisplayType::LinePlot, DISPLAY_LINE_PLOT},
    {DisplayType::Scroll, DISPLAY_SCROLL},
    {DisplayType::BarPlot, DISPLAY_BAR_PLOT},
}};
constexpr std::array<IdOf<PlotType>, 3> kPlotTypeIds{{
    {PlotType::Signal, PLOT_SIGNAL},
    {PlotType::PeakDelta, PLOT_PEAK_DELTA},
    {PlotType::LrDelta, PLOT_LR_DELTA},
}};

} // namespace

FrequencyScale frequencyScaleOf(std::int32_t freqScaleChoice) {
    return valueOrFirst(kFrequencyScaleIds, freqScaleChoice);
}

FrequencyScale frequencyScaleOf(const AppSettings& settings) {
    return frequencyScaleOf(settings.freqScaleChoice);
}

void setFrequencyScale(AppSettings& settings, FrequencyScale scale) {
    settings.freqScaleChoice = idOfValue(kFrequencyScaleIds, scale);
}

DbRange dbRangeOf(std::int32_t dbScaleChoice) {
    return valueOrFirst(kDbRangeIds, dbScaleChoice);
}

DbRange dbRangeOf(const AppSettings& settings) {
    return dbRangeOf(settings.dbScaleChoice);
}

void setDbRange(AppSettings& settings, DbRange range) {
    settings.dbScaleChoice = idOfValue(kDbRangeIds, range);
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
    return valueOfId(kPaletteIds, paletteChoice);
}

std::optional<PaletteName> paletteNameOf(const AppSettings& settings) {
    return paletteNameOf(settings.paletteChoice);
}

void setPaletteName(AppSettings& settings, PaletteName name) {
    settings.paletteChoice = idOfValue(kPaletteIds, name);
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
    return valueOrFirst(kStereoChannelIds, settings.channelChoice);
}

void setStereoChannel(AppSettings& settings, StereoChannel channel) {
    settings.channelChoice = idOfValue(kStereoChannelIds, channel);
}

bool stereoOf(const AppSettings& settings) {
    return settings.typeChoice == TYPE_STEREO;
}

void setStereo(AppSettings& settings, bool stereo) {
    settings.typeChoice = stereo ? TYPE_STEREO : TYPE_MONO;
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
    return AnalysisInputs{log2FftSizeFromChoice(settings.fftSizeChoice), settings.resolutionFactor,
                          settings.timeScaleMsec};
}

LevelCorrections levelCorrectionsOf(const AppSettings& settings) {
    return {settings.calibrationTable, settings.levelScaleCode};
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
    in.dbRange = dbRangeOf(settings);
    in.corrections = levelCorrectionsOf(settings);
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
    in.corrections = levelCorrectionsOf(settings);
    in.liveLevelScaleCode = &settings.levelScaleCode;
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
    o.displayType = valueOrFirst(kDisplayTypeIds, s.displayTypeChoice);
    o.plotType = valueOrFirst(kPlotTypeIds, s.plotTypeChoice);
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
