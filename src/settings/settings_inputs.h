#pragma once
// What the settings record means to each part of the core: the fields the analysis, the
// scans, the spectrum plot and the exported pictures read, and the fields the automatic
// parameters, Analyze File's scale and the command-line tool set. The record's choices are
// dialog-button ids; this is the one place they become the core's enums and numbers and back,
// so the parts below (and the tool) take plain inputs and never see an id.

#include "analysis/column_levels.h"
#include "analysis/level_corrections.h"
#include "analysis/parameters.h"
#include "analysis/scan_inputs.h"
#include "audio/sound_file.h"
#include "display/palette.h"
#include "display/spectrum_plot.h"
#include "output/export_picture.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <optional>
#include <span>

namespace korv {

// The record's frequency scale button id (FREQ_SCALE_LINEAR ...) as the core's scale; an
// unknown id is Linear.
[[nodiscard]] FrequencyScale frequencyScaleOf(std::int32_t freqScaleChoice);
[[nodiscard]] FrequencyScale frequencyScaleOf(const AppSettings& settings);
void setFrequencyScale(AppSettings& settings, FrequencyScale scale);

// The record's colour range button id (DB_SCALE_30 ...); another id (a hand-edited file) is
// the 60 dB range.
[[nodiscard]] DbRange dbRangeOf(std::int32_t dbScaleChoice);
[[nodiscard]] DbRange dbRangeOf(const AppSettings& settings);
void setDbRange(AppSettings& settings, DbRange range);

// The record's FFT size button id: 512 << (id - FFT_SIZE_CHOICE_FIRST) points, an id outside
// the buttons clamped into them; and back, from a log2 size kept to the offered ones.
[[nodiscard]] int log2FftSizeFromChoice(std::int32_t fftSizeChoice);
[[nodiscard]] int fftSizeFromChoice(std::int32_t fftSizeChoice);
[[nodiscard]] std::int32_t fftSizeChoiceFor(int log2Size);
[[nodiscard]] int fftSizeOf(const AppSettings& settings); // points
void setLog2FftSize(AppSettings& settings, int log2Size);

// The record's palette id; an unknown id (a hand-edited file) names none.
[[nodiscard]] std::optional<PaletteName> paletteNameOf(std::int32_t paletteChoice);
[[nodiscard]] std::optional<PaletteName> paletteNameOf(const AppSettings& settings);
void setPaletteName(AppSettings& settings, PaletteName name);
// Copies the named table into active; an unknown id leaves active untouched (returns false).
bool fillActivePalette(std::int32_t paletteChoice, const LevelPalette& userPalette,
                       LevelPalette& active);
bool fillActivePalette(const AppSettings& settings, LevelPalette& active);

// The channel choice of stereo data; an unknown id shows the left channel, as Left does.
[[nodiscard]] StereoChannel stereoChannelOf(const AppSettings& settings);
void setStereoChannel(AppSettings& settings, StereoChannel channel);
// The data type: stereo or mono.
[[nodiscard]] bool stereoOf(const AppSettings& settings);
void setStereo(AppSettings& settings, bool stereo);

[[nodiscard]] AnalysisInputs analysisInputsFrom(const AppSettings& settings);

// The fields of the settings record the loop reads, with the run's samples and parameters.
// Max Over Step lives in the settings file's spare word beside the file channels (tagged, so the
// 300 of older files, or any other value, reads as off); turning it off on an untagged word
// leaves the word as it was.
[[nodiscard]] bool maxOverStep(const AppSettings& settings);
void setMaxOverStep(AppSettings& settings, bool on);

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
