#pragma once
// The frequency axis of a picture: a scale, a band and a number of rows (image rows or plot
// points), with everything that maps between them: the row of a frequency, the frequency of a
// row, the FFT bins a row shows and the frequencies that carry ticks. Every picture, readout
// and log places frequencies through it. Several callers round the same mapping differently
// (or compute it in another order, which changes the last bit); each such variant is a named
// method here, so the pictures and logs keep their exact pixels and numbers.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace korv {

// The frequency scales, in the order of their buttons.
enum class FrequencyScale {
    Linear,      // rows equally many Hz apart
    Log,         // rows equally many decades apart
    ThirdOctave, // the plots' third-octave bands, placed on a log axis; no image rows
};

// One entry per scale: what each one is called and whether it has spectral image rows.
struct FrequencyScaleInfo {
    FrequencyScale scale;
    std::string_view name; // the command-line tool's word for it
    bool logarithmic;      // placed by log10 of the frequency
    bool imageRows;        // the spectral image (and its grid, readouts, logs) can show it
};
inline constexpr std::array<FrequencyScaleInfo, 3> FREQUENCY_SCALES = {{
    {FrequencyScale::Linear, "linear", false, true},
    {FrequencyScale::Log, "log", true, true},
    {FrequencyScale::ThirdOctave, "third-octave", true, false},
}};
[[nodiscard]] const FrequencyScaleInfo& frequencyScaleInfo(FrequencyScale scale);

// The frequencies of the log scales' ticks and labels: 10, 16, 25, 40, 63 in each decade
// from 1 Hz up, lowest first.
inline constexpr int LOG_TICKS_PER_DECADE = 5;
inline constexpr int LOG_TICK_DECADES = 5;
[[nodiscard]] const std::array<int, LOG_TICKS_PER_DECADE * LOG_TICK_DECADES>& logTickHz();

enum class RowCombine {
    Single,  // the row shows one bin
    Maximum, // the largest of its bins, never below 0
    Mean,    // integer sum of its bins divided by the count, truncated
};

struct RowBins {
    int firstBin = 0;
    int binCount = 1;
    friend bool operator==(const RowBins&, const RowBins&) = default;
};

struct RowMap {
    RowCombine combine = RowCombine::Single;
    int binLimit = 0;          // N / 2: a bin index at or beyond it reads bin N / 2 - 1
    std::vector<RowBins> rows; // row 0 is the lowest frequency
};

class FrequencyAxis {
  public:
    // Row 0 stands at lowHz, row `rows` at highHz.
    FrequencyAxis(FrequencyScale scale, double lowHz, double highHz, int rows)
        : scale_(scale), low_(lowHz), high_(highHz), rows_(rows) {}

    [[nodiscard]] FrequencyScale scale() const { return scale_; }
    [[nodiscard]] double lowHz() const { return low_; }
    [[nodiscard]] double highHz() const { return high_; }
    [[nodiscard]] int rows() const { return rows_; }
    [[nodiscard]] bool logarithmic() const { return frequencyScaleInfo(scale_).logarithmic; }
    [[nodiscard]] bool imageRows() const { return frequencyScaleInfo(scale_).imageRows; }
    // At least one row, a finite band with high above low, above 0 Hz on a log axis.
    [[nodiscard]] bool usable() const;

    // Hz per row on the linear scale, decades per row on the log ones.
    [[nodiscard]] double stepPerRow() const;
    // The fractional row of a frequency: (hz - low) / (Hz per row), or
    // (log10 hz - log10 low) / (decades per row). The image's rows and ticks.
    [[nodiscard]] double rowOfHz(double hz) const;
    // The same on the linear scale as (hz - low) x rows / (high - low), one rounding fewer:
    // how the plots place their points. The log scales as rowOfHz.
    [[nodiscard]] double rowOfHzProportional(double hz) const;
    // Rows a width in Hz spans on the linear scale: width / (Hz per row).
    [[nodiscard]] double rowsOfWidth(double widthHz) const;
    // The whole row nearest a frequency (half up), nothing when it is no row of the axis or
    // the band is unusable.
    [[nodiscard]] std::optional<int> nearestRow(double hz) const;

    // The frequency of a fractional row: low + (high - low) x row / rows, or, on the log scale
    // with a usable band, 10^(log10 low + row x decades per row). Unrounded.
    [[nodiscard]] double hzAtRow(double row) const;
    // hzAtRow rounded half up to whole Hz: the data logs' frequency of a row.
    [[nodiscard]] long hzAtRowRounded(double row) const;

    // The FFT bins each row shows (N bins over the sample rate): on the linear scale
    // round(row x bins per row + first bin) and round(bins per row) bins, the largest of
    // them; on the log scale the bin of the row's frequency up to the next row's, averaged.
    // Nothing for the third-octave scale, no rows, N < 2, rate < 1 or an unusable log band.
    [[nodiscard]] std::optional<RowMap> rowMap(std::int32_t sampleRate, int fftSize) const;

  private:
    [[nodiscard]] bool usableLog() const;

    FrequencyScale scale_;
    double low_;
    double high_;
    int rows_;
};

// The frequency shown for a pixel row of a spectral image band (the readouts).
struct RowFrequencyInputs {
    FrequencyScale scale = FrequencyScale::Linear; // linear or log
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    std::int32_t sampleRate = 0;
    int fftSize = 1024;
    int plotHeight = 0; // the plot area, waveform strip included
    int rows = 0;       // the spectral image rows of the plot area
    std::int32_t cursorOffsetHz = 0;
};
struct RowFrequency {
    long frequencyHz = 0;   // f, within low .. high
    long uncertaintyHz = 0; // shown as +/- beside it
    long displayedHz = 0;   // |f + cursorOffsetHz|
    friend bool operator==(const RowFrequency&, const RowFrequency&) = default;
};
// y: pixels from the top of the plot area. The linear scale rounds f half up, the log scale
// truncates it. Nothing when the inputs give no scale.
[[nodiscard]] std::optional<RowFrequency> rowToFrequency(const RowFrequencyInputs& inputs, int y);

} // namespace korv
