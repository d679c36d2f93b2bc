#pragma once
// The levels of Analyze File's columns: per column and channel the frames of the held samples
// through the column pipeline (one frame, or with maxOverStep all frames the step covers),
// with the waveform envelope around the first window's centre. Numbers only: the picture is
// the display's (ColumnAnalyzer). Everything is made by setup(); a column allocates nothing.

#include "analysis/column_pipeline.h"
#include "analysis/level_corrections.h"
#include "analysis/parameters.h"
#include "base/settings_types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace korv {

class ColumnFrameWindow;
// Makes a window for one analyser (each reads on its own thread); nothing when it cannot.
using ColumnFrameWindows = std::function<std::unique_ptr<ColumnFrameWindow>()>;

struct ColumnAnalysisInputs {
    std::span<const std::uint8_t> samples; // the segment's sample bytes, interleaved
    // Set when the segment is read from the file as the columns go instead of held: the
    // samples above are then unused.
    ColumnFrameWindows windows;
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
    DbRange dbRange = DbRange::Db60;     // the picture's colour range, read by the display
    LevelCorrections corrections;        // calibration, gain, weighting: every analyser's
    // Also average every bin's own level over the same columns (the level logs: each line the
    // level at the frequency it names, whatever the rows show).
    bool binLevels = false;
    // Each bin's maximum over all frames the column's step covers, so a sound shorter than
    // the step still shows; otherwise one frame from the step's start.
    bool maxOverStep = false;
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
// Column x's frame of one channel as analysis samples: frame.size() samples from x hops (and
// frameOffset frames further) into the segment, silence for whatever lies beyond the data. As
// integers the held 8- or 16-bit samples; as floats (in 16-bit units) the exact values where there
// are any.
void readColumnFrame(const ColumnFrameSource& source, long x, int channel,
                     std::span<std::int16_t> frame, long frameOffset = 0);
void readColumnFrame(const ColumnFrameSource& source, long x, int channel, std::span<float> frame,
                     long frameOffset = 0);

// The samples of a segment too long to hold, read from the file around the columns asked for.
class ColumnFrameWindow {
  public:
    ColumnFrameWindow() = default;
    ColumnFrameWindow(const ColumnFrameWindow&) = delete;
    ColumnFrameWindow& operator=(const ColumnFrameWindow&) = delete;
    virtual ~ColumnFrameWindow() = default;
    // A source holding column x's `frames` frames (or the segment to its end), with `column`
    // set to x as counted in it; no samples (silence) when the file cannot be read.
    [[nodiscard]] virtual ColumnFrameSource sourceFor(long x, std::size_t frames, long& column) = 0;
    // Whether the window carries exact values (samples wider than 16 bits).
    [[nodiscard]] virtual bool exact() const = 0;
};

class ColumnLevels {
  public:
    // The FFT engine, the corrections' offsets, row map for `rows` rows, the waveform look-around,
    // the rings and frames; at most `maxColumns` columns. Returns Ok, NoMemory, or
    // Unusable for inputs that give no analysis (no row map, a size the engine does
    // not offer, channels or bits it cannot read). The samples must outlive its use.
    [[nodiscard]] SetupResult setup(const ColumnAnalysisInputs& inputs, int rows, long maxColumns);
    // Ends the run (releaseFft); setup() may follow for a new one.
    void release();

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] long columns() const { return columns_; }
    [[nodiscard]] int rows() const { return pipeline_.rows(); }
    [[nodiscard]] int channels() const { return pipeline_.channels(); }
    [[nodiscard]] int averageCount() const { return pipeline_.averageCount(); }

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
    [[nodiscard]] const RowMap& rowMap() const { return pipeline_.rowMap(); }
    // The samples the engine's window covers (W).
    [[nodiscard]] int windowLength() const { return pipeline_.windowLength(); }

  private:
    struct Envelope {
        int minimum = 0;
        int maximum = 0;
    };

    // The held samples, or the window that reads them; false when the window cannot be had.
    [[nodiscard]] bool takeSamples(const ColumnAnalysisInputs& in);
    // Frame `index` of column x into every channel's frame, the envelope from the first.
    void readFrames(long x, long index);
    // The frames, the pipeline and the ring for column x.
    void computeColumn(long x);

    bool ready_ = false;
    ColumnFrameSource source_;
    std::unique_ptr<ColumnFrameWindow> window_; // reads the samples from the file, if set
    bool exact_ = false;                        // frames as floats: exact values of wider samples
    long columns_ = 0;
    long framesPerColumn_ = 1;
    int lookFirst_ = 0; // waveform look-around: frame indices lookFirst_ .. lookLast_ - 1
    int lookLast_ = 0;
    long nextColumn_ = 0; // the column whose ring history is in place
    ColumnPipeline pipeline_;
    std::vector<Envelope> envelopes_;
    bool analysedAny_ = false;
};

} // namespace korv
