#include "cli/cli_grid.h"

#include "display/picture_draw.h"
#include "display/plot_layout.h"
#include "platform/fonts.h"
#include "settings/settings_inputs.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace korv::cli {

namespace {

std::unique_ptr<QGuiApplication> application;
// The font engine is used by one job at a time.
std::mutex textLock;

} // namespace

bool gridAvailable() {
    return true;
}

void startGridText() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    // Text only: no window is ever shown, so no display is needed.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "korvanthile-cli";
    static char* argv[] = {name, nullptr};
    // Qt's own notes (no runtime folder on a server, say) are not the tool's to report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    application = std::make_unique<QGuiApplication>(argc, argv);
}

void stopGridText() {
    application.reset();
}

void drawEntireScales(IndexedSurface& picture, const WholeFilePlan& plan,
                      const AppSettings& settings, int plotHeight, int stripHeight,
                      const EntireScales& scales) {
    const std::lock_guard lock(textLock);
    // The window's font for a screen of this size, as the desktop picks it.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenHeight = screen != nullptr ? screen->geometry().height() : 768;
    const int dpi = screen != nullptr ? static_cast<int>(screen->logicalDotsPerInchY()) : 96;
    const QFont font = programFont(controlFontHeight(screenHeight, dpi));
    ViewGeometry g;
    g.plotWidth = picture.width();
    g.plotHeight = plotHeight;
    g.stripHeight = stripHeight;
    g.charWidth = averageCharWidth(font);
    g.charHeight = QFontMetrics(font).height();
    g.timeScaleMsec = settings.timeScaleMsec;
    g.columnMsec = plan.params.columnMsec;
    g.windowCentreMsec = plan.params.windowCentreMsec;
    g.recordingMsec = plan.format.bytesMsec(plan.info.dataLength);
    g.lowBandHz = settings.lowBandHz;
    g.highBandHz = settings.highBandHz;
    g.frequencyScale = settings.frequencyScale;
    g.sampleRate = plan.format.sampleRate;
    g.fftSize = plan.params.fftSize;
    if (!scales.legend) {
        // The grid as it always was: crosses and bare numbers.
        drawGridOverlay(picture, g, font, true, AxisLabels::Classic);
        return;
    }
    PictureScales shown;
    shown.crosses = scales.crosses;
    shown.range = levelRangeFor(settings.dbRange);
    // The tool's pictures are on the window's level scale, as its level tables are.
    shown.legend = LegendScale{};
    drawScalesBeside(picture, g, font, shown);
}

} // namespace korv::cli
