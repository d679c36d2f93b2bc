#include "modes/playback_view.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/playback_buffer.h"
#include "display/view_geometry.h"
#include "modes/analysis_pass.h"
#include "platform/commands.h"

#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace korv {

namespace {

// One pane of the spectral image display: where its rows start in the image, where it starts
// in the view and how wide it is. The same panes the window shows when it is repainted.
struct Pane {
    int sourceY = 0;
    int viewX = 0;
    int width = 0;
};

struct Panes {
    Pane first;
    std::optional<Pane> second;
};

Panes spectralPanes(const AppState& s) {
    const AppSettings& st = s.settings;
    const int plotWidth = s.view.layout.plotWidth;
    const int half = s.held.spectralImage->height() / 2;
    if (!st.stereo) {
        return {{0, 0, plotWidth}, std::nullopt};
    }
    if (st.channel == StereoChannel::Left) {
        return {{half, 0, plotWidth}, std::nullopt};
    }
    if (st.channel == StereoChannel::Right) {
        return {{0, 0, plotWidth}, std::nullopt};
    }
    // Dual: the left channel (the lower band) on the left, the right channel on the right.
    return {{half, 0, playPaneColumns(plotWidth, true)},
            Pane{0, dualRightPaneX(plotWidth), plotWidth / 2 - 4}};
}

} // namespace

void MainWindowPlaybackView::blankImageArea() {
    // A repaint still owed would cover the blank area again.
    window_.surface().updateNow();
    window_.clearDrawingArea();
}

void MainWindowPlaybackView::enterPlaying() {
    AppState& s = window_.state();
    window_.surface().updateNow();
    menuStateRunning(window_);
    s.view.playbackActive = true;
    // A resize meanwhile only asks for a layout; it is done when the sound has ended.
    s.view.modeHoldsSurfaces = true;
    window_.button(cmd::kStop)->setEnabled(true);
    for (const int id : {cmd::kPlay, cmd::kPlayWindow, cmd::kGrid}) {
        window_.button(id)->setEnabled(false);
    }
    markerColumn_.reset();
    underMarker_ = QImage();
}

void MainWindowPlaybackView::setScrollPosition(int column) {
    AppState& s = window_.state();
    s.view.scroll.h.pos = std::max(column, 0);
    window_.horizontalBar()->setValue(
        std::min(s.view.scroll.h.pos, window_.horizontalBar()->maximum()));
}

void MainWindowPlaybackView::showPlayTime(double elapsedMs) {
    if (timeReadout_) {
        timeReadout_(elapsedMs);
    }
}

void MainWindowPlaybackView::uncoverColumns(int sourceColumn, int columns) {
    const AppState& s = window_.state();
    if (!s.held.spectralImage || columns <= 0) {
        return;
    }
    const IndexedSurface& image = s.held.spectralImage->surface();
    const int height = s.view.layout.plotHeight;
    const Panes panes = spectralPanes(window_.state());
    for (const std::optional<Pane>& pane : {std::optional<Pane>(panes.first), panes.second}) {
        if (!pane) {
            continue;
        }
        const int width = std::min(columns, pane->width);
        window_.surface().blit(image, {sourceColumn, pane->sourceY, width, height},
                               {pane->viewX, 0});
    }
}

void MainWindowPlaybackView::restoreMarkerColumn() {
    if (markerColumn_ && !underMarker_.isNull()) {
        window_.surface().drawImage({*markerColumn_, 0}, underMarker_);
    }
    markerColumn_.reset();
    underMarker_ = QImage();
}

void MainWindowPlaybackView::movePlayMarker(std::optional<int> previousColumn, int column) {
    if (!previousColumn) {
        // A new run: whatever was saved belongs to a picture repainted since.
        markerColumn_.reset();
    }
    restoreMarkerColumn();
    const PlotLayout& l = window_.state().view.layout;
    if (column < 0 || column >= l.plotWidth) {
        return;
    }
    const PixelRect line{column, 0, 1, l.plotHeight};
    underMarker_ = window_.surface().copyRect(line);
    markerColumn_ = column;
    window_.surface().fillRect(line, kSignal1Index);
}

void MainWindowPlaybackView::playbackStopped() {
    AppState& s = window_.state();
    s.view.playbackActive = false;
    markerColumn_.reset();
    underMarker_ = QImage();
    window_.applyPointerShape();
    window_.button(cmd::kStop)->setEnabled(false);
    window_.button(cmd::kPlayWindow)->setEnabled(true);
    window_.button(cmd::kGrid)->setEnabled(true);
    window_.updatePlayButton();
    // The frame, the whole image at its scroll position and (GRID on) the grid come back with
    // the next paint; the marker goes with it.
    window_.surface().invalidate();
}

void MainWindowPlaybackView::playLoopEnded() {
    AppState& s = window_.state();
    s.view.modeHoldsSurfaces = false;
    menuStateImage(window_);
    window_.surface().invalidate();
}

bool MainWindowPlaybackView::takeLayoutPending() {
    return std::exchange(window_.state().view.layoutPending, false);
}

void MainWindowPlaybackView::relayoutAndReanalyse() {
    window_.computeLayout();
    window_.commands().post(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
}

void MainWindowPlaybackView::reloadSettings() {
    reloadAfterMemoryFailure(window_);
}

void MainWindowPlaybackView::streamFinished() {
    window_.applyPointerShape();
    if (streamFinished_) {
        streamFinished_();
    }
}

} // namespace korv
