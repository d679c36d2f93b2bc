#include "modes/play.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/time_expansion.h"
#include "audio/playback_messages.h"
#include "modes/input_room.h"
#include "modes/playback_view.h"
#include "platform/clock.h"
#include "platform/portaudio_output.h"
#include "platform/prompts.h"

#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <memory>

namespace korv {

namespace {

// The playback of the one window, with its device, clock and view.
class PlayRoom {
  public:
    explicit PlayRoom(MainWindow& window);
    PlayRoom(const PlayRoom&) = delete;
    PlayRoom& operator=(const PlayRoom&) = delete;

    [[nodiscard]] Playback* playback();
    [[nodiscard]] MainWindowPlaybackView& view() { return view_; }
    void play(bool wholeSample);
    void stop();
    void shutdown();

  private:
    MainWindow& window_;
    RealClock realClock_;
    Clock* clock_;
    std::function<std::unique_ptr<SoundOutput>()> makeOutput_;
    MainWindowPlaybackView view_;
    // The device goes after the playback that uses it.
    std::unique_ptr<SoundOutput> output_;
    std::unique_ptr<Playback> playback_;
};

PlayRoom::PlayRoom(MainWindow& window)
    : window_(window),
      clock_(window.options().clock != nullptr ? window.options().clock : &realClock_),
      makeOutput_(window.options().makeSoundOutput ? window.options().makeSoundOutput
                                                   : makePortAudioOutput),
      view_(window) {}

Playback* PlayRoom::playback() {
    if (!playback_) {
        output_ = makeOutput_();
        if (!output_) {
            return nullptr;
        }
        playback_ = std::make_unique<Playback>(*output_, *clock_, view_,
                                               window_.state().control.stopRequested);
    }
    return playback_.get();
}

void PlayRoom::play(bool wholeSample) {
    const AppState& s = window_.state();
    // While the sound input is open the two buttons save the recording instead; while a mode
    // or a playback runs the held sample must stay as it is.
    if (s.control.inputOpen) {
        scanInputButton(window_, wholeSample ? cmd::kPlay : cmd::kPlayWindow);
        return;
    }
    if (s.control.modeRunning || s.view.playbackActive || !s.held.segmentHeld() ||
        !s.held.spectralImage) {
        return;
    }
    Playback* p = playback();
    if (p == nullptr) {
        showMessage(kCannotOpenAudioDevice);
        return;
    }
    if (p->active()) {
        return;
    }
    PlayGeometry geometry = currentPlayGeometry(s);
    geometry.timeExpansion = timeExpansion(window_);
    if (s.held.samples) {
        if (wholeSample) {
            p->startPlayAll(*s.held.samples, geometry);
        } else {
            p->startPlayWindow(*s.held.samples, geometry);
        }
    } else if (wholeSample) {
        p->startPlayAll(*s.held.fileSegment, geometry);
    } else {
        p->startPlayWindow(*s.held.fileSegment, geometry);
    }
}

void PlayRoom::stop() {
    if (!playback_ || !playback_->active()) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    playback_->stopPlayback();
    QApplication::restoreOverrideCursor();
    window_.button(cmd::kStop)->setEnabled(false);
}

void PlayRoom::shutdown() {
    if (playback_ && playback_->active()) {
        playback_->stopPlayback();
    }
}

} // namespace

void installPlay(MainWindow& window) {
    const auto room = std::make_shared<PlayRoom>(window);
    window.registerCommand(cmd::kPlay, [room](int) { room->play(true); });
    window.registerCommand(cmd::kPlayWindow, [room](int) { room->play(false); });
    window.registerCommand(cmd::kStop, [room](int) { room->stop(); });
    window.setSoundShutdown([room] { room->shutdown(); });
    window.keepPart(room);
}

Playback* windowPlayback(const MainWindow& window) {
    PlayRoom* room = window.part<PlayRoom>();
    return room != nullptr ? room->playback() : nullptr;
}

MainWindowPlaybackView* windowPlaybackView(const MainWindow& window) {
    PlayRoom* room = window.part<PlayRoom>();
    return room != nullptr ? &room->view() : nullptr;
}

PlayGeometry currentPlayGeometry(const AppState& s) {
    PlayGeometry g;
    g.viewWidth = s.view.layout.plotWidth;
    g.dualStereo = dualStereoView(s.settings);
    g.imageWidth = s.held.spectralImage ? s.held.spectralImage->width() : 0;
    g.columnMsec = s.analysis.run.params.columnMsec;
    g.windowCentreMsec = s.analysis.run.params.windowCentreMsec;
    g.scrollColumn = s.view.scroll.h.pos;
    g.columnStepSamples = static_cast<int>(std::clamp<long>(s.analysis.run.params.hop, 0, INT_MAX));
    return g;
}

} // namespace korv
