#pragma once
// The state the main window holds for the program, in owned pieces: the settings, the run
// control, the view, the held analysis with its Restore copy and the data logs. The window owns
// it (MainWindow::state) and hands the modes the pieces they need; only the GUI thread touches
// it.

#include "app/held_analysis.h"
#include "app/run_control.h"
#include "app/view_state.h"
#include "output/data_log.h"
#include "output/image_files.h"
#include "output/log_file.h"
#include "settings/app_settings.h"
#include "settings/preferences.h"

#include <functional>
#include <memory>
#include <optional>

namespace korv {

// The data logs while the window is open.
struct DataLogState {
    // The spectral image log: open from its header to the end of the analysis that writes it.
    std::unique_ptr<LogFile> imageLog;
    LogSource imageLogSource; // what the log's header says of the source
    // Point-log mode: a left click on the image (view coordinates) only logs the point.
    std::function<void(int x, int y)> pointLogClick;
    bool logDataAvailable = false; // a plot display has data to log
};

// The window's whole state, piece by piece; each mode and helper takes the pieces it needs.
struct AppState {
    AppSettings settings;
    // What korv.ini has no room for (korvanthile.conf beside it), and that file as read at
    // the start: it is written at the close only when something changed.
    Preferences preferences;
    Preferences preferencesAsRead;
    ImageChoices imageChoices; // the format and JPEG quality of saved images
    RunControl control;
    ViewState view;
    HeldData held;
    HeldAnalysis analysis;
    std::optional<RestoreCopy> restore; // kept by Parameters Change until Restore or a new run
    DataLogState logs;
};

// The data is stereo shown as two panes side by side.
[[nodiscard]] bool dualStereoView(const AppSettings& settings);
// Where the held segment begins in the file: its first whole sample frame, in msec.
[[nodiscard]] double segmentOffsetMsec(const AnalysisRun& run);
// The columns of the spectral image that hold the analysis (the picture is at least as wide
// as the screen); 0 without an image.
[[nodiscard]] int analysedColumns(const AppState& state);

} // namespace korv
