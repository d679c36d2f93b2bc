// The main window's painting of the view, its scrolling and its keys.

#include "app/main_window.h"

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/frequency_zoom.h"
#include "display/pitch_display.h"
#include "display/readouts.h"
#include "platform/commands.h"
#include "platform/palette_display.h"
#include "platform/slider_actions.h"
#include "settings/settings_inputs.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace korv {

namespace {
constexpr int kWheelNotch = 120; // the angle of one wheel notch, in eighths of a degree
// One zoom step of the time scale: twice or half the msec per column.
constexpr float kTimeZoomFactor = 2.0f;

// What a running Scroll scan shows over its picture on the window only: the strip's lines, the
// scope markers and the dual view's separator.
void drawScanGuides(WindowSurface& surface, const PlotLayout& l, const AppSettings& st) {
    const int top = l.topBand;
    surface.drawLine({0, top}, {l.plotWidth, top}, Pen{kSignal2Index, 1});
    surface.drawLine({0, top / 2}, {l.plotWidth, top / 2}, Pen{kSignal1Index, 1});
    for (const std::int32_t hz : {st.marker1Hz, st.marker2Hz}) {
        if (const auto y = scrollRowY(
                FrequencyAxis(st.frequencyScale, st.lowBandHz, st.highBandHz, l.plotHeight - top),
                l.plotHeight, hz)) {
            surface.drawLine({0, *y}, {l.plotWidth, *y}, Pen{kScopeMarkerIndex, 1});
        }
    }
    if (dualStereoView(st)) {
        const int mid = l.plotWidth / 2;
        surface.drawLine({mid + 1, 0}, {mid + 1, l.plotHeight - 2}, Pen{kSys3dFace, 7});
        surface.drawLine({mid - 3, 0}, {mid - 3, l.plotHeight - 2}, Pen{kSysWhite, 1});
        surface.drawLine({mid + 3, 0}, {mid + 3, l.plotHeight - 2}, Pen{kSys3dShadow, 1});
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Painting

void MainWindow::paint(WindowSurface& target) {
    AppState& s = state();
    if (s.view.scrollMemoryShown && s.settings.displayType == DisplayType::Scroll) {
        // The scrolling memory display always starts at the image's first column.
        s.view.scroll.h.pos = 0;
    }
    const PlotLayout& l = s.view.layout;
    target.fillRect({0, l.plotHeight, l.clientWidth, std::max(0, target.height() - l.plotHeight)},
                    kSysActiveCaption);
    if (panelPainter_) {
        panelPainter_(target);
    }
    target.fillRect({l.plotWidth, l.plotHeight, l.scrollBarThickness, l.scrollBarThickness},
                    kSys3dFace);
    blitView();
    if (labelPainter_ && s.view.axesShown) {
        labelPainter_(target);
    }
}

void MainWindow::clearDrawingArea() {
    const PlotLayout& l = state().view.layout;
    surface_.fillRect({0, 0, l.plotWidth, l.plotHeight}, kBackgroundIndex);
}

void MainWindow::blitView() {
    const PlotLayout& l = state().view.layout;
    blitView({0, 0, l.plotWidth, l.plotHeight});
}

void MainWindow::blitView(const PixelRect& area) {
    const AppState& s = state();
    const PlotLayout& l = s.view.layout;
    // Copies the image's `src` to `dest` where it falls inside `area`.
    const auto blit = [&](const IndexedSurface& image, const PixelRect& src, PixelPoint dest) {
        const PixelRect target = intersect({dest.x, dest.y, src.width, src.height}, area);
        if (target.empty()) {
            return;
        }
        surface_.blit(
            image,
            {src.x + target.x - dest.x, src.y + target.y - dest.y, target.width, target.height},
            {target.x, target.y});
    };
    const AppSettings& st = s.settings;
    const bool spectral = st.displayType == DisplayType::Scroll;
    // A Scroll scan without the scroll memory repaints from its running picture, laid out as
    // a kept one.
    const SpectralImage* shown = s.held.spectralImage        ? &*s.held.spectralImage
                                 : s.view.runningScrollImage ? &*s.view.runningScrollImage
                                                             : nullptr;
    if (spectral && shown != nullptr) {
        const IndexedSurface& image = shown->surface();
        const int x = s.view.scroll.h.pos;
        if (!st.stereo) {
            blit(image, {x, 0, l.plotWidth, l.plotHeight}, {0, 0});
        } else {
            const bool scrollMem = s.view.scrollMemoryShown || !s.held.spectralImage;
            const int sx = scrollMem ? 0 : x;
            const int half = image.height() / 2;
            if (st.channel == StereoChannel::Left) {
                blit(image, {sx, half, l.plotWidth, l.plotHeight}, {0, 0});
            } else if (st.channel == StereoChannel::Right) {
                blit(image, {sx, 0, l.plotWidth, l.plotHeight}, {0, 0});
            } else {
                const int leftWidth = l.plotWidth / 2 - 3;
                const int rightX = l.plotWidth / 2 + 4;
                blit(image, {sx, half, leftWidth, l.plotHeight}, {0, 0});
                blit(image, {scrollMem ? rightX : x, 0, l.plotWidth / 2 - 4, l.plotHeight},
                     {rightX, 0});
            }
        }
    } else if (!spectral && s.held.spectralImage) {
        blit(s.held.spectralImage->surface(), {0, 0, l.plotWidth, l.plotHeight}, {0, 0});
    } else if (s.view.plotImage) {
        blit(*s.view.plotImage, {0, 0, l.plotWidth, l.plotHeight}, {0, 0});
    } else {
        surface_.fillRect(intersect({0, 0, l.plotWidth, l.plotHeight}, area), kBackgroundIndex);
    }
    if (spectral && s.view.scanDrawing) {
        drawScanGuides(surface_, l, st);
    }
}

void MainWindow::redrawView(bool labels) {
    blitView();
    if (labels && labelPainter_ && state().view.axesShown) {
        labelPainter_(surface_);
    }
}

// ---------------------------------------------------------------------------------------------
// Scrolling

bool MainWindow::imageScrollFree() const {
    const AppState& s = state();
    return !s.view.analysisDrawing && !s.view.playbackActive && s.view.scroll.h.scrollable &&
           !s.control.modeRunning && s.held.spectralImage && !s.view.scrollMemoryShown;
}

void MainWindow::onHorizontalAction(int action) {
    AppState& s = state();
    if (!imageScrollFree()) {
        hBar_->setSliderPosition(s.view.scroll.h.pos);
        return;
    }
    const ScrollAction a = sliderScrollAction(action);
    const int next = stepScroll(s.view.scroll.h.pos, s.view.scroll.h.max, a, kImageLineStep,
                                kImagePageStep, hBar_->sliderPosition());
    hBar_->setSliderPosition(next);
    if (a == ScrollAction::Thumb && next == s.view.scroll.h.pos) {
        return;
    }
    s.view.scroll.h.pos = next;
    redrawView(true);
}

void MainWindow::onWheel(const QWheelEvent& event) {
    // Down and right are later in time. A notch (120) is the desktop's number of lines, each a
    // line step of the horizontal bar; finer wheels add up until they make a line.
    const QPoint delta = event.angleDelta();
    if (event.modifiers() & Qt::ControlModifier) {
        // Ctrl+wheel: up is a finer time scale, one step a notch.
        zoomAngle_ += delta.y();
        const int x = event.position().toPoint().x();
        for (; zoomAngle_ >= kWheelNotch; zoomAngle_ -= kWheelNotch) {
            changeTimeScale(-1, x);
        }
        for (; zoomAngle_ <= -kWheelNotch; zoomAngle_ += kWheelNotch) {
            changeTimeScale(1, x);
        }
        return;
    }
    const int notchLines = std::max(1, QApplication::wheelScrollLines());
    wheelAngle_ += (event.inverted() ? -1 : 1) * (delta.y() != 0 ? delta.y() : delta.x());
    const int lines = wheelAngle_ * notchLines / kWheelNotch;
    wheelAngle_ -= lines * kWheelNotch / notchLines;
    for (int i = 0; i < std::abs(lines); ++i) {
        hBar_->triggerAction(lines < 0 ? QAbstractSlider::SliderSingleStepAdd
                                       : QAbstractSlider::SliderSingleStepSub);
    }
}

// Home and End go to the start and end of the image, Page Up and Page Down a page back and
// forward, Ctrl+Left and Ctrl+Right a line: the scroll bar's own actions, under its rules.
void MainWindow::scrollByKey(int key) {
    switch (key) {
    case Qt::Key_Home:
        hBar_->triggerAction(QAbstractSlider::SliderToMinimum);
        break;
    case Qt::Key_End:
        hBar_->triggerAction(QAbstractSlider::SliderToMaximum);
        break;
    case Qt::Key_PageUp:
        hBar_->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        hBar_->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Left:
        hBar_->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Right:
        hBar_->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    default:
        break;
    }
}

// Ctrl+wheel, + and -: a finer or coarser time scale, analysed anew as Parameters Change does
// (and undone by Parameters Restore). Only for an analysed file that is idle.
void MainWindow::changeTimeScale(int direction, std::optional<int> pointerX) {
    AppState& s = state();
    if (s.control.modeRunning || !s.held.spectralImage || !commandBuilt(cmd::kParametersChange) ||
        !menu_->enabled(cmd::kParametersChange)) {
        return;
    }
    const float now = s.settings.timeScaleMsecSaved;
    const float next = std::clamp(direction > 0 ? now * kTimeZoomFactor : now / kTimeZoomFactor,
                                  MIN_TIME_SCALE_MSEC, MAX_TIME_SCALE_MSEC);
    if (next == now) {
        return;
    }
    const PlotLayout& l = s.view.layout;
    const bool dual = dualStereoView(s.settings);
    const int x = pointerX && *pointerX >= 0 && *pointerX < l.plotWidth
                      ? *pointerX
                      : visibleImageColumns(l.plotWidth, dual) / 2;
    const int viewColumn = viewXToColumn(x, l.plotWidth, dual);
    const double keptMsec =
        static_cast<double>(s.view.scroll.h.pos + viewColumn) * s.analysis.run.params.columnMsec;
    zoomHeldAnalysis(*this, cmd::kParametersChangeTimeScale,
                     [next](AppSettings& settings) { settings.timeScaleMsecSaved = next; });
    const double columnMsec = s.analysis.run.params.columnMsec;
    if (!s.held.spectralImage || s.view.analysisDrawing || columnMsec <= 0.0) {
        return;
    }
    // The pass ends with the image's end in view; the place the user looked at comes back.
    const auto column = static_cast<long>(std::lround(keptMsec / columnMsec));
    s.view.scroll.h.pos = static_cast<int>(
        std::clamp(column - viewColumn, 0L, static_cast<long>(s.view.scroll.h.max)));
    hBar_->setValue(s.view.scroll.h.pos);
    surface_.invalidate();
}

void MainWindow::onVerticalAction(int action) {
    AppState& s = state();
    const ScrollAction a = sliderScrollAction(action);
    const int thumb = vBar_->sliderPosition();
    const DisplayType display = s.settings.displayType;
    if (display == DisplayType::Scroll) {
        if (s.view.playbackActive || !s.analysis.fftAbove512) {
            vBar_->setSliderPosition(s.view.scroll.rowPos);
            return;
        }
        const int next = stepScroll(s.view.scroll.rowPos, s.view.scroll.rowMax, a, kImageLineStep,
                                    kImagePageStep, thumb);
        vBar_->setSliderPosition(next);
        if (a == ScrollAction::Thumb && next == s.view.scroll.rowPos) {
            return;
        }
        s.view.scroll.rowPos = next;
        redrawView(true);
        return;
    }
    if (display == DisplayType::LinePlot || display == DisplayType::BarPlot) {
        const int next = stepScroll(s.settings.verticalScrollPos, kLevelPositionMax, a,
                                    kLevelLineStep, kLevelPageStep, thumb);
        vBar_->setSliderPosition(next);
        s.settings.verticalScrollPos = next;
        s.settings.levelScaleCode = next - kLevelScaleOffset;
        if (s.view.plotImage) {
            redrawView(true);
        }
    }
}

void MainWindow::setVerticalRange(int max, int pos) {
    vBar_->setRange(0, std::max(0, max));
    vBar_->setValue(pos);
}

// ---------------------------------------------------------------------------------------------
// Keys

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const AppState& s = state();
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_S:
        queue_.send(cmd::kStop, 0);
        break;
    case Qt::Key_Space:
        if (s.control.inputOpen && s.settings.recording == Recording::Choice::Manual) {
            queue_.send(s.control.savingSamples ? cmd::kPlayWindow : cmd::kPlay, 0);
        }
        break;
    case Qt::Key_F1:
    case Qt::Key_F2:
    case Qt::Key_F3:
        if (s.control.idleForKeys) {
            const int ids[] = {cmd::kAnalyzeFile, cmd::kScanFile, cmd::kScanInput};
            queue_.send(ids[event->key() - Qt::Key_F1], 0);
        }
        break;
    case Qt::Key_F4:
        queue_.send(cmd::kSignalScale, 0);
        break;
    case Qt::Key_F5:
        queue_.send(cmd::kVolumeControl, 0);
        break;
    case Qt::Key_F6:
        if (s.control.stopRequested) {
            queue_.send(cmd::kFreqCalibration, 0);
        }
        break;
    case Qt::Key_F7:
        queue_.send(cmd::kSoundLevel, 0);
        break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // With Shift a whole screen; alone the bar's page of 100 columns.
        if (event->modifiers() & Qt::ShiftModifier) {
            queue_.send(event->key() == Qt::Key_PageUp ? cmd::kScreenBack : cmd::kScreenForward, 0);
        } else {
            scrollByKey(event->key());
        }
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
        scrollByKey(event->key());
        break;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
    case Qt::Key_Equal: {
        // The time under the pointer when it rests on the picture.
        const QPoint pointer = view_->mapFromGlobal(QCursor::pos());
        const bool overPicture = pointer.y() >= 0 && pointer.y() < s.view.layout.plotHeight;
        changeTimeScale(event->key() == Qt::Key_Minus ? 1 : -1,
                        overPicture ? std::optional<int>(pointer.x()) : std::nullopt);
        break;
    }
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (event->modifiers() & Qt::ControlModifier) {
            scrollByKey(event->key());
        } else {
            QCursor::setPos(QCursor::pos() + QPoint(event->key() == Qt::Key_Left ? -1 : 1, 0));
        }
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        // With Ctrl+Shift the frequency zoom; alone the pointer a pixel.
        if ((event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) ==
            (Qt::ControlModifier | Qt::ShiftModifier)) {
            queue_.send(event->key() == Qt::Key_Up ? cmd::kNarrowBand : cmd::kWidenBand,
                        cmd::kFromKey);
        } else {
            QCursor::setPos(QCursor::pos() + QPoint(0, event->key() == Qt::Key_Up ? -1 : 1));
        }
        break;
    default:
        QMainWindow::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace korv
