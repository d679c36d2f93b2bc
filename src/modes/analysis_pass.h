#pragma once
// The analysis pass shared by Analyze File and Parameters Change: the image of the run, the
// column loop drawing it with the window kept alive, and the end of the command.

#include "analysis/parameters.h"
#include "base/check_result.h"
#include "pipeline/file_analysis.h"

#include <optional>

namespace korv {

class MainWindow;
struct AnalysisRun;
struct AppState;
struct AppSettings;

void showChecks(const CheckResult& check);
// The automatic parameters of a command-line start: the band in force and the command line's
// time span fitted to a view of width x height pixels.
[[nodiscard]] AutomaticParameters
commandLineParameters(const AppState& state, std::int32_t sampleRate, int width, int height);
// The FFT-size command (40040 + k) for the stored choice.
void sendFftSize(MainWindow& window, const AppSettings& settings);
// Lets go of the image and samples, and of those kept for Parameters Restore.
void letGoOfHeldData(AppState& state);
// Lets go of the image, the samples and the run they came from, and puts the window, menu,
// buttons and title in the state of no data, so a cancelled or refused command leaves
// nothing that plays, measures or names data no longer held.
void releaseHeldAnalysis(MainWindow& window);
// Whether the image of `run` (laid out for the window now) and its samples fit the memory
// available, asked before anything is read; without, "Not enough display memory" is shown
// and the stored settings come back, as when the image itself cannot be had.
[[nodiscard]] bool analysisFitsMemory(MainWindow& window, const AnalysisRun& run);
// Back to the stored state after a start failed for lack of memory.
void reloadAfterMemoryFailure(MainWindow& window);
// The active palette from the table settings.palette names, realised on the display.
void rebuildPalette(AppState& state);
// Hop and columns for the held segment; false with the message shown when they make no run.
[[nodiscard]] bool deriveColumns(AnalysisRun& run, const AppSettings& settings);
// The column analysis's inputs for the segment the state holds: its held bytes, or windows on
// its file opened in `windows` (which must outlive the inputs' use); the message when the
// file cannot be read.
[[nodiscard]] std::optional<UserMessage>
heldSegmentInputs(const AppState& state, FileFrameWindows& windows, ColumnAnalysisInputs& inputs);
// Holds the run's segment as the state's samples, or, longer than the state's limit, names it
// for reading from its file; false with the message shown when neither can be had.
[[nodiscard]] bool holdSegment(MainWindow& window, const AnalysisRun& run);
// The image, the column loop over the segment the state holds and the end of the command.
void runAnalysisPass(MainWindow& window);

} // namespace korv
