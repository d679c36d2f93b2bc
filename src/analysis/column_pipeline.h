#pragma once
// One spectral column, for files and live sound alike: per channel a frame through the FFT
// (the frames of a long step reduced to each bin's largest value), the run's LevelCorrections, the
// rows (or the third-octave points of the live plots) and the averaging ring. Where the frames
// come from is the caller's: the held samples of a file (ColumnLevels) or the latest frames
// of the sound being heard (the scan loop). Everything is made by setup(); a column allocates
// nothing.

#include "analysis/fft.h"
#include "analysis/frequency_axis.h"
#include "analysis/frequency_scale.h"
#include "analysis/level_corrections.h"
#include "analysis/parameters.h"
#include "base/settings_types.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// What setting up an analysis (a picture's or a scan's) gives; with anything but Ok nothing
// is drawn.
enum class SetupResult {
    Ok,
    NoMemory, // the engine, rings, frames or working arrays could not be had
    Unusable, // the inputs give no analysis
};

struct ColumnPipelineInputs {
    std::int32_t sampleRate = 0;
    int channels = 1;         // 1 or 2
    int log2FftSize = 10;     // N = 2^log2FftSize
    int windowSamples = 1024; // the FFT's window length W (at most N)
    // Linear or Log rows; Oct/3 gives the points of the live plots (band sums, no gain).
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    int rows = 1;
    LevelCorrections corrections; // the gain not on the Oct/3 points
    int averageCount = 1;         // the ring's columns, at least 1
    // The frames come as floats (the exact values of wider samples) instead of 16-bit ones.
    bool floatFrames = false;
    // Also average every bin's own level (not with Oct/3).
    bool binLevels = false;
    // The averages truncated to whole quarter-dB, as the scans draw them.
    bool wholeAverages = false;
};

// How many frames, each windowSamples long and half a window apart, it takes to look at
// every sample of a step of stepFrames: one for a step no longer than the window.
[[nodiscard]] long framesOverStep(long stepFrames, int windowSamples);
// The frames from the step's start to frame `index` of framesOverStep.
[[nodiscard]] long frameOffsetInStep(long index, int windowSamples);

class ColumnPipeline {
  public:
    // The engine, the bins' or bands' corrections, the row map or third-octave points, the
    // frames and the rings. Returns Ok, NoMemory, or Unusable for inputs that give no
    // analysis (no row map, a size the engine does not offer, channels it cannot take).
    [[nodiscard]] SetupResult setup(const ColumnPipelineInputs& inputs);
    void release();

    [[nodiscard]] bool ready() const { return fft_.ready(); }
    [[nodiscard]] int fftSize() const { return fftSize_; }
    [[nodiscard]] int windowLength() const { return fft_.windowLength(); }
    [[nodiscard]] int rows() const { return rows_; }
    [[nodiscard]] int channels() const { return static_cast<int>(channels_.size()); }
    [[nodiscard]] int averageCount() const { return averageCount_; }
    [[nodiscard]] const RowMap& rowMap() const { return rowMap_; }

    // The N samples of a channel's next frame, filled by the caller before addFrame: 16-bit
    // frames, or float ones with floatFrames.
    [[nodiscard]] std::span<std::int16_t> frame16(int channel);
    [[nodiscard]] std::span<float> frame(int channel);
    // Transforms the channel's frame. The first frame of a column gives its bins, each later
    // one keeps every bin's largest value; `last` says no more frames follow for the column.
    void addFrame(int channel, bool first, bool last);
    // The column's bins through the corrections, into rows and the ring's current slot; the
    // averages divide by `divisor` (>= 1).
    void finishChannel(int channel, int divisor);
    // One frame per channel, finished, and the next slot: a whole column.
    void analyseColumn(int divisor);
    // The gain of the columns to come (a scan follows the level bar), as the settings store it.
    void setLevelScaleCode(std::int32_t code) { corrections_.setLevelScaleCode(code); }
    // The next column takes the next slot of the ring.
    void nextSlot() { ringSlot_ = (ringSlot_ + 1) % averageCount_; }
    // Empties the rings, as at the start of a run.
    void resetRings();

    // The averaged levels (quarter-dB) of the last column finished, row 0 lowest.
    [[nodiscard]] std::span<const float> averaged(int channel) const;
    // With binLevels: the same of each of the N/2 bins (bin k at index k); empty otherwise.
    [[nodiscard]] std::span<const float> averagedBins(int channel) const;

  private:
    struct Channel {
        std::vector<std::int16_t> frame16;   // N held samples, then N/2 levels
        std::vector<float> frame;            // or N exact samples
        std::vector<std::int16_t> levels;    // and their N/2 levels
        std::vector<std::int16_t> peak;      // each bin's largest value over a step's frames
        std::span<std::int16_t> bins;        // the column's N/2 bins: levels or magnitudes
        std::vector<std::int16_t> rowLevels; // one column of rows
        std::vector<std::int16_t> ring;      // averageCount columns x rows
        std::vector<std::int32_t> ringSums;  // per row, the sum over the ring
        std::vector<float> averaged;         // per row, ringSums / divisor
        // With binLevels, the same per bin.
        std::vector<std::int16_t> binRing;
        std::vector<std::int32_t> binSums;
        std::vector<float> binAveraged;
    };

    int fftSize_ = 0;
    int rows_ = 0;
    int averageCount_ = 1;
    int ringSlot_ = 0;
    bool floatFrames_ = false;
    bool keepBins_ = false;
    bool wholeAverages_ = false;
    FftEngine fft_;
    RowMap rowMap_;
    // The Oct/3 points: each point's band, and each bin's.
    std::optional<ThirdOctavePoints> thirdOctave_;
    std::vector<std::uint8_t> bandMap_;
    LevelCorrections corrections_;
    std::vector<std::int16_t> binOffsets_;                           // the bins' corrections
    std::array<double, THIRD_OCTAVE_TABLE_BANDS> bandCorrections_{}; // or the Oct/3 bands'
    std::vector<Channel> channels_;
};

} // namespace korv
