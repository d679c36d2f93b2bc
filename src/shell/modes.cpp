#include "shell/modes.h"

#include "app/button_keys.h"
#include "app/colour_commands.h"
#include "app/desktop_files.h"
#include "app/frequency_zoom.h"
#include "app/main_window.h"
#include "app/overview_strip.h"
#include "app/progress_panel.h"
#include "app/time_expansion.h"
#include "app/view_navigation.h"
#include "modes/analyze_file.h"
#include "modes/batch.h"
#include "modes/calibrate_input.h"
#include "modes/data_logs.h"
#include "modes/play.h"
#include "modes/playback_view.h"
#include "modes/plot_display.h"
#include "modes/print_window.h"
#include "modes/save_image.h"
#include "modes/scan_file.h"
#include "modes/scan_input.h"
#include "modes/sound_level.h"
#include "shell/spectral_view.h"

namespace korv {

void installModes(MainWindow& window) {
    installAnalyzeFile(window);
    auto showTimeNow = installSpectralView(window);
    installPlay(window);
    installScanFile(window);
    installScanInput(window);
    installPlotDisplay(window);
    installColourCommands(window);
    installCalibrateInput(window);
    installDataLogs(window);
    installSaveImage(window);
    installBatch(window);
    installPrintWindow(window);
    installViewNavigation(window);
    installTimeExpansion(window);
    installProgressPanel(window);
    installDesktopFiles(window);
    installButtonKeys(window);
    installSoundLevel(window);
    installOverviewStrip(window);
    installFrequencyZoom(window);
    if (MainWindowPlaybackView* play = windowPlaybackView(window)) {
        play->setTimeReadout(std::move(showTimeNow));
    }
}

} // namespace korv
