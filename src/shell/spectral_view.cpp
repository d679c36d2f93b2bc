#include "shell/spectral_view.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/frequency_zoom.h"
#include "app/main_window.h"
#include "display/grid_overlay.h"
#include "display/readouts.h"
#include "display/view_draw.h"
#include "modes/plot_display.h"
#include "modes/scan_file.h"
#include "modes/scan_input.h"
#include "modes/sound_level.h"
#include "output/export_picture.h"
#include "platform/commands.h"
#include "settings/settings_inputs.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

namespace korv {

namespace {

// The measuring rectangle keeps clear of the waveform strip's top.
constexpr int kRectangleTopLimit = 43;
// A drag from the frequency labels is told vertical or not once it has gone this far.
constexpr int kAxisDragDecisionPixels = 4;

// What the mouse is doing on the image.
struct MouseState {
    bool dragging = false;
    int startColumn = 0;
    int endColumn = 0;
    bool holding = false;
    PixelPoint anchor;
    // The measuring rectangle drawn last, while the right button holds.
    std::optional<PixelRect> shownRectangle;
    // The point the right button went down on, for the measure.
    std::optional<ReadoutPoint> measureFrom;
    PixelPoint lastPoint;
    bool inside = false;
    // A left press on the frequency labels, not yet told a vertical drag (the band) from
    // another (the time stretch, as elsewhere).
    bool onAxis = false;
    PixelPoint pressPoint;
    // The band being dragged on the frequency labels: its first and latest view rows.
    bool bandDragging = false;
    int bandStartY = 0;
    int bandEndY = 0;
};

class SpectralView {
  public:
    explicit SpectralView(MainWindow& window) : window_(window) {}

    void paintPanels(WindowSurface& target) {
        const ViewGeometry g = currentViewGeometry(window_.state());
        const QFont font = window_.controlFont();
        shownTexts_ = texts(g, true);
        drawReadouts(target, g, font, *shownTexts_, true);
        drawInfoPanel(target, g, font, currentInfoPanelInputs(window_.state()));
    }

    void paintLabels(WindowSurface& target) {
        const AppState& s = window_.state();
        if (!spectralDisplay(s.settings)) {
            paintScanPlot(window_, target);
            return;
        }
        if (!spectralPicture()) {
            return;
        }
        drawPictureScales(target, currentViewGeometry(s), window_.controlFont(),
                          currentPictureScales(s));
    }

    bool handle(QEvent* event) {
        switch (event->type()) {
        case QEvent::MouseMove:
            return move(static_cast<QMouseEvent*>(event)->position().toPoint());
        case QEvent::Leave:
            leave();
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return press(*static_cast<QMouseEvent*>(event));
        case QEvent::MouseButtonRelease:
            return release(*static_cast<QMouseEvent*>(event));
        default:
            return false;
        }
    }

    // Called at every pass of the play loop: the lines are drawn again only when they say
    // something new.
    void showTimeNow(double elapsedMsec) {
        window_.state().view.timeNowMsec = elapsedMsec;
        updateReadouts(false);
    }

  private:
    [[nodiscard]] ReadoutTexts texts(const ViewGeometry& g, bool wholeBox) const {
        const AppState& s = window_.state();
        ReadoutContext c;
        c.lastMode = s.settings.lastMode;
        c.recording = s.control.inputOpen && s.control.savingSamples;
        c.playing = s.view.playbackActive;
        c.timeNowMsec = s.view.timeNowMsec;
        c.scanning = s.view.scanDrawing;
        c.dbRange = s.settings.dbRange;
        c.cursorOffsetHz = s.settings.cursorOffsetHz;
        c.wholeBox = wholeBox;
        const ReadoutPoint p = pointerPoint(g);
        if (mouse_.holding && mouse_.measureFrom) {
            return measureTexts(g, c, *mouse_.measureFrom, p);
        }
        return readoutTexts(g, c, p);
    }

    // What lies under the pointer: its column, row and the level the image holds there.
    [[nodiscard]] ReadoutPoint pointerPoint(const ViewGeometry& g) const {
        ReadoutPoint p;
        p.inside = mouse_.inside && spectralPicture();
        p.viewX = mouse_.lastPoint.x;
        p.y = mouse_.lastPoint.y;
        p.absoluteColumn =
            static_cast<long>(viewXToColumn(p.viewX, g.plotWidth, g.dualStereo)) + g.hScrollPos;
        if (p.inside) {
            p.paletteIndex = imageIndexUnder(p.viewX, p.y).value_or(kBackgroundIndex);
        }
        return p;
    }

    // The analysed image's own index under a view point, not the window's colour there, which
    // the grid, a measuring outline or another window's overlay may cover; the panes as the
    // window shows them (MainWindow::blitView).
    [[nodiscard]] std::optional<std::uint8_t> imageIndexUnder(int x, int y) const {
        const AppState& s = window_.state();
        const AppSettings& st = s.settings;
        const SpectralImage* shown = s.held.spectralImage        ? &*s.held.spectralImage
                                     : s.view.runningScrollImage ? &*s.view.runningScrollImage
                                                                 : nullptr;
        if (shown == nullptr) {
            return std::nullopt;
        }
        const PlotLayout& l = s.view.layout;
        const bool scrollMem = st.stereo && (st.scrollMemory || !s.held.spectralImage);
        const long pos = s.view.scroll.h.pos;
        return viewImageIndex(*shown, viewBandOf(st), scrollMem ? 0 : pos,
                              scrollMem ? dualRightPaneX(l.plotWidth) : pos, l.plotWidth,
                              l.plotHeight, {x, y});
    }

    void updateReadouts(bool evenIfUnchanged = true) {
        const ViewGeometry g = currentViewGeometry(window_.state());
        ReadoutTexts now = texts(g, false);
        if (!evenIfUnchanged && now == shownTexts_) {
            return;
        }
        shownTexts_ = std::move(now);
        drawReadouts(window_.surface(), g, window_.controlFont(), *shownTexts_, false);
    }

    // A window resized while the left button dragged its frame is analysed again on the
    // first move over it.
    bool repeatAfterResize() {
        AppState& s = window_.state();
        std::error_code missing;
        if (!s.view.dragFillDone || s.control.modeRunning || s.view.analysisDrawing ||
            s.settings.lastFileMode != 0 || s.control.fileNameBuffer.empty() ||
            !std::filesystem::exists(s.control.fileNameBuffer, missing)) {
            return false;
        }
        s.view.dragFillDone = false;
        window_.commands().send(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
        return true;
    }

    // A spectral picture is shown: an analysis, a scan's running one or the last one it left.
    [[nodiscard]] bool spectralPicture() const {
        const AppState& s = window_.state();
        return s.held.spectralImage || s.view.runningScrollImage;
    }

    // Within the drawing area's width: not over the vertical bar beside it, whose clicks come
    // here while it is disabled.
    [[nodiscard]] bool acrossPicture(QPoint at) const {
        return at.x() >= 0 && at.x() < window_.state().view.layout.plotWidth;
    }

    [[nodiscard]] bool displayed() const {
        return spectralPicture() || window_.state().view.plotImage;
    }

    void track(QPoint at) {
        const AppState& s = window_.state();
        mouse_.lastPoint = {at.x(), std::max(0, at.y())};
        mouse_.inside = spectralDisplay(s.settings) && acrossPicture(at) &&
                        s.analysis.run.stripHeight < mouse_.lastPoint.y &&
                        mouse_.lastPoint.y < s.view.layout.plotHeight;
    }

    bool move(QPoint at) {
        if (repeatAfterResize()) {
            return true;
        }
        const AppState& s = window_.state();
        if (s.view.analysisDrawing || !displayed()) {
            return false;
        }
        track(at);
        const ViewGeometry g = currentViewGeometry(window_.state());
        if (mouse_.dragging && mouse_.onAxis) {
            tellAxisDrag();
        }
        if (mouse_.bandDragging) {
            const int end = std::clamp(mouse_.lastPoint.y, g.stripHeight, g.plotHeight - 1);
            invertRows(mouse_.bandEndY, end);
            mouse_.bandEndY = end;
        } else if (mouse_.dragging && !mouse_.onAxis) {
            const int end = viewXToColumn(mouse_.lastPoint.x, g.plotWidth, g.dualStereo);
            invertColumns(mouse_.endColumn, end);
            mouse_.endColumn = end;
        }
        if (mouse_.holding && s.held.spectralImage) {
            // The level under the pointer is read before the outline inverts it.
            updateReadouts();
            drawRectangle();
            return false;
        }
        updateReadouts();
        return false;
    }

    // A drag from the frequency labels that has gone far enough: mostly up or down it drags
    // the band, otherwise the time stretch from where it began.
    void tellAxisDrag() {
        const int dx = std::abs(mouse_.lastPoint.x - mouse_.pressPoint.x);
        const int dy = std::abs(mouse_.lastPoint.y - mouse_.pressPoint.y);
        if (std::max(dx, dy) < kAxisDragDecisionPixels) {
            return;
        }
        mouse_.onAxis = false;
        if (dy > dx) {
            mouse_.dragging = false;
            mouse_.bandDragging = true;
            mouse_.bandStartY = mouse_.pressPoint.y;
            mouse_.bandEndY = mouse_.pressPoint.y;
        }
    }

    // The band between two view rows, across the whole width (both dual panes).
    void invertRows(int from, int to) {
        if (from == to) {
            return;
        }
        const PlotLayout& l = window_.state().view.layout;
        window_.surface().invertRect({0, std::min(from, to), l.plotWidth, std::abs(to - from)});
    }

    // The band dragged on the frequency labels: from the row pressed to the row let go, the
    // held stretch analysed again in it.
    void releaseBand() {
        mouse_.bandDragging = false;
        repaint();
        const ViewGeometry g = currentViewGeometry(window_.state());
        const FrequencyAxis axis = g.frequencyAxis();
        if (mouse_.bandEndY == mouse_.bandStartY || !axis.usable()) {
            return;
        }
        const auto hzAt = [&g, &axis](int y) { return axis.hzAtRow(g.plotHeight - 1 - y); };
        setFrequencyBand(window_, draggedBand(hzAt(mouse_.bandStartY), hzAt(mouse_.bandEndY),
                                              g.sampleRate / 2.0));
    }

    // The strip between two view columns, over the plot height, in both dual panes.
    void invertColumns(int from, int to) {
        if (from == to) {
            return;
        }
        const PlotLayout& l = window_.state().view.layout;
        const PixelRect strip{std::min(from, to), 0, std::abs(to - from), l.plotHeight};
        window_.surface().invertRect(strip);
        if (dualStereoView(window_.state().settings)) {
            window_.surface().invertRect(
                {strip.x + dualRightPaneX(l.plotWidth), 0, strip.width, strip.height});
        }
    }

    // The one-pixel edges of a rectangle's outline, each pixel in exactly one of them.
    static std::vector<PixelRect> outlineEdges(const PixelRect& r) {
        std::vector<PixelRect> edges{{r.x, r.y, r.width, 1}};
        if (r.height > 1) {
            edges.push_back({r.x, r.bottom() - 1, r.width, 1});
        }
        if (r.height > 2) {
            edges.push_back({r.x, r.y + 1, 1, r.height - 2});
            if (r.width > 1) {
                edges.push_back({r.right() - 1, r.y + 1, 1, r.height - 2});
            }
        }
        return edges;
    }

    void drawRectangle() {
        const AppState& s = window_.state();
        const PlotLayout& l = s.view.layout;
        WindowSurface& w = window_.surface();
        if (mouse_.shownRectangle) {
            // Only the old outline is put back from the image, so the labels stay.
            for (const PixelRect& edge : outlineEdges(*mouse_.shownRectangle)) {
                window_.blitView(edge);
            }
        }
        const int x = std::clamp(mouse_.lastPoint.x, 0, l.plotWidth);
        const int y = std::clamp(mouse_.lastPoint.y, kRectangleTopLimit,
                                 std::max(kRectangleTopLimit, l.plotHeight));
        const PixelRect rectangle{std::min(x, mouse_.anchor.x), std::min(y, mouse_.anchor.y),
                                  std::abs(x - mouse_.anchor.x) + 1,
                                  std::abs(y - mouse_.anchor.y) + 1};
        for (const PixelRect& edge : outlineEdges(rectangle)) {
            w.invertRect(edge);
        }
        mouse_.shownRectangle = rectangle;
        // The grid (or the labels alone) over the outline, so the crosses keep their colours
        // and no label is left cut where the old outline was put back.
        if (s.view.axesShown) {
            paintLabels(w);
        }
    }

    void leave() {
        if (repeatAfterResize()) {
            return;
        }
        const AppState& s = window_.state();
        if (!displayed() || s.view.analysisDrawing || mouse_.holding) {
            return;
        }
        mouse_.inside = false;
        updateReadouts();
    }

    void repaint() {
        window_.surface().invalidate();
        window_.surface().updateNow();
    }

    bool press(const QMouseEvent& event) {
        if (event.button() == Qt::RightButton && scanInputFreezable(window_)) {
            // The live display stands still while the capture goes on.
            AppState& live = window_.state();
            live.view.displayFrozen = !live.view.displayFrozen;
            window_.button(cmd::kGrid)
                ->setEnabled(!live.view.displayFrozen && !spectralDisplay(live.settings));
            return true;
        }
        const AppState& s = window_.state();
        const QPoint at = event.position().toPoint();
        if (event.button() == Qt::LeftButton && replotsAtClick(at)) {
            // A click on the finished point spectrum plots it again, the point marked.
            setScanPlotCross(window_, PixelPoint{at.x(), at.y()});
            window_.commands().send(cmd::kScanFile, cmd::kScanPointSpectrum);
            return true;
        }
        const bool canSelect = acrossPicture(at) && spectralDisplay(s.settings) &&
                               s.held.spectralImage && !s.view.playbackActive &&
                               !s.view.analysisDrawing && s.settings.lastMode == 0;
        if (!canSelect) {
            return false;
        }
        track(at);
        if (s.logs.pointLogClick && event.button() == Qt::LeftButton) {
            // Point-log mode: the click only logs the point.
            const auto logClick = s.logs.pointLogClick;
            logClick(std::max(0, at.x()), std::max(0, at.y()));
            return true;
        }
        const ViewGeometry g = currentViewGeometry(window_.state());
        const int column = viewXToColumn(mouse_.lastPoint.x, g.plotWidth, g.dualStereo);
        if (event.button() == Qt::LeftButton) {
            mouse_.startColumn = column;
            mouse_.endColumn = column;
            if (at.y() > s.view.layout.plotHeight) {
                return true;
            }
            mouse_.pressPoint = {at.x(), at.y()};
            mouse_.onAxis =
                onFrequencyLabels(g, mouse_.pressPoint) && frequencyZoomAvailable(window_);
            repaint();
            mouse_.dragging = true;
            return true;
        }
        if (event.button() == Qt::RightButton) {
            mouse_.anchor = mouse_.lastPoint;
            // The readouts measure from here while the button holds.
            mouse_.measureFrom = pointerPoint(g);
            mouse_.shownRectangle.reset();
            repaint();
            mouse_.holding = true;
            return true;
        }
        return false;
    }

    bool release(const QMouseEvent& event) {
        if (event.button() == Qt::RightButton) {
            if (!mouse_.holding) {
                return false;
            }
            mouse_.holding = false;
            measureRectangle();
            mouse_.measureFrom.reset();
            mouse_.shownRectangle.reset();
            repaint();
            updateReadouts();
            return true;
        }
        if (event.button() == Qt::LeftButton && mouse_.bandDragging) {
            releaseBand();
            return true;
        }
        if (event.button() != Qt::LeftButton || !mouse_.dragging) {
            return false;
        }
        mouse_.dragging = false;
        mouse_.onAxis = false;
        AppState& s = window_.state();
        if (!s.held.spectralImage || s.view.analysisDrawing || s.view.playbackActive) {
            return true;
        }
        const ViewGeometry g = currentViewGeometry(window_.state());
        if (mouse_.endColumn == mouse_.startColumn) {
            askForPointSpectrum(g);
            return true;
        }
        const DragSegment segment = dragSegment(mouse_.startColumn, mouse_.endColumn, g.hScrollPos,
                                                s.analysis.run.params.hop, s.analysis.run.format);
        s.analysis.selection = Selection{segment.beginByte, segment.endByte};
        window_.commands().send(cmd::kParametersChange, 1);
        return true;
    }

    // The rectangle's time span and frequency span, for the Sound Level window.
    void measureRectangle() {
        const AppState& s = window_.state();
        if (!mouse_.measureFrom || !mouse_.inside || !s.held.spectralImage) {
            return;
        }
        const ViewGeometry g = currentViewGeometry(s);
        const int from = viewXToColumn(mouse_.anchor.x, g.plotWidth, g.dualStereo);
        const int to = viewXToColumn(mouse_.lastPoint.x, g.plotWidth, g.dualStereo);
        const std::optional<long> low =
            rowFrequencyHz(g, std::max(mouse_.anchor.y, mouse_.lastPoint.y));
        const std::optional<long> high =
            rowFrequencyHz(g, std::min(mouse_.anchor.y, mouse_.lastPoint.y));
        if (from == to || !low || !high || *low >= *high) {
            return;
        }
        const DragSegment span =
            dragSegment(from, to, g.hScrollPos, s.analysis.run.params.hop, s.analysis.run.format);
        measureSoundLevelSpan(window_, {span.beginFrame, span.endFrame, static_cast<double>(*low),
                                        static_cast<double>(*high)});
    }

    // A point spectrum is on the screen, finished, and the click falls on its plot.
    [[nodiscard]] bool replotsAtClick(QPoint at) const {
        const AppState& s = window_.state();
        return !spectralDisplay(s.settings) && s.view.plotImage &&
               s.analysis.scanRestoreAvailable && !s.control.modeRunning && !s.view.scanDrawing &&
               !s.view.playbackActive && !s.control.fileNameBuffer.empty() &&
               scanPointSpectrumAvailable(window_) && acrossPicture(at) && at.y() >= 0 &&
               at.y() < s.view.layout.plotHeight;
    }

    // A click: the spectrum at that instant, from Scan File.
    void askForPointSpectrum(const ViewGeometry& g) {
        AppState& s = window_.state();
        if (s.control.fileNameBuffer.empty() || g.dualStereo ||
            !scanPointSpectrumAvailable(window_)) {
            return;
        }
        if (mouse_.startColumn + g.hScrollPos >= s.analysis.run.params.columns) {
            return; // past the image's end: no instant of the file
        }
        const ClickInstant instant = clickInstant(mouse_.startColumn, g, s.analysis.run.format);
        s.analysis.pointSpectrumByte = instant.bytePosition;
        s.view.timeMarkMsec = instant.msec;
        setScanPlotCross(window_, std::nullopt); // a new moment: no point chosen on its plot yet
        s.settings.averageCountPlot = s.settings.averageCountScroll;
        s.settings.analysisAtStop = false;
        window_.commands().send(cmd::kScanFile, cmd::kScanPointSpectrum);
    }

    MainWindow& window_;
    MouseState mouse_;
    // What the readout lines show now.
    std::optional<ReadoutTexts> shownTexts_;
};

} // namespace

std::function<void(double)> installSpectralView(MainWindow& window) {
    auto view = std::make_shared<SpectralView>(window);
    window.setPanelPainter([view](WindowSurface& target) { view->paintPanels(target); });
    window.setLabelPainter([view](WindowSurface& target) { view->paintLabels(target); });
    window.setMouseHandler([view](QEvent* event) { return view->handle(event); });
    return [view](double elapsedMsec) { view->showTimeNow(elapsedMsec); };
}

} // namespace korv
