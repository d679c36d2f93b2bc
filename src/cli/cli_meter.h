#pragma once
// The meter command: each file's channel streamed through the sound level meter, one row per
// interval in NAME.meter.csv, and with --summary one row of whole-file levels per file; the
// full-scale level from --full-scale or a calibrator's recording, for levels and bands too.

#include "cli/cli_jobs.h"
#include "cli/cli_options.h"
#include "meter/sound_level_meter.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korv::cli {

// What one file of the meter takes at most: its blocks of samples and the meter's state.
inline constexpr std::int64_t kMeterFileMemoryBytes = std::int64_t{32} << 20;

// The channel measured: --channel's number (left 1, right 2), the first by default.
[[nodiscard]] int meterChannel(const Options& options);

// The full-scale level the options give: --full-scale, or the calibrator's recording measured
// on the channel measured. Nothing without either; a refused recording's text in `error`
// ("cal.wav: not a steady tone ...").
[[nodiscard]] std::optional<meter::FullScaleLevel> fullScaleOf(const Options& options,
                                                               std::string& error);

// The unit of levels --csv and bands on the calibrated scale: "dBFS", or "dB" (SPL) once a
// full-scale level is known; nothing for the display's scale (no --unit, no full-scale level).
[[nodiscard]] std::optional<std::string> calibratedUnit(const Options& options,
                                                        const RunSettings& run);

// The microphone's correction (--calibration) as the meter takes it; empty without one.
[[nodiscard]] std::vector<meter::CorrectionPoint> meterCorrection(const Options& options,
                                                                  const RunSettings& run);

// One file's table, written whole; the failure's text when it is not. The whole file's levels
// in `summary` when given.
struct MeterFileSummary {
    meter::MeterSummary levels;
    double sampleRate = 0.0;
};
// The share's progress is told how far through the file's frames the meter is; with two
// cores the bands are filtered beside the broadband levels.
[[nodiscard]] std::optional<std::string>
writeMeterTable(const Options& options, const RunSettings& run, const std::string& file,
                MeterFileSummary* summary = nullptr, const JobShare& share = {});

// --summary that would replace one of the files or outputs of the list: the refusal's text.
[[nodiscard]] std::string summaryRefusal(const Options& options,
                                         const std::vector<std::string>& files);

// The hold of a --summary path for the whole run: an flock on FILE.lock beside the summary's
// real path, so a second run given the same summary under any name is refused rather than
// racing the first. The lock file is removed as the run ends; one left by a killed run holds
// nothing (the lock ends with its process) and is taken over.
class SummaryLock {
  public:
    SummaryLock() = default;
    SummaryLock(const SummaryLock&) = delete;
    SummaryLock& operator=(const SummaryLock&) = delete;
    ~SummaryLock();
    // The refusal's text ("--summary s.csv is being written by another run ..."), or empty
    // once held; empty too without a summary.
    [[nodiscard]] std::string take(const std::string& summaryFile);

  private:
    int fd_ = -1;
    std::string path_;
};

// The meter over the list, as runJobs runs the other commands; then the summary, in the
// order of the list, written whole (a failure to write it counts as a failed file).
[[nodiscard]] JobsReport runMeter(const Options& options, const RunSettings& run,
                                  const std::vector<std::string>& files, std::ostream* progress,
                                  std::ostream& errors);

} // namespace korv::cli
