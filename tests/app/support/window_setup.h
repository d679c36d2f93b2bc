#pragma once
// The real main window as the program tests open it: every mode installed, shown offscreen,
// started, and the Variables menu on Freeze so that no parameter dialog is asked.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "platform/clock.h"
#include "shell/modes.h"
#include "temp_dir.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QSize>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace korv::test {

// `beforeStart` registers what the test stands in for (a command it counts, say).
inline std::unique_ptr<MainWindow>
openWindow(const MainWindowOptions& options, const QStringList& arguments = {},
           const std::function<void(MainWindow&)>& beforeStart = {}, QSize size = {900, 700}) {
    auto window = std::make_unique<MainWindow>(options);
    installModes(*window);
    if (beforeStart) {
        beforeStart(*window);
    }
    window->resize(size);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->startUp(arguments);
    window->state().settings.variables = Variables::Freeze;
    return window;
}

// A command of the tests' own, run from inside a running loop's message pump.
inline constexpr int kPumpProbeCommand = 99002;

// A command that posts itself again at each pump of the running loop; `step` is given the
// round and says whether to go on.
inline void everyPump(MainWindow& window, std::function<bool(int)> step) {
    auto round = std::make_shared<int>(0);
    window.registerCommand(kPumpProbeCommand, [&window, round, step = std::move(step)](int) {
        if (step(++*round)) {
            window.commands().post(kPumpProbeCommand, 0);
        }
    });
    window.commands().post(kPumpProbeCommand, 0);
}

// Runs each probe from inside the running loop, at the given round of its message pump.
inline void probeAt(MainWindow& window, std::map<int, std::function<void()>> probes) {
    const int last = probes.rbegin()->first;
    everyPump(window, [probes = std::move(probes), last](int round) {
        if (const auto it = probes.find(round); it != probes.end()) {
            it->second();
        }
        return round < last;
    });
}

// A window on the virtual clock (each read moves it on a msec), its settings file in `dir`;
// the caller adds its sound devices.
inline MainWindowOptions virtualClockOptions(const TempDir& dir, VirtualClock& clock) {
    clock.setAdvanceOnRead(1);
    MainWindowOptions o;
    o.settingsFile = dir.file(QStringLiteral("korv.ini")).toStdString();
    o.clock = &clock;
    return o;
}

// The window drawn again from what it keeps.
inline void repaint(MainWindow& window) {
    window.surface().invalidate();
    window.surface().updateNow();
}

// A mouse event sent straight to the drawing area, as it comes during a run's own loop.
inline void sendMouse(MainWindow& window, QEvent::Type type, QPoint at,
                      Qt::MouseButton button = Qt::NoButton) {
    QMouseEvent e(type, QPointF(at), QPointF(at), button, button, {});
    QCoreApplication::sendEvent(window.drawingArea(), &e);
}

// The scans' common ground: a Scroll display of 0 to rate / 2 on the linear scale, 1024
// points, 10 msec a column, no averaging, no pitch detector, the scroll memory on.
inline void scanSettings(AppSettings& st, int rate) {
    st.displayType = DisplayType::Scroll;
    st.frequencyScale = FrequencyScale::Linear;
    st.log2FftSize = 10;
    st.resolutionFactor = 10;
    st.lowBandHz = 0;
    st.highBandHz = rate / 2;
    st.timeScaleMsecSaved = 10.0f;
    st.averageCountScroll = 1;
    st.pitchDetector = false;
    st.scrollMemory = true;
}

// The spectral row of the kept image's column x, in the band starting at bandTop, with the
// highest palette index.
inline int loudestRow(const AppState& s, int x, int bandTop = 0) {
    const int rows = s.view.layout.plotHeight - s.view.layout.topBand;
    int best = 0;
    int bestIndex = -1;
    for (int r = 0; r < rows; ++r) {
        const int index =
            *s.held.spectralImage->surface().pixel(x, bandTop + s.view.layout.plotHeight - 1 - r);
        if (index > bestIndex) {
            bestIndex = index;
            best = r;
        }
    }
    return best;
}

} // namespace korv::test
