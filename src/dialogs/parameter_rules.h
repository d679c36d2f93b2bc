#pragma once
// The arithmetic of the analysis parameter dialogs: scroll bar steps and their rounding, the
// rescaling of begin and end when the rate or the sample format changes, the texts of the
// mirror edits, and the placement on the screen. Plain functions, no widgets.

#include "analysis/frequency_axis.h"
#include "analysis/parameters.h"
#include "base/settings_types.h"
#include "display/scroll_action.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korv {

enum class DialogId {
    AnalyzeFile = 102, // also Parameters Change
    ScanInput = 103,
    ScanFile = 104,
    SpectrumPlot = 153,
};

struct ScrollRange {
    int min = 0;
    int max = 0;
    friend bool operator==(const ScrollRange&, const ScrollRange&) = default;
};

inline constexpr ScrollRange RESOLUTION_FACTOR_RANGE{MIN_RESOLUTION_FACTOR, MAX_RESOLUTION_FACTOR};
inline constexpr ScrollRange AVERAGE_COUNT_RANGE{MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT};
inline constexpr ScrollRange TRIGGER_LEVEL_RANGE{100, 5000};
inline constexpr ScrollRange LOG_LOW_BAND_RANGE{10, 1000};
inline constexpr std::int32_t MIN_NEW_SAMPLE_RATE = 5513;
inline constexpr int LOG_SCALE_LOG2_FFT_SIZE = 12; // 4096 points
inline constexpr float NEGATIVE_TIME_SCALE_MSEC = 0.1f;
inline constexpr int RATE_EDIT_MAX_CHARS = 7;
inline constexpr int MSEC_EDIT_MAX_CHARS = 10;
inline constexpr std::int32_t DEFAULT_TRIGGER_LEVEL = 5000;

[[nodiscard]] int clampTo(long value, ScrollRange range);

// One step of a scroll bar with plain steps: line and page move by their step, the thumb is
// rounded down to a multiple of thumbMultiple; the result is clamped to the range.
[[nodiscard]] int stepScroll(int value, ScrollAction action, int thumbPosition, ScrollRange range,
                             int lineStep, int pageStep, int thumbMultiple);

// The band limit scroll bars: line 10, page 100 with rounding to multiples of 100, thumb
// rounded down to 10, clamped to the range.
enum class BandLimit { Low, High };
[[nodiscard]] int stepBandLimit(int value, ScrollAction action, int thumbPosition,
                                ScrollRange range, BandLimit which, bool logScale);

// Low band range: 10..1000 on the log scale, else 0..rate / 2. High band: 0..rate / 2.
[[nodiscard]] ScrollRange lowBandRange(FrequencyScale scale, std::int32_t sampleRate);
[[nodiscard]] ScrollRange highBandRange(std::int32_t sampleRate);

// Every rate Scan Input can ask an input for (its dialog's buttons), rising; an input offers
// some of them.
[[nodiscard]] std::vector<int> sampleRateCandidates();
// What an input that cannot say is taken to offer: 5513, 11025, 22050, 44100 and 48000 Hz.
[[nodiscard]] std::vector<int> classicSampleRates();

// The rate kept when the input offers `offered` rates (empty: the classic ones): the same rate
// when it is offered, else the offered rate of a button nearest it (of two as near, the
// higher).
[[nodiscard]] std::int32_t offeredSampleRateHz(std::int32_t rateHz,
                                               const std::vector<int>& offered);
// 30 dB -> 9, 60 dB -> -9, 90 dB -> 12.
[[nodiscard]] std::int32_t levelScaleCodeFor(DbRange range);

// The rate typed into the rate edit: 0 keeps the remembered rate, the rest is clamped to
// 5513 up to the highest rate a file is read at.
[[nodiscard]] std::int32_t acceptedNewRate(std::int32_t typed, std::int32_t remembered);
// A time in msec kept on the same sample after a rate change: t x old / new, truncated.
[[nodiscard]] std::int64_t rescaleMsec(std::int64_t msec, std::int32_t oldRate,
                                       std::int32_t newRate);

// The one-third-octave band edges shown for the Oct/3 scale: the lower edge of the lowest
// band at least one FFT bin wide and the upper edge of the band holding rate / 2, both
// rounded down to a multiple of 10.
struct ThirdOctaveEdges {
    int lowHz = 0;
    int highHz = 0;
    friend bool operator==(const ThirdOctaveEdges&, const ThirdOctaveEdges&) = default;
};
[[nodiscard]] ThirdOctaveEdges thirdOctaveDisplayEdges(std::int32_t sampleRate, int fftSize);

// Mirror and edit texts.
[[nodiscard]] std::string formatResolution(double hz); // "%-3.1f"
[[nodiscard]] std::string formatTimeScale(float msec); // "%-4.2f"
// atof; a negative value becomes 0.1.
[[nodiscard]] float parseTimeScale(const std::string& text);
// atoi, saturating at the int32 limits.
[[nodiscard]] std::int32_t parseSignedInt(const std::string& text);
// Leading digits as a non-negative number, saturating; no digits give 0.
[[nodiscard]] std::int64_t parseDigits(const std::string& text);

// Top-left corner that centres a window on the screen, never left of or above it.
struct ScreenPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};
[[nodiscard]] ScreenPoint centredOnScreen(int screenWidth, int screenHeight, int width, int height);

} // namespace korv
