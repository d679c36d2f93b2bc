#include "app/colour_commands.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/colour_dialog.h"
#include "platform/commands.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"

#include <QScrollBar>

namespace korv {

namespace {

ColourDialogHost hostFor(MainWindow& window) {
    ColourDialogHost host;
    // The pictures hold palette indices: a new palette and a repaint recolour all of them.
    host.paletteChanged = [&window] {
        paletteDisplay().setLogicalPalette(buildLogicalPalette(appState().activePalette));
        window.surface().invalidate();
    };
    host.requestImageRedraw = [] {
        const AppState& s = appState();
        if (s.spectralImage && s.settings.displayTypeChoice == DISPLAY_SCROLL) {
            postCommand(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
        }
    };
    host.scanRunning = [] { return appState().scanDrawing; };
    host.analysisComputing = [] { return appState().analysisDrawing; };
    host.moveLevelBar = [&window](int position) {
        if (window.isActiveWindow()) {
            return; // the user is at the main window: its bar is theirs
        }
        window.verticalBar()->setSliderPosition(position);
        window.verticalBar()->triggerAction(QScrollBar::SliderMove);
    };
    return host;
}

} // namespace

void installColourCommands(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kSignalScale, [w](int) {
        AppState& s = appState();
        (void)openColourDialog(s.settings, s.activePalette, hostFor(*w), w);
    });
    window.registerCommand(cmd::kFreqCalibration, [](int) {
        // Every later analysis builds its corrections from the stored curve.
        (void)runCalibrationDialog(prompts(), appState().settings.calibrationTable);
    });
}

} // namespace korv
