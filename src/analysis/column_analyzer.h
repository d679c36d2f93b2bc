#pragma once
// The column loop of Analyze File without the window: per column and channel one frame of
// the held samples, one FFT in level mode, the level corrections, the row map, the
// averaging ring and the palette indices, plus the waveform strip, written into the
// SpectralImage. Everything the loop needs is made by setup(); a column allocates nothing.

#include "analysis/fft.h"
#include "analysis/frequency_scale.h"
#include "analysis/parameters.h"
#include "display/palette.h"
#include "display/spectral_image.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <span>
#include <vector>

namespace korv {

struct ColumnAnalysisInputs {
    std::span<const std::uint8_t> samples; // the segment's sample bytes, interleaved
    int channels = 1;                      // 1 or 2
    int bitsPerSample = 16;                // 8 or 16
    std::int32_t sampleRate = 0;
    RunParameters run; // log2FftSize, analysisWindowMsec, hop, columns
    std::int32_t freqScaleChoice = FREQ_SCALE_LINEAR;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    std::int32_t averageCountScroll = 1; // limited to 1 .. MAX_AVERAGE_COUNT
    std::int32_t levelScaleCode = 0;
    std::int32_t dbScaleChoice = kDbScale60;
    CalibrationCurve calibration{};
};

// The fields of the settings record the loop reads, with the run's samples and parameters.
[[nodiscard]] ColumnAnalysisInputs columnAnalysisInputsFrom(const AppSettings& settings,
                                                            const RunFormat& format,
                                                            const RunParameters& run,
                                                            std::span<const std::uint8_t> samples);

// What setup() returns when it fails; nothing is then drawn.
inline constexpr int ANALYZER_NO_MEMORY = -1; // the engine, rings or frames could not be had
inline constexpr int ANALYZER_UNUSABLE = -2;  // the inputs give no analysis

class ColumnAnalyzer {
  public:
    // The FFT engine, calibration offsets, row map for the image's rows, the waveform
    // look-around, the rings and frames. Returns 0, ANALYZER_NO_MEMORY, or ANALYZER_UNUSABLE
    // for inputs that give no analysis (no row map, a size the engine does not offer,
    // channels or bits the image cannot hold). The samples must outlive the analyzer's use.
    [[nodiscard]] int setup(const ColumnAnalysisInputs& inputs, const SpectralImage& image);
    // Ends the run (releaseFft); setup() may follow for a new one.
    void release();

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] long columns() const { return columns_; }
    [[nodiscard]] int rows() const { return rows_; }
    [[nodiscard]] int averageCount() const { return averageCount_; }

    // Writes column x (0 <= x < columns(), others are ignored) for every channel. Columns
    // are meant to be analysed in order; any other order gives the same pixels, at the cost
    // of the averageCount - 1 columns before x being transformed again to fill the ring.
    void analyzeColumn(long x, SpectralImage& image);
    // The same column drawn at another column of another picture of the same bands (a block
    // analysed apart and copied in later).
    void analyzeColumnAt(long x, SpectralImage& image, int imageX);
    // Columns first .. last - 1, in order.
    void analyzeColumns(long first, long last, SpectralImage& image);

    // The ring-averaged levels (quarter-dB) of the last column analysed for a channel,
    // row 0 lowest: what the level log writes. Empty before the first column.
    [[nodiscard]] std::span<const float> averagedLevels(int channel) const;
    [[nodiscard]] const RowMap& rowMap() const { return rowMap_; }
    // The samples the engine's window covers (W).
    [[nodiscard]] int windowLength() const { return fft_.windowLength(); }

  private:
    struct Channel {
        std::vector<std::int16_t> frame;     // N samples, then N/2 levels
        std::vector<std::int16_t> rowLevels; // one column of rows
        std::vector<std::int16_t> ring;      // averageCount columns x rows
        std::vector<std::int32_t> ringSums;  // per row, the sum over the ring
        std::vector<float> averaged;         // per row, ringSums / averageCount
        std::vector<std::uint8_t> indices;   // per row, the palette index drawn
        int minimum = 0;
        int maximum = 0;
    };

    void readFrames(long x);
    // Transform, corrections, rows and the ring for column x; fills averaged.
    void computeColumn(long x);
    void resetRings();
    void drawColumn(int column, SpectralImage& image);

    bool ready_ = false;
    std::span<const std::uint8_t> samples_;
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
    LevelRange range_;
    FftEngine fft_;
    RowMap rowMap_;
    std::vector<std::int16_t> calibrationOffsets_;
    std::vector<Channel> channelState_;
    bool analysedAny_ = false;
};

} // namespace korv
