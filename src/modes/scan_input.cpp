#include "modes/scan_input.h"

#include "modes/scan_notes.h"

#include "modes/analysis_pass.h"
#include "modes/capture.h"
#include "modes/input_room.h"
#include "modes/play.h"
#include "modes/scan_file.h"
#include "modes/scan_input_parameters.h"
#include "modes/sound_level.h"

#include "analysis/parameters.h"
#include "analysis/pitch.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/playback_messages.h"
#include "audio/recording.h"
#include "audio/wave_file.h"
#include "base/user_message.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/parameter_rules.h"
#include "modes/playback_view.h"
#include "platform/commands.h"
#include "platform/portaudio_input.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace korv {

namespace {

double nowMs(InputRoom& r) {
    return static_cast<double>(r.clock().nowMs());
}

// The "Record Wave File" dialog of a recording and of Save Wave: the file to write, its
// extension added to a name typed without one; nothing on Cancel.
// `title`: "Record Wave File" before a recording, "Save Wave File" for the held samples.
std::optional<std::string> askForWaveFile(const QString& title, const std::string& folder) {
    FileRequest request = waveFileRequest(title, folder);
    request.defaultSuffix = QStringLiteral("wav");
    const auto chosen = prompts().saveFile(request);
    return chosen ? std::optional(fileNameBytes(*chosen)) : std::nullopt;
}

// The display of a run: the trigger looks at every step. A frozen Scroll display draws
// nothing; a frozen plot goes on (its peak and average with it) but is not shown.
class InputDisplay final : public ScanDisplay {
  public:
    InputDisplay(InputRoom& room, ScanDisplay& inner, const CaptureScanSource& source, bool plot,
                 int fftSize)
        : room_(room), inner_(inner), source_(source), plot_(plot), fftSize_(fftSize) {}
    [[nodiscard]] int rows() const override { return inner_.rows(); }
    void step(const ScanStep& step) override {
        InputRoom& r = room_;
        if (r.recording != nullptr) {
            const ScanEnvelope& e = step.envelope[0];
            // Timed by the frames the step analysed, not by the clock, which runs on while a
            // device holds its sound back and then delivers it at once.
            const double rate = r.capture->format().sampleRate;
            const double soundMs = static_cast<double>(step.endFrame) * 1000.0 / rate;
            switch (r.recording->triggerCheck(e.largest - e.smallest, r.triggerLevel, soundMs)) {
            case TriggerAction::Save: {
                // From the first frame of the window that was loud, so the recording holds the
                // whole of what set it off.
                const std::int64_t first = std::max<std::int64_t>(step.endFrame - fftSize_, 0);
                pressSave(r, static_cast<double>(first) * 1000.0 / rate);
                break;
            }
            case TriggerAction::StopSave:
                pressStopSave(r, r.recording->triggerStopMs());
                break;
            case TriggerAction::None:
                break;
            }
        }
        const bool frozen = r.window->state().view.displayFrozen;
        if (!frozen || plot_) {
            inner_.step(step);
        }
        if (!frozen) {
            if (const ScanInputColumnProbe& probe = r.columnProbe; probe && r.capture != nullptr) {
                probe(source_.lastWindowEnd(), r.capture->positionFrames().value_or(0));
            }
        }
    }
    void finish() override { inner_.finish(); }

  private:
    InputRoom& room_;
    ScanDisplay& inner_;
    const CaptureScanSource& source_;
    bool plot_;
    int fftSize_;
};

// The menus, buttons and flags of an ended run.
void endRunState(MainWindow& window) {
    AppState& s = window.state();
    s.view.modeHoldsSurfaces = false;
    s.view.scanDrawing = false;
    s.control.inputOpen = false;
    s.control.savingSamples = false;
    s.view.displayFrozen = false;
    menuStateIdle(window);
    window.button(cmd::kGrid)->setEnabled(true);
    window.button(cmd::kPlay)->setText(QStringLiteral("PLAY"));
    window.button(cmd::kPlayWindow)->setText(QStringLiteral("PLAY WDW"));
    window.button(cmd::kPlay)->setEnabled(false);
    window.button(cmd::kPlayWindow)->setEnabled(false);
}

} // namespace

ScanInputResult lastScanInput(const MainWindow& window) {
    const InputRoom* room = window.part<InputRoom>();
    return room != nullptr ? room->result : ScanInputResult{};
}

void setScanInputColumnProbe(MainWindow& window, ScanInputColumnProbe probe) {
    if (InputRoom* room = window.part<InputRoom>(); room != nullptr) {
        room->columnProbe = std::move(probe);
    }
}

bool scanInputFreezable(const MainWindow& window) {
    const InputRoom* room = window.part<InputRoom>();
    if (room == nullptr || room->recording == nullptr) {
        return false;
    }
    const AppState& s = window.state();
    // The run's own recording choice: a cancelled record dialog turns it off for the run.
    return s.control.inputOpen && s.view.scanDrawing &&
           room->recording->choice() == Recording::Choice::Off;
}

namespace {

// One Scan Input run: the parameters, the device and the record file, the loop, the stop.
class ScanInputRun {
  public:
    ScanInputRun(MainWindow& window, int param)
        : window_(window), room_(window.part<InputRoom>()), s_(window.state()), st_(s_.settings),
          param_(param) {}

    void run() {
        if (s_.control.modeRunning || s_.view.playbackActive || s_.control.inputOpen ||
            room_ == nullptr) {
            return;
        }
        room_->result = ScanInputResult{};
        const bool autoRun = std::exchange(s_.control.autoRun, false);
        closeColourDialog(&window_);
        if (!chooseScanInputParameters(s_, param_, autoRun, rate_, room_->triggerLevel,
                                       room_->offeredRates())) {
            return;
        }
        deriveRun();
        if (!prepareImage() || !openInput()) {
            return;
        }
        openRecording();
        startRunning();
        scan();
        stop();
        keepRun();
        afterwards();
    }

  private:
    // The display, the band and the run's parameters for the chosen rate.
    void deriveRun() {
        if (st_.displayType != DisplayType::Scroll && !scanPointSpectrumAvailable(window_)) {
            st_.displayType = DisplayType::Scroll; // the plots come with their display
        }
        if (st_.displayType == DisplayType::Scroll &&
            st_.frequencyScale == FrequencyScale::ThirdOctave) {
            st_.frequencyScale = FrequencyScale::Linear;
            st_.lowBandHz = 0;
            st_.highBandHz = rate_ / 2;
        }
        if (!(st_.timeScaleMsec > 0.0f)) {
            st_.timeScaleMsec = kDefaultTimeScaleMsec;
        }
        const int n = st_.fftSize();
        st_.freqResolutionHz = static_cast<float>(freqResolutionHz(rate_, n, st_.resolutionFactor));
        sendFftSize(window_, st_);
        format_ = RunFormat{rate_, st_.stereo ? 2 : 1, st_.resolutionBits == 16 ? 2 : 1};
        params_ = deriveRunParameters(analysisInputsFrom(st_), format_, 0);
        capture_ = CaptureFormat{rate_, format_.channels, format_.bytesPerSample,
                                 captureBufferSeconds(params_.fftSize, rate_)};
        room_->result.sampleRate = rate_;
        room_->result.bufferSeconds = capture_.bufferSeconds;
    }

    // What was held goes; the running image is made.
    bool prepareImage() {
        letGoOfHeldData(s_);
        startScanRun(s_, format_, params_);
        s_.view.plotImage.reset();
        s_.analysis.sampleRateHz = rate_;
        scroll_ = st_.displayType == DisplayType::Scroll;
        st_.lastMode = scroll_ ? 1 : 2;
        window_.showFileInTitle(QStringLiteral("Scan Input"));
        s_.view.gridOn = false;
        window_.button(cmd::kGrid)->setChecked(false);
        return !scroll_ || prepareScrollImage(window_, format_.channels);
    }

    // The device opened for capture; false with the window idle again when it is not there.
    bool openInput() {
        SoundInput* device = room_->device();
        if (device == nullptr) {
            releaseScanImages(s_);
            prompts().show(kCannotOpenAudioDevice);
            menuStateIdle(window_);
            return false;
        }
        input_.emplace(*device, room_->clock());
        const Capture::Opened opened =
            input_->open(capture_, [this](std::span<const std::uint8_t> data, double startMs) {
                bufferDone(data, startMs);
            });
        if (opened == Capture::Opened::Ok) {
            return true;
        }
        releaseScanImages(s_);
        if (opened == Capture::Opened::NoMemory) {
            prompts().show(kNotEnoughMemory);
            reloadAfterMemoryFailure(window_);
            return false;
        }
        if (opened == Capture::Opened::NoDevice) {
            prompts().show(kCannotOpenAudioDevice);
        }
        menuStateIdle(window_);
        window_.surface().invalidate();
        return false;
    }

    // A completed capture buffer, for the recording.
    void bufferDone(std::span<const std::uint8_t> data, double startMs) {
        if (!recording_) {
            return;
        }
        const Recording::BufferOutcome out = recording_->bufferDone(data, startMs);
        s_.control.recordedBytes = recording_->recordedBytes();
        window_.surface().invalidate(); // the length shown below the view
        if (out.failed) {
            runFailure_ = recording_->failure();
        }
        if (out.failed || out.nearLimit) {
            s_.control.stopRequested = true;
        }
        if (!recording_->recording() && recording_->choice() == Recording::Choice::Manual &&
            !s_.control.stopRequested) {
            window_.button(cmd::kPlay)->setEnabled(true);
        }
    }

    // The recording the settings ask for, its file named by the user.
    void openRecording() {
        choice_ = st_.recording;
        std::string recordPath;
        if (choice_ != Recording::Choice::Off) {
            if (const auto chosen =
                    askForWaveFile(QStringLiteral("Record Wave File"), st_.lastFolder)) {
                recordPath = *chosen;
            } else {
                choice_ = Recording::Choice::Off;
            }
        }
        recording_.emplace(choice_, recordPath,
                           WaveFormat{static_cast<std::uint16_t>(format_.channels), rate_,
                                      static_cast<std::uint16_t>(format_.bytesPerSample * 8)},
                           capture_.bufferBytes(),
                           window_.options().recordingByteLimit.value_or(RECORDING_BYTE_LIMIT));
        room_->recording = &*recording_;
        room_->capture = &*input_;
    }

    // The window in its running state: SAVE and STOP SAVE in place of the play buttons.
    void startRunning() {
        s_.view.scroll.h = {};
        window_.horizontalBar()->setRange(0, 0);
        menuStateRunning(window_);
        window_.button(cmd::kGrid)->setEnabled(false);
        window_.button(cmd::kStop)->setEnabled(true);
        window_.button(cmd::kPlay)->setText(QStringLiteral("SAVE"));
        window_.button(cmd::kPlayWindow)->setText(QStringLiteral("STOP SAVE"));
        window_.button(cmd::kPlay)->setEnabled(choice_ == Recording::Choice::Manual);
        window_.button(cmd::kPlayWindow)->setEnabled(false);
        s_.control.inputOpen = true;
        s_.control.recordedBytes = 0;
        s_.view.displayFrozen = false;
        s_.view.modeHoldsSurfaces = true;
        s_.view.scanDrawing = true;
        s_.view.axesShown = true;
        s_.control.stopRequested = false;
        window_.clearDrawingArea();
        window_.surface().invalidate();
        window_.surface().updateNow();
    }

    // The capture started and the step loop run until STOP. A device that opens but will not
    // start ends the run without a word.
    void scan() {
        started_ = input_->start();
        if (!started_) {
            return;
        }
        Clock& clock = room_->clock();
        // Nothing is drawn before a whole window and the display delay have been captured: the
        // pitch detector's window, when it is on, is longer than the FFT's.
        const double pitchWindowMsec =
            st_.pitchDetector ? std::ceil(pitchWindowFrames(rate_) * 1000.0 / rate_) : 0.0;
        const auto startDelayMs = std::max<std::int64_t>(
            0, static_cast<std::int64_t>(
                   std::trunc(std::max<double>(params_.analysisWindowMsec, pitchWindowMsec))) +
                   st_.displayDelayMs);
        while (!s_.control.stopRequested &&
               nowMs(*room_) - input_->startMs() < static_cast<double>(startDelayMs)) {
            clock.sleep(1);
            pumpMessages();
        }
        ScanLoopInputs in = scanLoopInputs(st_, rate_, format_.channels, params_);
        in.startTimeMs = static_cast<std::int64_t>(input_->startMs());
        display_ = makeScanDisplay(window_, st_, format_.channels, in);
        ScanDisplay* inner = display_.get();
        // A held peak is not to catch the first steps' thinner averages.
        in.fullAverage = [this] { return window_.button(cmd::kPeakHold)->isChecked(); };
        if (MainWindowPlaybackView* view = windowPlaybackView(window_)) {
            // A frozen display keeps the time it was frozen at.
            in.showTimeNow = [view, this](double ms) {
                if (!s_.view.displayFrozen) {
                    s_.view.timeMarkMsec = ms;
                    view->showPlayTime(ms);
                }
            };
        }
        if (!inner) {
            loop_ = SetupResult::NoMemory;
        }
        CaptureScanSource source(*input_, st_.displayDelayMs);
        if (inner && !s_.control.stopRequested) {
            InputDisplay display(*room_, *inner, source, st_.displayType != DisplayType::Scroll,
                                 params_.fftSize);
            window_.surface().setPresentInterval(SCAN_PRESENT_INTERVAL_MS);
            SoundLevelFeed meter(window_, source, rate_, format_.channels, SoundLevelScan::Input,
                                 QStringLiteral("Scan Input at %1 Hz").arg(rate_) +
                                     measuredChannelText(1, format_.channels),
                                 room_->device()->deviceName());
            loop_ =
                runScanLoop(in, meter.source(), display, clock, s_.control.stopRequested, scan_);
            meter.finish(std::nullopt);
            window_.surface().setPresentInterval(0);
            // The time of the frames last analysed, unless the display was frozen before.
            if (const std::optional<double> analysed = lastStepMsec(scan_, in);
                analysed && !s_.view.displayFrozen) {
                s_.view.timeMarkMsec = *analysed;
            }
        }
    }

    // The buffers come back, the recording takes its last stretch, the device closes; what
    // went wrong is told.
    void stop() {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const std::int64_t overruns = input_->overruns();
        ScanInputResult& r = room_->result;
        r.overruns = overruns;
        r.inputLatencyMs = input_->inputLatencyMs();
        input_->stop();
        QApplication::restoreOverrideCursor();
        room_->recording = nullptr;
        room_->capture = nullptr;
        r.columnsDrawn = scan_.columnsDrawn;
        r.loopMs = scan_.endMs - scan_.loopStartMs;
        r.recordedBytes = recording_->recordedBytes();
        r.fileWritten = recording_->fileOpen();
        if (!runFailure_ && recording_->failure()) {
            runFailure_ = recording_->failure();
        }
        // The time per column by the frames captured between the first column and the last,
        // not by the clock, which also ran while nothing was drawn.
        // The next Analyze File dialog starts from its own time scale, not the scan's.
        s_.analysis.scanFinished = true;
        if (const std::optional<double> msec = columnMsecFromFrames(
                scan_.firstEndFrame, scan_.lastEndFrame, scan_.columnsDrawn, rate_);
            scroll_ && msec) {
            st_.timeScaleMsec = static_cast<float>(*msec);
        }
        if (loop_ != SetupResult::Ok) {
            prompts().show(
                loop_ == SetupResult::NoMemory
                    ? kNotEnoughMemory
                    : UserMessage{std::string(MSG_IMPROPER_FREQUENCY_LIMITS), MessageIcon::Stop});
        }
        if (runFailure_) {
            prompts().show(*runFailure_);
        }
        // Lost sound is told once per run; a recording has a gap there.
        if (overruns > 0) {
            prompts().show(kInputSoundLost);
        }
    }

    // What the readouts of the kept picture go by.
    void keepRun() {
        if (!scroll_) {
            s_.logs.logDataAvailable = loop_ == SetupResult::Ok;
        }
        s_.analysis.run = AnalysisRun{};
        s_.analysis.run.format = format_;
        s_.analysis.run.params = params_;
        s_.analysis.run.params.columnMsec = st_.timeScaleMsec;
        // The kept picture's columns at the times of the frames they analysed, counted from
        // the first frame captured.
        s_.analysis.run.params.windowCentreMsec = 0.0;
        labelKeptColumns(s_.analysis.run, display_.get(), 0);
        s_.analysis.run.stripHeight = s_.view.layout.topBand;
        s_.analysis.run.plotHeight = s_.view.layout.plotHeight;
    }

    // The window idle again; the completion note, the close or the repeat after a resize.
    void afterwards() {
        const bool frozen = s_.view.displayFrozen;
        endRunState(window_);
        window_.surface().invalidate();
        const bool resized = std::exchange(s_.view.layoutPending, false);
        // After a failed recording the message stands alone: no note claims the data was
        // saved.
        if (started_ && !frozen && !resized && !runFailure_ && !s_.control.notesSuppressed &&
            !s_.control.closeAfterRun) {
            showScanCompleteNote(window_, room_->clock(), room_->result.fileWritten);
        }
        if (std::exchange(s_.control.closeAfterRun, false)) {
            window_.commands().post(cmd::kExit, 0);
        } else if (resized) {
            window_.computeLayout();
            window_.commands().post(cmd::kScanInput, cmd::kScanInputAfterResize);
        }
    }

    MainWindow& window_;
    InputRoom* room_; // the window's: the device, the clock, the run's recording
    AppState& s_;
    AppSettings& st_;
    const int param_;
    std::int32_t rate_ = 0;
    RunFormat format_;
    RunParameters params_;
    CaptureFormat capture_{};
    bool scroll_ = false;
    Recording::Choice choice_ = Recording::Choice::Off;
    // The recording outlives the capture, whose last completions it takes.
    std::optional<Recording> recording_;
    std::optional<UserMessage> runFailure_;
    std::optional<Capture> input_;
    std::unique_ptr<ScanDisplay> display_;
    bool started_ = false;
    ScanRun scan_;
    SetupResult loop_ = SetupResult::Ok;
};

} // namespace

void scanInput(MainWindow& window, int param) {
    ScanInputRun(window, param).run();
}

void installScanInput(MainWindow& window) {
    const auto inputRoom = std::make_shared<InputRoom>(window);
    MainWindow* w = &window;
    window.keepPart(inputRoom);
    window.registerCommand(cmd::kScanInput, [w](int param) { scanInput(*w, param); });
    window.registerCommand(cmd::kSaveWave, [w](int) {
        AppState& s = w->state();
        const bool held = s.held.samples && s.held.samples->waveDataAvailable();
        if (s.control.modeRunning || (!held && !s.held.fileSegment)) {
            return;
        }
        w->surface().invalidate();
        const auto chosen = askForWaveFile(QStringLiteral("Save Wave File"), s.settings.lastFolder);
        if (!chosen) {
            return;
        }
        const SaveWaveResult saved = held ? saveWaveFile(*chosen, *s.held.samples)
                                          : saveWaveFile(*chosen, *s.held.fileSegment);
        if (saved.openedFolder) {
            s.settings.lastFolder = *saved.openedFolder;
        }
        if (saved.message) {
            prompts().show(*saved.message);
        }
    });
}

} // namespace korv
