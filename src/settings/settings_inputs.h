#pragma once
// What the settings record means to each part of the core: the fields the analysis, the
// spectrum plot and the exported pictures read, and the fields the automatic parameters and
// Analyze File's scale set. The parts below take plain inputs and never see the record.

#include "analysis/column_levels.h"
#include "analysis/parameters.h"
#include "audio/sound_file.h"
#include "display/spectrum_plot.h"
#include "output/export_picture.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <span>

namespace korv {

// The record's frequency scale button id (FREQ_SCALE_LINEAR ...) as the core's scale; an
// unknown id is Linear.
[[nodiscard]] FrequencyScale frequencyScaleOf(std::int32_t freqScaleChoice);
[[nodiscard]] FrequencyScale frequencyScaleOf(const AppSettings& settings);

// The record's colour range button id (DB_SCALE_30 ...); another id (a hand-edited file) is
// the 60 dB range.
[[nodiscard]] DbRange dbRangeOf(std::int32_t dbScaleChoice);
[[nodiscard]] DbRange dbRangeOf(const AppSettings& settings);

[[nodiscard]] AnalysisInputs analysisInputsFrom(const AppSettings& settings);

// The fields of the settings record the loop reads, with the run's samples and parameters.
// Max Over Step lives in the settings file's spare word beside the file channels (tagged, so the
// 300 of older files, or any other value, reads as off); turning it off on an untagged word
// leaves the word as it was.
[[nodiscard]] bool maxOverStep(const AppSettings& settings);
void setMaxOverStep(AppSettings& settings, bool on);

[[nodiscard]] ColumnAnalysisInputs columnAnalysisInputsFrom(const AppSettings& settings,
                                                            const RunFormat& format,
                                                            const RunParameters& run,
                                                            std::span<const std::uint8_t> samples,
                                                            std::span<const float> precise = {});

// Writes highBandHz (even when the check fails, as the warning says), and when the check
// proceeds the time scales, fftSizeChoice and freqResolutionHz.
void applyAutomaticParameters(const AutomaticParameters& result, AppSettings& settings);

// Analyze File draws rows on the Linear and Log scales only. Oct/3 (the scans' scale) or an
// unknown id becomes Linear with 1024 points, as the dialog does when it opens; every start
// without the dialog does the same.
void useAnalyzeFileScale(AppSettings& settings);

// What the plot reads from the settings.
[[nodiscard]] ScopeOptions scopeOptions(const AppSettings& settings, const ScopeAxis& axis,
                                        bool grid);

// The two channels of a file of more than two that the window holds, 1-based: Left shows the
// first, Right the second, Dual both. They live in the spare word of the settings record
// (tagged, so the 300 of every older file, or any other value, gives channels 1 and 2).
[[nodiscard]] FileChannels fileChannelsOf(const AppSettings& settings);
void setFileChannels(AppSettings& settings, FileChannels channels);

// The band the view shows for the data type and channel choice of the settings.
[[nodiscard]] ViewBand viewBandOf(const AppSettings& settings);

} // namespace korv
