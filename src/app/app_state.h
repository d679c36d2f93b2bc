#pragma once
// The process-wide state of the program: one settings record, one of each image and store,
// the flags the menu states and the modes share. Only the GUI thread touches it.

#include "audio/sample_store.h"
#include "display/indexed_surface.h"
#include "display/palette.h"
#include "display/plot_layout.h"
#include "platform/allocations.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korv {

struct AppState {
    AppSettings settings;
    LevelPalette activePalette = kCbPalette;

    // The main window's flags.
    bool created = false;
    bool modeRunning = false;
    bool idleForKeys = false;
    bool stopRequested = true;

    // The command line.
    bool fileFromCommandLine = false;
    bool autoRun = false;
    int timeSpanSeconds = 0;
    std::string fileNameBuffer;

    // What the menu offers.
    bool restorePossible = false;
    bool logDataAvailable = false;     // a plot display has data to log
    bool scanRestoreAvailable = false; // Scan File left a point spectrum to restore from

    // Layout and scrolling.
    PlotLayout layout;
    HScrollState hScroll;
    int vScrollRowPos = 0;
    int vScrollRowMax = 0;
    bool layoutPending = false;
    bool modeHoldsSurfaces = false; // a mode draws straight into the window's surfaces
    bool analysisDrawing = false;   // an Analyze File pass is drawing its columns
    int drawingColumn = 0;
    bool playbackActive = false;
    bool scanDrawing = false; // a scan mode is drawing into the window
    bool inputOpen = false;   // the sound input is open
    bool savingSamples = false;
    bool axesShown = false;
    bool gridOn = false;
    bool dragFillDone = false; // the image was cleared once during a frame drag

    // The FFT size of the next pass.
    int fftSizeExponent = 10;
    bool fftAbove512 = true;

    // The held data: its rate (0 when none), the image and the samples.
    std::int32_t sampleRateHz = 0;
    CountedBlock<IndexedSurface> spectralImage;
    CountedBlock<IndexedSurface> plotImage;
    std::optional<SampleStore> samples;

    // Drawing objects made once at creation.
    IndexedSurface pointerMarkA;
    IndexedSurface pointerMarkB;
    IndexedSurface positionStrip;
};

[[nodiscard]] AppState& appState();

// The data is stereo shown as two panes side by side.
[[nodiscard]] bool dualStereoView(const AppSettings& settings);

} // namespace korv
