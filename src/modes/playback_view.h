#pragma once
// What PLAY and PLAY WDW do to the real main window: the image uncovered as the sound passes,
// the play marker, the buttons and menu while the sound runs and after it.

#include "app/playback.h"

#include <QImage>
#include <functional>
#include <optional>

namespace korv {

class MainWindow;

class MainWindowPlaybackView final : public PlaybackView {
  public:
    explicit MainWindowPlaybackView(MainWindow& window) : window_(window) {}

    // The time readout during playback; nothing is shown without one.
    void setTimeReadout(std::function<void(double elapsedMs)> readout) {
        timeReadout_ = std::move(readout);
    }
    // What Scan File does when its sound has ended (the scan-finished flag).
    void setStreamFinished(std::function<void()> finished) {
        streamFinished_ = std::move(finished);
    }

    void blankImageArea() override;
    void enterPlaying() override;
    void setScrollPosition(int column) override;
    void showPlayTime(double elapsedMs) override;
    void uncoverColumns(int sourceColumn, int columns) override;
    void movePlayMarker(std::optional<int> previousColumn, int column) override;
    void playbackStopped() override;
    void playLoopEnded() override;
    bool takeLayoutPending() override;
    void relayoutAndReanalyse() override;
    void reloadSettings() override;
    void streamFinished() override;

  private:
    void restoreMarkerColumn();

    MainWindow& window_;
    std::function<void(double)> timeReadout_;
    std::function<void()> streamFinished_;
    // The window column under the play marker, as it was before the marker covered it.
    std::optional<int> markerColumn_;
    QImage underMarker_;
};

} // namespace korv
