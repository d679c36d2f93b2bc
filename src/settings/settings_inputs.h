#pragma once
// What the settings record means to each part of the core: the inputs the analysis, the scans,
// the spectrum plot and the exported pictures take, and the fields the automatic parameters
// and Analyze File's scale set. The parts below take these plain inputs, never the record.

#include "analysis/column_levels.h"
#include "analysis/level_corrections.h"
#include "analysis/parameters.h"
#include "analysis/scan_inputs.h"
#include "audio/sound_file.h"
#include "display/spectrum_plot.h"
#include "output/export_picture.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <optional>
#include <span>

namespace korv {

[[nodiscard]] AnalysisInputs analysisInputsFrom(const AppSettings& settings);

// The fields of the settings record the column loop reads, with the run's samples and
// parameters.

// What every analyser of a run adds to its levels: the calibration curve and the gain.
[[nodiscard]] LevelCorrections levelCorrectionsOf(const AppSettings& settings);
[[nodiscard]] ColumnAnalysisInputs columnAnalysisInputsFrom(const AppSettings& settings,
                                                            const RunFormat& format,
                                                            const RunParameters& run,
                                                            std::span<const std::uint8_t> samples,
                                                            std::span<const float> precise = {});

// The inputs of a scan from the settings in force and the run's derived values; the level code
// is read live from the settings while the scan runs.
[[nodiscard]] ScanLoopInputs scanLoopInputs(const AppSettings& settings, std::int32_t sampleRate,
                                            int channels, const RunParameters& params);

// Writes highBandHz (even when the check fails, as the warning says), and when the check
// proceeds the time scales, the FFT size and freqResolutionHz.
void applyAutomaticParameters(const AutomaticParameters& result, AppSettings& settings);

// Analyze File draws rows on the Linear and Log scales only. Oct/3 (the scans' scale) becomes
// Linear with 1024 points, as the dialog does when it opens; every start
// without the dialog does the same.
void useAnalyzeFileScale(AppSettings& settings);

// What the plot reads from the settings.
[[nodiscard]] ScopeOptions scopeOptions(const AppSettings& settings, const ScopeAxis& axis,
                                        bool grid);

// The band the view shows for the data type and channel choice of the settings.
[[nodiscard]] ViewBand viewBandOf(const AppSettings& settings);

} // namespace korv
