#include "app/view_navigation.h"

#include "analysis/time_entry.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "dialogs/go_to_time_dialog.h"
#include "platform/prompts.h"

#include <QScrollBar>

#include <algorithm>
#include <string>

namespace korv {

namespace {

inline const UserMessage kImproperTime{
    "Improper Time: Type Seconds (90.5) or Hours, Minutes and Seconds (1:02:03.5)",
    MessageIcon::Warning};

UserMessage timeOutside(double firstMsec, double endMsec) {
    return {"Time Not in the Analysed Stretch (" + timeEntryText(firstMsec) + " to " +
                timeEntryText(endMsec) + ")",
            MessageIcon::Warning};
}

void scrollByScreen(MainWindow& window, int direction) {
    if (!window.imageScrollFree()) {
        return;
    }
    const AppState& s = window.state();
    const long screen = visibleImageColumns(s.view.layout.plotWidth, dualStereoView(s.settings));
    scrollViewTo(window, s.view.scroll.h.pos + direction * screen);
}

// The typed time to the view's left edge (as far as the image's end allows); a text that is no
// time, or a time outside the analysed stretch, brings the dialog back after its message.
void goToTime(MainWindow& window) {
    if (!window.imageScrollFree()) {
        return;
    }
    const AppState& s = window.state();
    const AnalysisRun& run = s.analysis.run;
    const ViewGeometry g = currentViewGeometry(s);
    const double firstMsec = g.segmentOffsetMsec;
    const double endMsec =
        firstMsec + (run.bytesPerFrame() > 0 && run.format.sampleRate > 0
                         ? static_cast<double>(run.segmentBytes / run.bytesPerFrame()) * 1000.0 /
                               run.format.sampleRate
                         : 0.0);
    std::string text = timeEntryText(g.columnTimeMsec(s.view.scroll.h.pos));
    while (runGoToTimeDialog(prompts(), text)) {
        const auto msec = parseTimeEntry(text);
        if (!msec) {
            prompts().show(kImproperTime);
        } else if (*msec < firstMsec || *msec > endMsec) {
            prompts().show(timeOutside(firstMsec, endMsec));
        } else {
            scrollViewTo(
                window, columnAtTime(*msec, g.segmentOffsetMsec, g.columnMsec, g.windowCentreMsec));
            return;
        }
    }
}

} // namespace

void scrollViewTo(MainWindow& window, long column) {
    AppState& s = window.state();
    s.view.scroll.h.pos = static_cast<int>(std::clamp<long>(column, 0, s.view.scroll.h.max));
    window.horizontalBar()->setValue(s.view.scroll.h.pos);
    window.redrawView(true);
}

void installViewNavigation(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kGoToTime, [w](int) { goToTime(*w); });
    window.registerCommand(cmd::kScreenBack, [w](int) { scrollByScreen(*w, -1); });
    window.registerCommand(cmd::kScreenForward, [w](int) { scrollByScreen(*w, 1); });
}

} // namespace korv
