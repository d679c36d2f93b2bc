#pragma once
// The arithmetic of the analysis parameter dialogs: scroll bar steps and their rounding, the
// rescaling of begin and end when the rate or the sample format changes, the texts of the
// mirror edits, and the placement on the screen. Plain functions, no widgets.

#include "analysis/parameters.h"
#include "base/option_ids.h"
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
inline constexpr std::int32_t LOG_SCALE_FFT_SIZE_CHOICE = 1085; // 4096 points
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
[[nodiscard]] ScrollRange lowBandRange(std::int32_t freqScaleChoice, std::int32_t sampleRate);
[[nodiscard]] ScrollRange highBandRange(std::int32_t sampleRate);

// A sample rate radio of the Scan Input dialog.
struct SampleRateChoice {
    std::int32_t id = 0;
    const char* label = "";
    std::int32_t hz = 0;
};
// Every rate Scan Input can ask an input for, rising; an input offers some of them.
inline constexpr std::array<SampleRateChoice, 14> SAMPLE_RATE_CHOICES{{
    {SAMPLE_RATE_5K, "5k", 5513},
    {SAMPLE_RATE_8K, "8k", 8000},
    {SAMPLE_RATE_11K, "11k", 11025},
    {SAMPLE_RATE_16K, "16k", 16000},
    {SAMPLE_RATE_22K, "22k", 22050},
    {SAMPLE_RATE_32K, "32k", 32000},
    {SAMPLE_RATE_44K, "44k", 44100},
    {SAMPLE_RATE_48K, "48k", 48000},
    {SAMPLE_RATE_88K, "88k", 88200},
    {SAMPLE_RATE_96K, "96k", 96000},
    {SAMPLE_RATE_176K, "176k", 176400},
    {SAMPLE_RATE_192K, "192k", 192000},
    {SAMPLE_RATE_352K, "352k", 352800},
    {SAMPLE_RATE_384K, "384k", 384000},
}};
// The rates of SAMPLE_RATE_CHOICES, to ask an input which it takes.
[[nodiscard]] std::vector<int> sampleRateCandidates();
// What an input that cannot say is taken to offer: the rates of 1163..1167.
[[nodiscard]] std::vector<int> classicSampleRates();

// The rate of a choice; an unknown choice gives 22050 (the default choice's rate).
[[nodiscard]] std::int32_t sampleRateForChoice(std::int32_t sampleRateChoice);
// The choice kept when the input offers `offered` rates (empty: the classic ones): the same
// choice when its rate is offered, else the choice of the offered rate nearest it (of two as
// near, the higher).
[[nodiscard]] std::int32_t offeredSampleRateChoice(std::int32_t sampleRateChoice,
                                                   const std::vector<int>& offered);
// 30 dB -> 9, 60 dB -> -9, 90 dB -> 12; another choice gives the 60 dB code.
[[nodiscard]] std::int32_t levelScaleCodeFor(std::int32_t dbScaleChoice);

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
