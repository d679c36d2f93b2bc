#include "analysis/parameters.h"

#include "analysis/rounding.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace korv {

namespace {

UserMessage stopMessage(std::string_view text) {
    return UserMessage{std::string(text), MessageIcon::Stop};
}

CheckResult refuse(std::string_view text, CheckOutcome outcome) {
    return CheckResult{outcome, {stopMessage(text)}};
}

// k = log2 N' rounded half up, kept to the offered sizes.
int log2SizeFor(double targetSize) {
    if (!(targetSize > 0.0)) {
        return MIN_LOG2_FFT_SIZE;
    }
    const double exponent = std::clamp(std::log2(targetSize), -1.0, 64.0);
    return static_cast<int>(
        std::clamp(roundHalfUp(exponent), long{MIN_LOG2_FFT_SIZE}, long{MAX_LOG2_FFT_SIZE}));
}

} // namespace

int offeredLog2FftSize(int log2Size) {
    return std::clamp(log2Size, MIN_LOG2_FFT_SIZE, MAX_LOG2_FFT_SIZE);
}

double freqResolutionHz(std::int32_t sampleRate, int fftSize, std::int32_t resolutionFactor) {
    if (fftSize <= 0) {
        return 0.0;
    }
    const double binWidth = static_cast<double>(sampleRate) / fftSize;
    return binWidth * resolutionFactor / 10.0;
}

float analysisWindowMsec(std::int32_t sampleRate, int fftSize, std::int32_t resolutionFactor) {
    const double resolution = freqResolutionHz(sampleRate, fftSize, resolutionFactor);
    return resolution > 0.0 ? static_cast<float>(1000.0 / resolution) : 0.0f;
}

long hopSamples(int channels, float timeScaleMsec, std::int32_t sampleRate) {
    const double exact = channels * static_cast<double>(timeScaleMsec) * sampleRate / 1000.0;
    // A time scale that is no number (a hostile settings file) gives no hop.
    if (std::isnan(exact)) {
        return 0;
    }
    // Beyond any segment length; keeps the conversion defined for absurd entries.
    long hop = roundHalfUp(std::clamp(exact, -1e12, 1e12));
    if (channels > 0 && hop % channels != 0) {
        hop -= 1;
    }
    return hop;
}

double columnMsec(long hop, int channels, std::int32_t sampleRate) {
    if (hop <= 0 || channels <= 0 || sampleRate <= 0) {
        return 0.0;
    }
    return static_cast<double>(hop) / channels * 1000.0 / sampleRate;
}

double windowCentreMsec(int windowSamples, std::int32_t sampleRate) {
    if (sampleRate <= 0) {
        return 0.0;
    }
    return static_cast<double>(std::max(windowSamples, 0) / 2) * 1000.0 / sampleRate;
}

double columnTimeMsec(double x, double columnMsec, double windowCentreMsec) {
    return x * columnMsec + windowCentreMsec;
}

double columnTimeMsec(const RunParameters& run, double x) {
    return columnTimeMsec(x, run.columnMsec, run.windowCentreMsec);
}

long columnCount(std::int64_t segmentSamples, int fftSize, int channels, long hop) {
    if (hop <= 0) {
        return 0;
    }
    const std::int64_t usable = segmentSamples - std::int64_t{fftSize} * channels;
    return usable < 0 ? 0 : static_cast<long>(usable / hop);
}

RunParameters deriveRunParameters(const AnalysisInputs& inputs, const RunFormat& format,
                                  std::int64_t segmentBytes) {
    RunParameters run;
    run.log2FftSize = offeredLog2FftSize(inputs.log2FftSize);
    run.fftSize = 1 << run.log2FftSize;
    run.binWidthHz = static_cast<double>(format.sampleRate) / run.fftSize;
    run.freqResolutionHz =
        freqResolutionHz(format.sampleRate, run.fftSize, inputs.resolutionFactor);
    run.analysisWindowMsec =
        analysisWindowMsec(format.sampleRate, run.fftSize, inputs.resolutionFactor);
    // N x 10 / resolutionFactor in whole samples: the msec value would lose the last sample
    // to float rounding.
    const std::int32_t factor = std::max(inputs.resolutionFactor, std::int32_t{1});
    run.windowSamples = static_cast<int>(
        std::min<std::int64_t>(std::int64_t{run.fftSize} * 10 / factor, std::int64_t{run.fftSize}));
    run.hop = hopSamples(format.channels, inputs.timeScaleMsec, format.sampleRate);
    run.columnMsec = columnMsec(run.hop, format.channels, format.sampleRate);
    run.windowCentreMsec = windowCentreMsec(run.windowSamples, format.sampleRate);
    const std::int64_t samples =
        format.bytesPerSample > 0 ? segmentBytes / format.bytesPerSample : 0;
    run.columns = columnCount(samples, run.fftSize, format.channels, run.hop);
    return run;
}

bool limitHighBandToHalfRate(std::int32_t& highBandHz, std::int32_t sampleRate) {
    const std::int32_t half = std::max(sampleRate, 0) / 2;
    if (highBandHz <= half) {
        return false;
    }
    highBandHz = half;
    return true;
}

std::int32_t askedHighBand(std::int32_t highBandHz, const HighBandMemory& memory) {
    return memory.askedHz && highBandHz == memory.cutHz ? *memory.askedHz : highBandHz;
}

bool limitHighBandForRate(std::int32_t& highBandHz, std::int32_t sampleRate,
                          HighBandMemory& memory) {
    highBandHz = askedHighBand(highBandHz, memory);
    memory.askedHz.reset();
    const std::int32_t asked = highBandHz;
    if (!limitHighBandToHalfRate(highBandHz, sampleRate)) {
        return false;
    }
    memory.askedHz = asked;
    memory.cutHz = highBandHz;
    return true;
}

UserMessage highestFrequencyLimitedMessage() {
    return UserMessage{std::string(MSG_HIGHEST_FREQUENCY_LIMITED), MessageIcon::Warning};
}

AutomaticParameters deriveAutomaticParameters(const AutomaticInputs& inputs) {
    AutomaticParameters result;
    result.highBandHz = inputs.highBandHz;
    if (limitHighBandToHalfRate(result.highBandHz, inputs.sampleRate)) {
        result.check.messages.push_back(highestFrequencyLimitedMessage());
    }
    const std::int64_t band = std::int64_t{result.highBandHz} - inputs.lowBandHz;
    if (band < MIN_BAND_WIDTH_HZ) {
        result.check.outcome = CheckOutcome::End;
        result.check.messages.push_back(stopMessage(MSG_IMPROPER_FREQUENCY_LIMITS));
        return result;
    }
    if (inputs.timeSpanSec < 1) {
        result.check.outcome = CheckOutcome::End;
        result.check.messages.push_back(stopMessage(MSG_IMPROPER_TIME_SPAN));
        return result;
    }
    // A window not yet laid out still counts as one pixel, so nothing divides by zero.
    const int width = std::max(inputs.clientWidth, 1);
    const int height = std::max(inputs.clientHeight, 1);
    result.timeScaleMsec =
        static_cast<float>(inputs.timeSpanSec) * 1000.0f / static_cast<float>(width);

    const double targetResolution = static_cast<double>(band) * 2.0 / height;
    int log2Size = log2SizeFor(inputs.sampleRate / targetResolution);
    const double frameMsec =
        inputs.sampleRate > 0 ? (1 << log2Size) * 1000.0 / inputs.sampleRate : 0.0;
    const double longestFrameMsec =
        MAX_FRAME_TIME_STEPS * static_cast<double>(result.timeScaleMsec);
    if (frameMsec > longestFrameMsec) {
        log2Size = log2SizeFor(inputs.sampleRate * longestFrameMsec / 1000.0);
    }
    const int fftSize = 1 << log2Size;
    result.log2FftSize = log2Size;
    result.freqResolutionHz =
        static_cast<float>(freqResolutionHz(inputs.sampleRate, fftSize, inputs.resolutionFactor));
    result.analysisWindowMsec =
        analysisWindowMsec(inputs.sampleRate, fftSize, inputs.resolutionFactor);
    return result;
}

BandLimits forcedBandLimits(FrequencyScale scale, std::int32_t sampleRate) {
    const std::int32_t low = scale == FrequencyScale::Log ? LOG_SCALE_FORCED_LOW_HZ : 0;
    return BandLimits{low, sampleRate / 2};
}

bool frequencyLimitsUsable(FrequencyScale scale, std::int32_t lowBandHz, std::int32_t highBandHz) {
    if (lowBandHz < 0 || highBandHz <= lowBandHz) {
        return false;
    }
    return scale != FrequencyScale::Log || lowBandHz > 0;
}

CheckResult checkAnalyzeFileSegment(const AnalyzeFileCheckInputs& inputs) {
    constexpr auto again = CheckOutcome::ShowDialogAgain;
    if (inputs.analysisWindowMsec < MIN_ANALYSIS_WINDOW_MSEC) {
        return refuse(MSG_FFT_WINDOW_TOO_SMALL, again);
    }
    if (inputs.endByte < inputs.beginByte || inputs.beginByte < 0 || inputs.endByte < 0 ||
        inputs.beginByte > inputs.dataBytes || inputs.endByte > inputs.dataBytes) {
        return refuse(MSG_IMPROPER_BEGIN_OR_END, again);
    }
    if (inputs.endByte - inputs.beginByte < MIN_SEGMENT_BYTES) {
        return refuse(MSG_SAMPLE_SIZE_TOO_SMALL, again);
    }
    if (!frequencyLimitsUsable(inputs.frequencyScale, inputs.lowBandHz, inputs.highBandHz)) {
        return refuse(MSG_IMPROPER_FREQUENCY_LIMITS, again);
    }
    return {};
}

CheckResult checkAnalyzeFileColumns(long hop, long columns) {
    if (hop <= 0) {
        return refuse(MSG_IMPROPER_ENTRY, CheckOutcome::RestoreAndEnd);
    }
    if (columns <= 0) {
        return refuse(MSG_TIME_SCALE_TOO_SMALL, CheckOutcome::RestoreAndEnd);
    }
    return {};
}

ParametersChangeCheck checkParametersChange(const ParametersChangeInputs& inputs) {
    constexpr auto restore = CheckOutcome::RestoreAndEnd;
    ParametersChangeCheck result;
    result.endFrame = inputs.endFrame;
    result.sampleRate = inputs.sampleRate;
    if (inputs.beginFrame < 0 || inputs.beginFrame > inputs.loadedFrames ||
        inputs.beginFrame >= inputs.endFrame) {
        result.check = refuse(MSG_IMPROPER_BEGIN_OR_END, restore);
        return result;
    }
    // An end past the data is pulled back too: there is nothing to read beyond it.
    if (result.endFrame >= inputs.loadedFrames - inputs.fftSize) {
        result.endFrame = inputs.loadedFrames;
    }
    if (inputs.sampleRate < MIN_CHANGE_SAMPLE_RATE || inputs.sampleRate > MAX_FILE_SAMPLE_RATE) {
        result.sampleRate = FALLBACK_SAMPLE_RATE;
        result.check = refuse(MSG_SAMPLE_RATE_OUT_OF_RANGE, restore);
        return result;
    }
    if (inputs.timeScaleMsec < MIN_TIME_SCALE_MSEC || inputs.timeScaleMsec > MAX_TIME_SCALE_MSEC) {
        result.check = refuse(MSG_TIME_SCALE_OUT_OF_RANGE, restore);
        return result;
    }
    if (inputs.analysisWindowMsec < MIN_ANALYSIS_WINDOW_MSEC) {
        result.check = refuse(MSG_FFT_WINDOW_TOO_SMALL, restore);
        return result;
    }
    const std::int64_t segmentBytes = (result.endFrame - inputs.beginFrame) * inputs.bytesPerFrame;
    if (segmentBytes < MIN_SEGMENT_BYTES) {
        result.check = refuse(MSG_SAMPLE_SIZE_TOO_SMALL, restore);
        return result;
    }
    if (!frequencyLimitsUsable(inputs.frequencyScale, inputs.lowBandHz, inputs.highBandHz)) {
        result.check = refuse(MSG_IMPROPER_FREQUENCY_LIMITS, restore);
        return result;
    }
    return result;
}

} // namespace korv
