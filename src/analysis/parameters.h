#pragma once
// What the analysis parameters mean for one run: FFT size, window, hop between columns,
// number of columns, and the checks that refuse a run whose parameters make no sense.

#include "analysis/frequency_axis.h"
#include "base/check_result.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace korv {

// The FFT sizes offered, 512 to 16384 points, as powers of two.
inline constexpr int MIN_LOG2_FFT_SIZE = 9;
inline constexpr int MAX_LOG2_FFT_SIZE = 14;
inline constexpr int DEFAULT_LOG2_FFT_SIZE = 10; // 1024 points

inline constexpr std::int64_t MIN_SEGMENT_BYTES = 2048;
inline constexpr float MIN_ANALYSIS_WINDOW_MSEC = 1.0f;
inline constexpr float MIN_TIME_SCALE_MSEC = 1.0f;
inline constexpr float MAX_TIME_SCALE_MSEC = 500.0f;
// The highest sample rate any sound file is read at, and so analysed at.
inline constexpr std::int32_t MAX_FILE_SAMPLE_RATE = 384000;
inline constexpr std::int32_t MIN_CHANGE_SAMPLE_RATE = 4000;
inline constexpr std::int32_t FALLBACK_SAMPLE_RATE = 11025;
inline constexpr int MIN_BAND_WIDTH_HZ = 10;
// The frequency-resolution slider: the window is N x 10 / factor samples.
inline constexpr std::int32_t MIN_RESOLUTION_FACTOR = 10;
inline constexpr std::int32_t MAX_RESOLUTION_FACTOR = 100;
// Columns or spectra averaged: the averaging ring holds at most as many as the dialog offers.
inline constexpr std::int32_t MIN_AVERAGE_COUNT = 1;
inline constexpr std::int32_t MAX_AVERAGE_COUNT = 128;
inline constexpr std::int32_t LOG_SCALE_FORCED_LOW_HZ = 100;
// The automatic FFT size keeps a frame within this many time steps.
inline constexpr int MAX_FRAME_TIME_STEPS = 12;

inline constexpr std::string_view MSG_FFT_WINDOW_TOO_SMALL = "FFT Window Too Small";
inline constexpr std::string_view MSG_IMPROPER_BEGIN_OR_END = "Improper Begin or End";
inline constexpr std::string_view MSG_SAMPLE_SIZE_TOO_SMALL = "Sample Size Too Small";
inline constexpr std::string_view MSG_IMPROPER_ENTRY = "Improper Entry";
inline constexpr std::string_view MSG_TIME_SCALE_TOO_SMALL = "Time Scale Too Small";
inline constexpr std::string_view MSG_SAMPLE_RATE_OUT_OF_RANGE = "Sample Rate Out of Range";
inline constexpr std::string_view MSG_TIME_SCALE_OUT_OF_RANGE = "Time Scale Out of Range";
inline constexpr std::string_view MSG_HIGHEST_FREQUENCY_LIMITED =
    "Highest Frequency Limited to 1/2 Sampling Rate";
inline constexpr std::string_view MSG_IMPROPER_FREQUENCY_LIMITS = "Improper Frequency Limits";
inline constexpr std::string_view MSG_IMPROPER_TIME_SPAN = "Improper Time Span";

// log2Size kept to the offered sizes (9..14).
[[nodiscard]] int offeredLog2FftSize(int log2Size);

// binWidthHz x resolutionFactor / 10.
[[nodiscard]] double freqResolutionHz(std::int32_t sampleRate, int fftSize,
                                      std::int32_t resolutionFactor);
// 1000 / frequency resolution; 0 when the resolution is not positive.
[[nodiscard]] float analysisWindowMsec(std::int32_t sampleRate, int fftSize,
                                       std::int32_t resolutionFactor);

// Interleaved samples between neighbouring columns: channels x timeScaleMsec x rate / 1000
// rounded half up, lowered by 1 when not a multiple of the channel count.
[[nodiscard]] long hopSamples(int channels, float timeScaleMsec, std::int32_t sampleRate);
// hop / channels / rate in msec; 0 when any of them is not positive.
[[nodiscard]] double columnMsec(long hop, int channels, std::int32_t sampleRate);
// (segment samples - N x channels) / hop; 0 when hop is not positive.
[[nodiscard]] long columnCount(std::int64_t segmentSamples, int fftSize, int channels, long hop);

struct RunFormat {
    std::int32_t sampleRate = 0;
    int channels = 1;
    int bytesPerSample = 2;
    // How long `bytes` of these samples play, in msec (0 without a rate).
    [[nodiscard]] double bytesMsec(std::int64_t bytes) const {
        const double frameBytes = static_cast<double>(channels) * bytesPerSample;
        return sampleRate > 0 && frameBytes > 0
                   ? static_cast<double>(bytes) / frameBytes * 1000.0 / sampleRate
                   : 0.0;
    }
};

struct AnalysisInputs {
    int log2FftSize = DEFAULT_LOG2_FFT_SIZE; // kept to the offered sizes
    std::int32_t resolutionFactor = 10;
    float timeScaleMsec = 4.0f;
};

struct RunParameters {
    int log2FftSize = DEFAULT_LOG2_FFT_SIZE;
    int fftSize = 1 << DEFAULT_LOG2_FFT_SIZE; // N
    double binWidthHz = 0.0;
    double freqResolutionHz = 0.0;
    float analysisWindowMsec = 0.0f;
    int windowSamples = 0; // W, at most N
    long hop = 0;          // interleaved samples
    long columns = 0;
    // The real time between columns: the hop is whole samples, so this differs from the
    // time scale asked for (10 msec at 22050 Hz is 220.5 samples, made 221). Every time
    // shown, logged or exported goes by it, or long files drift.
    double columnMsec = 0.0;
    // From a column's first sample to the centre of its window (W / 2 samples), where the
    // window peaks: the instant the column's levels stand for.
    double windowCentreMsec = 0.0;
};

// The time of (absolute) column x from the start of its segment: its window's centre. Every
// time shown, logged or exported for a column goes by it.
[[nodiscard]] double columnTimeMsec(double x, double columnMsec, double windowCentreMsec);
[[nodiscard]] double columnTimeMsec(const RunParameters& run, double x);
// (W / 2) x 1000 / rate; 0 when the rate is not positive.
[[nodiscard]] double windowCentreMsec(int windowSamples, std::int32_t sampleRate);

// segmentBytes: the sample bytes of the segment (header not included).
[[nodiscard]] RunParameters deriveRunParameters(const AnalysisInputs& inputs,
                                                const RunFormat& format, std::int64_t segmentBytes);

// A high limit above half the sample rate names bins the data does not have (the top rows
// would repeat the last bin): it becomes rate / 2, integer division. True when it was cut.
bool limitHighBandToHalfRate(std::int32_t& highBandHz, std::int32_t sampleRate);

// The high band limit a user asked for while a file's rate cuts it, so that the next file
// whose rate allows it shows it again.
struct HighBandMemory {
    std::optional<std::int32_t> askedHz;
    std::int32_t cutHz = 0;
};
// The asked limit while the setting still holds the cut one (the user has not changed it
// since); else the setting.
[[nodiscard]] std::int32_t askedHighBand(std::int32_t highBandHz, const HighBandMemory& memory);
// limitHighBandToHalfRate from the asked limit, remembered while it is cut; true when cut.
bool limitHighBandForRate(std::int32_t& highBandHz, std::int32_t sampleRate,
                          HighBandMemory& memory);
[[nodiscard]] UserMessage highestFrequencyLimitedMessage();

// Command-line runs: time scale from the span, FFT size from the band and the client height.
struct AutomaticInputs {
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    std::int32_t resolutionFactor = 10;
    std::int32_t sampleRate = 0;
    std::int32_t timeSpanSec = 0;
    int clientWidth = 0;
    int clientHeight = 0;
};
struct AutomaticParameters {
    CheckResult check;           // the values below are meaningful when it proceeds
    std::int32_t highBandHz = 0; // limited to rate / 2
    float timeScaleMsec = 0.0f;  // also the saved time scale
    int log2FftSize = 0;
    float freqResolutionHz = 0.0f;
    float analysisWindowMsec = 0.0f;
};
[[nodiscard]] AutomaticParameters deriveAutomaticParameters(const AutomaticInputs& inputs);

// Band forced for a file started from the command line: 0 (linear) or 100 (log) to rate / 2.
struct BandLimits {
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    friend bool operator==(const BandLimits&, const BandLimits&) = default;
};
[[nodiscard]] BandLimits forcedBandLimits(FrequencyScale scale, std::int32_t sampleRate);

// A band that gives no row map: negative low, high not above low, log scale with low <= 0.
[[nodiscard]] bool frequencyLimitsUsable(FrequencyScale scale, std::int32_t lowBandHz,
                                         std::int32_t highBandHz);

// Analyze File, after the dialog's OK. Byte positions are within the file's sample data.
struct AnalyzeFileCheckInputs {
    float analysisWindowMsec = 0.0f;
    std::int64_t beginByte = 0;
    std::int64_t endByte = 0;
    std::int64_t dataBytes = 0; // the size of the file's sample data
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
};
// Window, begin/end, segment size, band: each failure goes back to the dialog.
[[nodiscard]] CheckResult checkAnalyzeFileSegment(const AnalyzeFileCheckInputs& inputs);
// After the segment is read: hop and columns; each failure restores and ends.
[[nodiscard]] CheckResult checkAnalyzeFileColumns(long hop, long columns);

// Parameters Change: re-analysis of the loaded segment. Positions in sample frames.
struct ParametersChangeInputs {
    std::int64_t beginFrame = 0;
    std::int64_t endFrame = 0;
    std::int64_t loadedFrames = 0;
    int fftSize = 1 << DEFAULT_LOG2_FFT_SIZE;
    std::int32_t sampleRate = 0;
    float timeScaleMsec = 0.0f;
    float analysisWindowMsec = 0.0f;
    int bytesPerFrame = 2; // channels x bytes per sample
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
};
struct ParametersChangeCheck {
    CheckResult check;           // every failure restores and ends
    std::int64_t endFrame = 0;   // moved to the end of the data when within one frame of it
    std::int32_t sampleRate = 0; // 11025 when out of range
};
[[nodiscard]] ParametersChangeCheck checkParametersChange(const ParametersChangeInputs& inputs);

} // namespace korv
