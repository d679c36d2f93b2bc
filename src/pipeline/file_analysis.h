#pragma once
// Analyze File without a window, for the command-line tool: a sound file opened and its header
// read once, its run parameters planned once from the settings, and the column loop drawing
// its SpectralImage from that plan, the samples read from the file as the columns go, each
// column's averaged levels handed to the caller as they come (for the logs). The desktop's
// checks and messages, so a file refused here is refused in the same words there.

#include "analysis/analyze_segment.h"
#include "analysis/parameters.h"
#include "audio/held_samples.h"
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

// A sound file opened and its header read, once per job: what its plan is made from.
struct OpenedSoundFile {
    std::optional<UserMessage> failure;
    std::string path;
    WaveFileInfo info;
    [[nodiscard]] RunFormat format() const {
        return {info.sampleRate, info.channels, info.bitsPerSample / 8};
    }
};
// Only sound files with a header are taken: without one the format would be a guess.
// `fileChannel` (1-based; 0 for the settings' channel choice) holds that channel of a file of
// more than two channels alone.
[[nodiscard]] OpenedSoundFile openWholeFile(const std::string& path, int fileChannel = 0);

// The whole file's segment and parameters; `failure` says why there is no run.
struct WholeFilePlan {
    std::optional<UserMessage> failure;
    std::string path;
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
// The opened file's segment and parameters for these settings, without reading it again.
[[nodiscard]] WholeFilePlan planOpenedFile(const OpenedSoundFile& file,
                                           const AppSettings& settings);
// Both at once.
[[nodiscard]] WholeFilePlan planWholeFile(const std::string& path, const AppSettings& settings,
                                          int fileChannel = 0);
// The file's samples as the analysis reads them, a window at a time: the segment, and the
// memory its windows (one per analyser) take at most.
[[nodiscard]] FileSegment fileSegment(const WholeFilePlan& plan);
[[nodiscard]] std::int64_t columnWindowsMemory(const WholeFilePlan& plan);

// The picture's layout: one band of plotHeight rows per channel (the waveform strip on top),
// at least minWidth columns wide.
struct ImageLayout {
    int plotHeight = 0;
    int stripHeight = 0;
    int minWidth = 0;
};

struct WholeFileAnalysis {
    std::optional<UserMessage> failure;
    std::optional<SpectralImage> image;
};

// Called after each column with the loop, whose averagedBins(channel) are the column's.
using ColumnSink = std::function<void(long x, const ParallelColumnLoop& loop)>;

// The memory a run of the planned file takes: its picture and the sample windows.
[[nodiscard]] std::int64_t wholeFileMemory(const WholeFilePlan& plan, const ImageLayout& layout);

// The planned file's analysis with the settings it was planned with (the header is not read
// again). The image and the sample windows must fit memoryBytes (the share of the machine's
// memory this run may take); "Not enough memory" otherwise, said before anything is read. The
// samples are read from the file as the columns go, so a file of any length takes the same.
// With `useWorker` the columns are shared with a second core (the same picture and levels).
[[nodiscard]] WholeFileAnalysis
analyseWholeFile(const WholeFilePlan& plan, const AppSettings& settings, const ImageLayout& layout,
                 std::int64_t memoryBytes, const ColumnSink& sink = {}, bool useWorker = false);

} // namespace korv
