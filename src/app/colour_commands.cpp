#include "app/colour_commands.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/colour_dialog.h"
#include "platform/commands.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"

#include <QPoint>
#include <QScrollBar>

#include <memory>
#include <optional>

namespace korv {

namespace {

ColourDialogHost hostFor(MainWindow& window) {
    ColourDialogHost host;
    // The pictures hold palette indices: a new palette and a repaint recolour all of them.
    host.paletteChanged = [&window] {
        showActivePalette(window.state().view);
        window.surface().invalidate();
    };
    host.requestImageRedraw = [&window] {
        const AppState& s = window.state();
        if (s.held.spectralImage && s.settings.displayType == DisplayType::Scroll) {
            window.commands().post(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
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
    // Where the user last moved the dialog, for the rest of the run.
    auto where = std::make_shared<std::optional<QPoint>>();
    window.registerCommand(cmd::kSignalScale, [w, where](int) {
        AppState& s = w->state();
        ColourDialogHost host = hostFor(*w);
        host.moved = [where](QPoint to) { *where = to; };
        (void)openColourDialog(s.settings, s.view.activePalette, std::move(host), w, *where);
    });
    window.registerCommand(cmd::kFreqCalibration, [w](int) {
        // Every later analysis builds its corrections from the stored curve.
        (void)runCalibrationDialog(prompts(), w->state().settings.calibrationTable);
    });
}

} // namespace korv
