#pragma once
// Analyze File without a window, for the window and the command-line tool alike: a wave file
// read whole, its run parameters from the settings, and the column loop drawing its
// SpectralImage on the caller's thread, each column's averaged levels handed to the caller as
// they come (for the logs). The desktop's checks and messages, so a file refused here is
// refused in the same words there.

#include "analysis/analyze_segment.h"
#include "analysis/parameters.h"
#include "audio/sample_store.h"
#include "audio/wave_parser.h"
#include "base/user_message.h"
#include "display/spectral_image.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace korv {

class ParallelColumnLoop;

// An empty saved time scale runs at 10 msec per column.
inline constexpr float kDefaultTimeScaleMsec = 10.0f;
inline const UserMessage kNotEnoughDisplayMemory{"Not enough display memory", MessageIcon::Warning};
// Parameters that passed the checks but give the analysis nothing to draw.
inline const UserMessage kAnalysisNotPossible{std::string(MSG_IMPROPER_ENTRY), MessageIcon::Stop};

// The settings of a run of the whole file as Analyze File takes them without its dialog: the
// saved time scale (or the default), and the Linear or Log scale only.
[[nodiscard]] AppSettings wholeFileSettings(AppSettings settings);

// The length of a file's sample data in msec: where a segment of the whole file ends.
[[nodiscard]] std::int64_t waveDataMsec(const WaveFileInfo& info);
// Analyze File's segment inputs: begin .. end msec of the file's data read as `format`.
[[nodiscard]] SegmentRangeInputs segmentRangeInputs(const WaveFileInfo& info,
                                                    const RunFormat& format, int fftSize,
                                                    std::int64_t beginMsec, std::int64_t endMsec);
// Hop and columns of a segment of segmentBytes, and Analyze File's checks of them.
struct ColumnPlan {
    RunParameters params;
    CheckResult check;
};
[[nodiscard]] ColumnPlan planColumns(const AppSettings& settings, const RunFormat& format,
                                     std::int64_t segmentBytes);

// The whole file's segment and parameters; `failure` says why there is no run.
struct WholeFilePlan {
    std::optional<UserMessage> failure;
    WaveFileInfo info;
    RunFormat format;
    std::int64_t segmentStartByte = 0; // data offset included
    std::int64_t segmentBytes = 0;
    RunParameters params;
    [[nodiscard]] WaveFormat waveFormat() const {
        return {static_cast<std::uint16_t>(format.channels), format.sampleRate,
                static_cast<std::uint16_t>(format.bytesPerSample * 8)};
    }
};
// Only sound files with a header are taken: without one the format would be a guess.
// `fileChannel` (1-based; 0 for the settings' channel choice) holds that channel of a file of
// more than two channels alone.
[[nodiscard]] WholeFilePlan planWholeFile(const std::string& path, const AppSettings& settings,
                                          int fileChannel = 0);
// The bytes a planned file's samples take in memory: the 16-bit samples, and their exact
// values for files wider than 16 bits.
[[nodiscard]] std::int64_t heldSampleBytes(const WholeFilePlan& plan);

// The picture's layout: one band of plotHeight rows per channel (the waveform strip on top),
// at least minWidth columns wide.
struct ImageLayout {
    int plotHeight = 0;
    int stripHeight = 0;
    int minWidth = 0;
};

struct WholeFileAnalysis {
    std::optional<UserMessage> failure;
    WholeFilePlan plan;
    std::optional<SpectralImage> image;
};

// Called after each column with the loop, whose averagedBins(channel) are the column's.
using ColumnSink = std::function<void(long x, const ParallelColumnLoop& loop)>;

// The image and the samples of the whole file must fit memoryBytes (the share of the
// machine's memory this run may take); "Not enough display memory" otherwise, asked before
// anything is read. Single-threaded.
[[nodiscard]] WholeFileAnalysis
analyseWholeFile(const std::string& path, const AppSettings& settings, const ImageLayout& layout,
                 std::int64_t memoryBytes, const ColumnSink& sink = {}, int fileChannel = 0);

// The samples of a planned file (the header's format), or the reader's message.
struct WholeFileSamples {
    std::optional<UserMessage> failure;
    // The tool has no program-wide count of blocks: the store counts itself here, so the
    // counter is declared first and outlives it.
    std::unique_ptr<AllocationCounter> counter = std::make_unique<AllocationCounter>();
    std::optional<SampleStore> store;
};
[[nodiscard]] WholeFileSamples loadWholeFile(const std::string& path, const WholeFilePlan& plan);
// The planned segment of the loaded samples, and their exact values (empty when the 16-bit
// samples are exact), as the analysis takes them.
[[nodiscard]] std::span<const std::uint8_t> heldSamples(const SampleStore& store,
                                                        const WholeFilePlan& plan);
[[nodiscard]] std::span<const float> heldPrecise(const SampleStore& store,
                                                 const WholeFilePlan& plan);

} // namespace korv
