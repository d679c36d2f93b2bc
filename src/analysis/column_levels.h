#pragma once
// The levels of Analyze File's columns: per column and channel one frame of the held
// samples, one FFT in level mode, the level corrections, the row map and the averaging ring,
// with the waveform envelope around the window's centre. Numbers only: the picture is the
// display's (ColumnAnalyzer). Everything is made by setup(); a column allocates nothing.

#include "analysis/fft.h"
#include "analysis/frequency_scale.h"
#include "analysis/parameters.h"
#include "base/option_ids.h"
#include "base/settings_types.h"

#include <cstdint>
#include <span>
#include <vector>

namespace korv {

struct ColumnAnalysisInputs {
    std::span<const std::uint8_t> samples; // the segment's sample bytes, interleaved
    // The exact values of the 16-bit samples (one per sample) for files wider than 16 bits;
    // empty when the bytes are exact.
    std::span<const float> precise;
    int channels = 1;       // 1 or 2
    int bitsPerSample = 16; // 8 or 16
    std::int32_t sampleRate = 0;
    RunParameters run; // log2FftSize, analysisWindowMsec, hop, columns
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    std::int32_t averageCountScroll = 1; // limited to 1 .. MAX_AVERAGE_COUNT
    std::int32_t levelScaleCode = 0;
    DbRange dbRange = DbRange::Db60; // the picture's colour range, read by the display
    CalibrationCurve calibration{};
    // Also average every bin's own level over the same columns (the level logs: each line the
    // level at the frequency it names, whatever the rows show).
    bool binLevels = false;
};

// Where the columns' frames come from: the segment's interleaved 8- or 16-bit samples, or
// their exact values where the file's were wider.
struct ColumnFrameSource {
    std::span<const std::uint8_t> samples;
    int channels = 1;
    int bytesPerSample = 2;
    long hop = 0; // interleaved samples between columns
    std::span<const float> precise;
};
// Column x's frame of one channel as analysis samples: frame.size() samples from x hops into
// the segment, silence for whatever lies beyond the data. As integers the held 8- or 16-bit
// samples; as floats (in 16-bit units) the exact values where there are any.
void readColumnFrame(const ColumnFrameSource& source, long x, int channel,
                     std::span<std::int16_t> frame);
void readColumnFrame(const ColumnFrameSource& source, long x, int channel, std::span<float> frame);

// What setup() returns when it fails; nothing is then drawn.
inline constexpr int ANALYZER_NO_MEMORY = -1; // the engine, rings or frames could not be had
inline constexpr int ANALYZER_UNUSABLE = -2;  // the inputs give no analysis

class ColumnLevels {
  public:
    // The FFT engine, calibration offsets, row map for `rows` rows, the waveform look-around,
    // the rings and frames; at most `maxColumns` columns. Returns 0, ANALYZER_NO_MEMORY, or
    // ANALYZER_UNUSABLE for inputs that give no analysis (no row map, a size the engine does
    // not offer, channels or bits it cannot read). The samples must outlive its use.
    [[nodiscard]] int setup(const ColumnAnalysisInputs& inputs, int rows, long maxColumns);
    // Ends the run (releaseFft); setup() may follow for a new one.
    void release();

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] long columns() const { return columns_; }
    [[nodiscard]] int rows() const { return rows_; }
    [[nodiscard]] int channels() const { return channels_; }
    [[nodiscard]] int averageCount() const { return averageCount_; }

    // The levels of column x (0 <= x < columns(); false for others). Columns are meant to
    // come in order; any other order gives the same levels, at the cost of the
    // averageCount - 1 columns before x being transformed again to fill the ring.
    [[nodiscard]] bool compute(long x);
    // The ring-averaged levels (quarter-dB) of the last column computed for a channel,
    // row 0 lowest: what the picture and the level log show. Empty before the first column.
    [[nodiscard]] std::span<const float> averagedLevels(int channel) const;
    // With binLevels: the same average of each of the N/2 bins (bin k at index k); empty
    // otherwise and before the first column.
    [[nodiscard]] std::span<const float> averagedBins(int channel) const;
    // The smallest and largest sample around the window's centre, for the waveform strip.
    [[nodiscard]] int minimum(int channel) const;
    [[nodiscard]] int maximum(int channel) const;
    [[nodiscard]] const RowMap& rowMap() const { return rowMap_; }
    // The samples the engine's window covers (W).
    [[nodiscard]] int windowLength() const { return fft_.windowLength(); }

  private:
    struct Channel {
        std::vector<std::int16_t> frame16;   // N held samples, then N/2 levels
        std::vector<float> frame;            // or N exact samples
        std::vector<std::int16_t> levels;    // and their N/2 levels
        std::vector<std::int16_t> rowLevels; // one column of rows
        std::vector<std::int16_t> ring;      // averageCount columns x rows
        std::vector<std::int32_t> ringSums;  // per row, the sum over the ring
        std::vector<float> averaged;         // per row, ringSums / averageCount
        // With binLevels, the same per bin.
        std::vector<std::int16_t> binRing;
        std::vector<std::int32_t> binSums;
        std::vector<float> binAveraged;
        int minimum = 0;
        int maximum = 0;
    };

    void readFrames(long x);
    // Transform, corrections, rows and the ring for column x; fills averaged.
    void computeColumn(long x);
    void resetRings();

    bool ready_ = false;
    std::span<const std::uint8_t> samples_;
    std::span<const float> precise_;
    int channels_ = 1;
    int bytesPerSample_ = 2;
    int fftSize_ = 0;
    long hop_ = 0;
    long columns_ = 0;
    int rows_ = 0;
    int averageCount_ = 1;
    int ringPos_ = 0;
    long nextColumn_ = 0; // the column whose ring history is in place
    int lookFirst_ = 0;   // waveform look-around: frame indices lookFirst_ .. lookLast_ - 1
    int lookLast_ = 0;
    std::int32_t levelScaleCode_ = 0;
    bool keepBins_ = false;
    FftEngine fft_;
    RowMap rowMap_;
    std::vector<std::int16_t> calibrationOffsets_;
    std::vector<Channel> channelState_;
    bool analysedAny_ = false;
};

} // namespace korv
