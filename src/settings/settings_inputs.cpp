#include "settings/settings_inputs.h"

namespace korv {

AnalysisInputs analysisInputsFrom(const AppSettings& settings) {
    return AnalysisInputs{settings.log2FftSize, settings.resolutionFactor, settings.timeScaleMsec};
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
    in.frequencyScale = settings.frequencyScale;
    in.lowBandHz = settings.lowBandHz;
    in.highBandHz = settings.highBandHz;
    in.averageCountScroll = settings.averageCountScroll;
    in.dbRange = settings.dbRange;
    in.corrections = levelCorrectionsOf(settings);
    in.maxOverStep = settings.maxOverStep;
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
    in.frequencyScale = settings.frequencyScale;
    in.lowBandHz = settings.lowBandHz;
    in.highBandHz = settings.highBandHz;
    in.corrections = levelCorrectionsOf(settings);
    in.liveLevelScaleCode = &settings.levelScaleCode;
    in.pitchDetector = settings.pitchDetector;
    in.maxOverStep = settings.maxOverStep;
    return in;
}

void applyAutomaticParameters(const AutomaticParameters& result, AppSettings& settings) {
    settings.highBandHz = result.highBandHz;
    if (!result.check.proceeds()) {
        return;
    }
    settings.timeScaleMsec = result.timeScaleMsec;
    settings.timeScaleMsecSaved = result.timeScaleMsec;
    settings.log2FftSize = offeredLog2FftSize(result.log2FftSize);
    settings.freqResolutionHz = result.freqResolutionHz;
}

void useAnalyzeFileScale(AppSettings& settings) {
    if (settings.frequencyScale == FrequencyScale::ThirdOctave) {
        settings.frequencyScale = FrequencyScale::Linear;
        settings.log2FftSize = DEFAULT_LOG2_FFT_SIZE;
    }
}

ScopeOptions scopeOptions(const AppSettings& s, const ScopeAxis& axis, bool grid) {
    ScopeOptions o;
    o.displayType = s.displayType;
    o.plotType = s.plotType;
    o.dbRange = s.dbRange;
    o.levelScaleCode = s.levelScaleCode;
    o.marker1Hz = s.marker1Hz;
    o.marker2Hz = s.marker2Hz;
    o.stereo = s.stereo;
    o.channel = s.channel;
    o.grid = grid;
    o.axis = axis;
    return o;
}

ViewBand viewBandOf(const AppSettings& st) {
    if (!st.stereo) {
        return ViewBand::Mono;
    }
    switch (st.channel) {
    case StereoChannel::Left:
        return ViewBand::Left;
    case StereoChannel::Right:
        return ViewBand::Right;
    case StereoChannel::Dual:
        break;
    }
    return ViewBand::Dual;
}

} // namespace korv
