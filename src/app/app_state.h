#pragma once
// The state the main window holds for the program: one settings record, one of each image and
// store, the flags the menu states and the modes share. The window owns it (MainWindow::state)
// and hands it to the modes; only the GUI thread touches it.

#include "analysis/parameters.h"
#include "app/run_control.h"
#include "app/view_state.h"
#include "audio/held_samples.h"
#include "audio/sample_store.h"
#include "audio/wave_parser.h"
#include "display/indexed_surface.h"
#include "display/palette.h"
#include "display/plot_layout.h"
#include "display/spectral_image.h"
#include "output/data_log.h"
#include "output/image_files.h"
#include "output/log_file.h"
#include "platform/allocations.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace korv {

// What the last analysis ran on: enough to run it again, play it or re-analyse a part of it.
struct AnalysisRun {
    std::string file;
    WaveFileInfo info;
    RunFormat format;
    std::int64_t beginMsec = 0;
    std::int64_t endMsec = 0;
    std::int64_t segmentStartByte = 0; // file offset of the held segment, data offset included
    std::int64_t segmentBytes = 0;     // the bytes analysed (fewer than held after a STOP)
    RunParameters params;
    int stripHeight = 0;
    int plotHeight = 0;
    bool commandLine = false;
    bool cutShort = false; // STOP ended the pass before its last column
    [[nodiscard]] int bytesPerFrame() const { return format.channels * format.bytesPerSample; }
    [[nodiscard]] WaveFormat waveFormat() const {
        return {static_cast<std::uint16_t>(format.channels), format.sampleRate,
                static_cast<std::uint16_t>(format.bytesPerSample * 8)};
    }
};

// A stretch dragged out on the image: bytes inside the held segment.
struct Selection {
    std::int64_t beginByte = 0;
    std::int64_t endByte = 0;
};

struct AppState {
    AppSettings settings;
    RunControl control;
    ViewState view;

    // What the menu offers.
    bool restorePossible = false;
    bool logDataAvailable = false;     // a plot display has data to log
    ImageChoices imageChoices;         // the format and JPEG quality of saved images
    bool scanRestoreAvailable = false; // Scan File left a point spectrum to restore from

    // The FFT size of the next pass.
    int fftSizeExponent = 10;
    bool fftAbove512 = true;

    // The held data: its rate (0 when none), the image and the samples.
    std::int32_t sampleRateHz = 0;
    CountedBlock<SpectralImage> spectralImage;
    std::optional<SampleStore> samples;
    // A segment longer than holdLimitBytes is not held: the analysis, PLAY and Save Wave read
    // it from its file as they go, and `samples` stays empty.
    std::optional<FileSegment> fileSegment;
    std::int64_t holdLimitBytes = HELD_SEGMENT_LIMIT_BYTES;
    // Whether there are samples behind the picture, held or read from the file.
    [[nodiscard]] bool segmentHeld() const { return samples || fileSegment; }

    AnalysisRun run;
    std::optional<Selection> selection;
    // A click on the image: where the point spectrum of Scan File starts in the file.
    std::int64_t pointSpectrumByte = 0;
    // Analysis at Stop: the last part of the scanned file, for Analyze File.
    std::int64_t scanStopBeginMsec = 0;
    std::int64_t scanStopEndMsec = 0;
    // Parameters Restore: the image, samples and values before the last Parameters Change.
    bool previousKept = false;
    CountedBlock<SpectralImage> previousImage;
    std::optional<SampleStore> previousSamples;
    std::optional<FileSegment> previousFileSegment;
    AnalysisRun previousRun;
    AppSettings previousSettings;
    HScrollState previousHScroll;
    int previousVScrollRowPos = 0;
    int previousVScrollRowMax = 0;
    int previousFftSizeExponent = 10;

    // The spectral image log: open from its header to the end of the analysis that writes it.
    std::unique_ptr<LogFile> imageLog;
    LogSource imageLogSource;
    // Point-log mode: a left click on the image (view coordinates) only logs the point.
    std::function<void(int x, int y)> pointLogClick;
};

// The data is stereo shown as two panes side by side.
[[nodiscard]] bool dualStereoView(const AppSettings& settings);
// Where the held segment begins in the file: its first whole sample frame, in msec.
[[nodiscard]] double segmentOffsetMsec(const AnalysisRun& run);
// The columns of the spectral image that hold the analysis (the picture is at least as wide
// as the screen); 0 without an image.
[[nodiscard]] int analysedColumns(const AppState& state);

} // namespace korv
