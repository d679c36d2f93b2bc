#pragma once
// Scan File (command 40007): a wave file played through the sound output while its analysis
// is drawn in step with the sound by the scan loop. The file is streamed from disk through
// the output's loop buffer, so its length does not matter.

#include "modes/scan_loop.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace korv {

class MainWindow;
struct AnalysisRun;
struct AppState;
struct AppSettings;

// Registers 40007 with the window.
void installScanFile(MainWindow& window);

// The command; `param`: 0 from the menu (asks for the file), 1 the current or command-line
// file without asking, 2 a point spectrum (only with a plot display installed).
void scanFile(MainWindow& window, int param);

// The spectrum plot displays (bar and line plot) are made by this factory once it is given;
// without one a plot display type is scanned as the Scroll display and a point spectrum is not
// offered.
using ScanPlotDisplayFactory =
    std::function<std::unique_ptr<ScanDisplay>(MainWindow& window, const AppSettings& settings)>;
void setScanPlotDisplayFactory(MainWindow& window, ScanPlotDisplayFactory factory);
// Whether a click on the image may ask for a point spectrum.
[[nodiscard]] bool scanPointSpectrumAvailable(const MainWindow& window);
// The display of a scan for the settings' display type, drawing `channels` of data: the Scroll
// display into the window (and the kept image when there is one) or a plot display; sets the
// average count of `in`. Null when a plot display's memory cannot be had.
[[nodiscard]] std::unique_ptr<ScanDisplay> makeScanDisplay(MainWindow& window, AppSettings& st,
                                                           int channels, ScanLoopInputs& in);

// The view-sized image a Scroll scan of `channels` draws into: with the scroll memory on the
// spectral image kept after the scan, with it off the running picture (ViewState). False, after
// "Not enough memory" and the settings reloaded, without the memory for it.
[[nodiscard]] bool prepareScrollImage(MainWindow& window, int channels);
// Lets go of the images a scan drew into but does not keep.
void releaseScanImages(AppState& state);
// What the readouts of the running picture go by: the scan's format and parameters.
void startScanRun(AppState& state, const RunFormat& format, const RunParameters& params);
// The time axis of the picture a Scroll scan keeps, from the frames its columns analysed: the
// time between columns, and the first column at the centre of its window; `soundStartByte` is
// the byte of the sound's first frame (a file's data offset). Nothing for a plot display or a
// display that drew nothing.
void labelKeptColumns(AnalysisRun& run, const ScanDisplay* display, std::int64_t soundStartByte);
// The frequency axis a Scroll scan keeps at each pane's left edge covers this many character
// widths (its labels start one in).
inline constexpr int kFrequencyAxisChars = 10;

// The data a point spectrum scans: it ends at pointEndByte (the clicked moment's byte plus the
// FFT's window, HeldAnalysis::pointSpectrumByte) and reaches back far enough for averageCount
// spectra in steps of N / 4, clamped to the data.
struct PointSpan {
    std::int64_t startByte = 0;
    std::int64_t bytes = 0;
};
[[nodiscard]] PointSpan pointSpectrumSpan(std::int64_t pointEndByte, std::int64_t dataBytes,
                                          int frameBytes, std::int64_t fftSize, int averageCount);

// What the last scan did, for the readouts and the tests.
struct ScanFileResult {
    std::int64_t fileBytesRead = 0;
    long columnsDrawn = 0;
    bool endReached = false;
    double deviceLagMs = 0.0; // how late the device played at most, against the clock
    std::int64_t stopMs = 0;  // the span Analysis at Stop hands to Analyze File
    std::int64_t endMs = 0;
    double timeScaleMsec = 0.0;      // the real time per column
    std::int64_t pointStartByte = 0; // a point spectrum's span in the data
    std::int64_t pointBytes = 0;
};
[[nodiscard]] ScanFileResult lastScanFile(const MainWindow& window);

} // namespace korv
