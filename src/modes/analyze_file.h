#pragma once
// Analyze File (command 40020): a stretch of a wave file read into memory and drawn, column by
// column, as a spectral image the window then shows, scrolls and plays. Parameters Change and
// Restore (40005, 40023) analyse the held file again with other values, or go back.

namespace korv {

class MainWindow;
struct AppState;
struct AppSettings;

// Registers 40020, 40005 and 40023 with the window.
void installAnalyzeFile(MainWindow& window);

// The command itself; `param` says who started it (menu, command line, Scan File's stop,
// a resize).
void analyzeFile(MainWindow& window, int param);
void parametersChange(MainWindow& window, int param);
void parametersRestore(MainWindow& window);

// Puts the image, samples and values aside for Parameters Restore; true when done now, false
// when an earlier Change (or point spectrum) already keeps them.
[[nodiscard]] bool keepStateForRestore(AppState& state);

// The values an analysis may alter and Restore copies back; the user's other choices
// (pointer, Variables menu, folders, palettes, calibration) stay as they are.
void copyAnalysisValues(const AppSettings& from, AppSettings& to);

} // namespace korv
