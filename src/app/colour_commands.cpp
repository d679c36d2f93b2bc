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
        paletteDisplay().setLogicalPalette(buildLogicalPalette(window.state().view.activePalette));
        window.surface().invalidate();
    };
    host.requestImageRedraw = [&window] {
        const AppState& s = window.state();
        if (s.held.spectralImage && s.settings.displayTypeChoice == DISPLAY_SCROLL) {
            postCommand(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
        }
    };
    host.scanRunning = [&window] { return window.state().view.scanDrawing; };
    host.analysisComputing = [&window] { return window.state().view.analysisDrawing; };
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
        AppState& s = w->state();
        (void)openColourDialog(s.settings, s.view.activePalette, hostFor(*w), w);
    });
    window.registerCommand(cmd::kFreqCalibration, [w](int) {
        // Every later analysis builds its corrections from the stored curve.
        (void)runCalibrationDialog(prompts(), w->state().settings.calibrationTable);
    });
}

} // namespace korv
