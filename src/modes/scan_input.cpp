#include "modes/scan_input.h"

#include "modes/scan_notes.h"

#include "modes/analysis_pass.h"
#include "modes/capture.h"
#include "modes/play.h"
#include "modes/scan_file.h"

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "app/playback_view.h"
#include "audio/playback_messages.h"
#include "audio/recording.h"
#include "audio/wave_file.h"
#include "base/user_message.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/parameter_rules.h"
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
#include <utility>
#include <vector>

namespace korv {

namespace {

// Command-line runs analyse at most up to this frequency.
constexpr std::int32_t kCommandLineHighLimitHz = 22050;
// The lowest rate that carries a high limit below the first value; 44 kHz above them all.
constexpr std::pair<std::int32_t, std::int32_t> kRateForHighLimit[] = {
    {2756, SAMPLE_RATE_5K}, {5513, SAMPLE_RATE_11K}, {11025, SAMPLE_RATE_22K}};
const UserMessage kHighestFrequencyLimited22k{"Highest Frequency Limited to 22 kHz",
                                              MessageIcon::Warning};

// The input and the recording of the one window; it lives as long as the window's commands.
struct InputRoom;
InputRoom* theRoom = nullptr;

struct InputRoom {
    explicit InputRoom(MainWindow& w) : window(&w) { theRoom = this; }
    ~InputRoom() {
        if (theRoom == this) {
            theRoom = nullptr;
        }
    }
    InputRoom(const InputRoom&) = delete;
    InputRoom& operator=(const InputRoom&) = delete;

    MainWindow* window;
    RealClock realClock;
    std::unique_ptr<SoundInput> input;
    std::int32_t triggerLevel = DEFAULT_TRIGGER_LEVEL;
    Recording* recording = nullptr; // while a run records
    Capture* capture = nullptr;     // while a run captures

    Clock& clock() {
        Clock* c = window->options().clock;
        return c != nullptr ? *c : realClock;
    }
    SoundInput* device() {
        if (!input) {
            const auto& make = window->options().makeSoundInput;
            input = make ? make() : makePortAudioInput();
        }
        return input.get();
    }
    // The rates the input takes for mono 16-bit sound; the classic five when it cannot say.
    std::vector<int> offeredRates() {
        SoundInput* in = device();
        std::vector<int> rates =
            in != nullptr ? in->offeredRates(sampleRateCandidates(), 1, 16) : std::vector<int>{};
        return rates.empty() ? classicSampleRates() : rates;
    }
};

InputRoom& room() {
    return *theRoom;
}

ScanInputResult& result() {
    static ScanInputResult r;
    return r;
}

ScanInputColumnProbe& columnProbe() {
    static ScanInputColumnProbe probe;
    return probe;
}

double nowMs() {
    return static_cast<double>(room().clock().nowMs());
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

// A command-line run: the band checked against what the input offers, the rate chosen from
// the high limit, the time scale from the span. False when the run ends.
bool inputCommandLineParameters(AppState& s) {
    AppSettings& st = s.settings;
    if (st.highBandHz > kCommandLineHighLimitHz) {
        st.highBandHz = kCommandLineHighLimitHz;
        prompts().show(kHighestFrequencyLimited22k);
    }
    const std::int32_t high = st.highBandHz;
    st.sampleRateChoice = SAMPLE_RATE_44K;
    for (const auto& [below, choice] : kRateForHighLimit) {
        if (high < below) {
            st.sampleRateChoice = choice;
            break;
        }
    }
    st.sampleRateChoice = offeredSampleRateChoice(st.sampleRateChoice, room().offeredRates());
    const AutomaticParameters automatic = commandLineParameters(
        sampleRateForChoice(st.sampleRateChoice), s.layout.plotWidth, s.layout.plotHeight);
    showChecks(automatic.check);
    if (!automatic.check.proceeds()) {
        return false;
    }
    applyAutomaticParameters(automatic, st);
    return true;
}

// SAVE, by hand or by the trigger.
void pressSave() {
    InputRoom& r = room();
    Recording* rec = r.recording;
    if (rec == nullptr || rec->recording()) {
        return;
    }
    if (!rec->save(r.capture->soundMs())) {
        appState().stopRequested = true; // the file could not be made: the run ends with why
        return;
    }
    appState().savingSamples = true;
    r.window->button(cmd::kPlay)->setEnabled(false);
    r.window->button(cmd::kPlayWindow)->setEnabled(rec->choice() == Recording::Choice::Manual);
}

void pressStopSave() {
    InputRoom& r = room();
    if (r.recording == nullptr || !appState().savingSamples) {
        return;
    }
    r.recording->stopSave(r.capture->soundMs());
    appState().savingSamples = false;
    r.window->button(cmd::kPlayWindow)->setEnabled(false);
}

// The display of a run: the trigger looks at every step. A frozen Scroll display draws
// nothing; a frozen plot goes on (its peak and average with it) but is not shown.
class InputDisplay final : public ScanDisplay {
  public:
    InputDisplay(ScanDisplay& inner, const CaptureScanSource& source, bool plot)
        : inner_(inner), source_(source), plot_(plot) {}
    [[nodiscard]] int rows() const override { return inner_.rows(); }
    void step(const ScanStep& step) override {
        InputRoom& r = room();
        if (r.recording != nullptr) {
            const ScanEnvelope& e = step.envelope[0];
            switch (r.recording->triggerCheck(e.largest - e.smallest, r.triggerLevel, nowMs())) {
            case TriggerAction::Save:
                pressSave();
                break;
            case TriggerAction::StopSave:
                pressStopSave();
                break;
            case TriggerAction::None:
                break;
            }
        }
        const bool frozen = appState().displayFrozen;
        if (!frozen || plot_) {
            inner_.step(step);
        }
        if (!frozen) {
            if (const ScanInputColumnProbe& probe = columnProbe(); probe && r.capture != nullptr) {
                probe(source_.lastWindowEnd(), r.capture->positionFrames().value_or(0));
            }
        }
    }
    void finish() override { inner_.finish(); }

  private:
    ScanDisplay& inner_;
    const CaptureScanSource& source_;
    bool plot_;
};

// The parameters of the run; false when it ends here.
bool chooseParameters(AppState& s, int param, bool autoRun, std::int32_t& rate) {
    AppSettings& st = s.settings;
    if (autoRun) {
        if (!inputCommandLineParameters(s)) {
            return false;
        }
        rate = sampleRateForChoice(st.sampleRateChoice);
        return true;
    }
    // A stored rate the input does not take gives way to the nearest one it does.
    std::vector<int> offered = room().offeredRates();
    st.sampleRateChoice = offeredSampleRateChoice(st.sampleRateChoice, offered);
    rate = sampleRateForChoice(st.sampleRateChoice);
    st.timeScaleMsec = st.timeScaleMsecSaved;
    if (param != cmd::kFromMenu || st.variablesChoice == cmd::kVariablesFreeze) {
        return true;
    }
    st.resolutionChoice = RESOLUTION_16_BIT;
    RunValues values;
    values.sampleRateHz = rate;
    values.triggerLevel = room().triggerLevel;
    values.offeredRates = std::move(offered);
    if (!runAnalysisDialog(prompts(), DialogId::ScanInput, st, values,
                           [](std::int32_t) { rebuildPalette(); })) {
        return false;
    }
    rebuildPalette();
    rate = values.sampleRateHz;
    room().triggerLevel = values.triggerLevel;
    st.timeScaleMsec = st.timeScaleMsecSaved;
    pumpMessages();
    return true;
}

// The menus, buttons and flags of an ended run.
void endRunState(MainWindow& window) {
    AppState& s = appState();
    s.modeHoldsSurfaces = false;
    s.scanDrawing = false;
    s.inputOpen = false;
    s.savingSamples = false;
    s.displayFrozen = false;
    menuStateIdle(window);
    window.button(cmd::kGrid)->setEnabled(true);
    window.button(cmd::kPlay)->setText(QStringLiteral("PLAY"));
    window.button(cmd::kPlayWindow)->setText(QStringLiteral("PLAY WDW"));
    window.button(cmd::kPlay)->setEnabled(false);
    window.button(cmd::kPlayWindow)->setEnabled(false);
}

} // namespace

const ScanInputResult& lastScanInput() {
    return result();
}

void setScanInputColumnProbe(ScanInputColumnProbe probe) {
    columnProbe() = std::move(probe);
}

bool scanInputFreezable() {
    const AppState& s = appState();
    // The run's own recording choice: a cancelled record dialog turns it off for the run.
    return theRoom != nullptr && theRoom->recording != nullptr && s.inputOpen && s.scanDrawing &&
           theRoom->recording->choice() == Recording::Choice::Off;
}

void scanInputButton(int id) {
    const Recording* rec = theRoom != nullptr ? theRoom->recording : nullptr;
    if (rec == nullptr || rec->choice() != Recording::Choice::Manual) {
        return;
    }
    if (id == cmd::kPlay) {
        pressSave();
    } else if (id == cmd::kPlayWindow) {
        pressStopSave();
    }
}

void scanInput(MainWindow& window, int param) {
    AppState& s = appState();
    if (s.modeRunning || s.playbackActive || s.inputOpen || theRoom == nullptr) {
        return;
    }
    InputRoom& r = room();
    result() = ScanInputResult{};
    AppSettings& st = s.settings;
    const bool autoRun = std::exchange(s.autoRun, false);
    closeColourDialog();

    // 1. Parameters.
    std::int32_t rate = 0;
    if (!chooseParameters(s, param, autoRun, rate)) {
        return;
    }
    if (st.displayTypeChoice != DISPLAY_SCROLL && !scanPointSpectrumAvailable()) {
        st.displayTypeChoice = DISPLAY_SCROLL; // the plots come with their display
    }
    if (st.displayTypeChoice == DISPLAY_SCROLL && st.freqScaleChoice == FREQ_SCALE_THIRD_OCTAVE) {
        st.freqScaleChoice = FREQ_SCALE_LINEAR;
        st.lowBandHz = 0;
        st.highBandHz = rate / 2;
    }
    if (!(st.timeScaleMsec > 0.0f)) {
        st.timeScaleMsec = kDefaultTimeScaleMsec;
    }
    const int n = fftSizeFromChoice(st.fftSizeChoice);
    st.freqResolutionHz = static_cast<float>(freqResolutionHz(rate, n, st.resolutionFactor));
    sendFftSize(st);
    const RunFormat format{rate, st.typeChoice == TYPE_STEREO ? 2 : 1,
                           st.resolutionChoice == RESOLUTION_16_BIT ? 2 : 1};
    const RunParameters params = deriveRunParameters(analysisInputsFrom(st), format, 0);
    CaptureFormat capture{rate, format.channels, format.bytesPerSample,
                          captureBufferSeconds(params.fftSize, rate)};
    result().sampleRate = rate;
    result().bufferSeconds = capture.bufferSeconds;

    // 2. The image, the device and the record file.
    letGoOfHeldData();
    startScanRun(format, params);
    s.plotImage.reset();
    s.sampleRateHz = rate;
    const bool scroll = st.displayTypeChoice == DISPLAY_SCROLL;
    st.lastMode = scroll ? 1 : 2;
    window.showFileInTitle(QStringLiteral("Scan Input"));
    s.gridOn = false;
    window.button(cmd::kGrid)->setChecked(false);
    const PlotLayout& l = s.layout;
    if (scroll && !prepareScrollImage(window, format.channels)) {
        return;
    }
    SoundInput* device = r.device();
    if (device == nullptr) {
        releaseScanImages();
        prompts().show(kCannotOpenAudioDevice);
        menuStateIdle(window);
        return;
    }
    // The recording outlives the capture, whose last completions it takes.
    std::optional<Recording> recording;
    std::optional<UserMessage> runFailure;
    Capture input(*device, r.clock());
    const Capture::Opened opened = input.open(
        capture, [&recording, &runFailure](std::span<const std::uint8_t> data, double startMs) {
            if (!recording) {
                return;
            }
            const Recording::BufferOutcome out = recording->bufferDone(data, startMs);
            appState().recordedBytes = recording->recordedBytes();
            room().window->surface().invalidate(); // the length shown below the view
            if (out.failed) {
                runFailure = recording->failure();
            }
            if (out.failed || out.nearLimit) {
                appState().stopRequested = true;
            }
            if (!recording->recording() && recording->choice() == Recording::Choice::Manual &&
                !appState().stopRequested) {
                room().window->button(cmd::kPlay)->setEnabled(true);
            }
        });
    if (opened != Capture::Opened::Ok) {
        releaseScanImages();
        if (opened == Capture::Opened::NoMemory) {
            prompts().show(kNotEnoughMemory);
            reloadAfterMemoryFailure(window);
            return;
        }
        if (opened == Capture::Opened::NoDevice) {
            prompts().show(kCannotOpenAudioDevice);
        }
        menuStateIdle(window);
        window.surface().invalidate();
        return;
    }
    Recording::Choice choice = st.recordingChoice == RECORDING_ON ? Recording::Choice::Manual
                               : st.recordingChoice == RECORDING_TRIGGER
                                   ? Recording::Choice::Trigger
                                   : Recording::Choice::Off;
    std::string recordPath;
    if (choice != Recording::Choice::Off) {
        if (const auto chosen = askForWaveFile(QStringLiteral("Record Wave File"), st.lastFolder)) {
            recordPath = *chosen;
        } else {
            choice = Recording::Choice::Off;
        }
    }
    recording.emplace(choice, recordPath,
                      WaveFormat{static_cast<std::uint16_t>(format.channels), rate,
                                 static_cast<std::uint16_t>(format.bytesPerSample * 8)},
                      capture.bufferBytes(),
                      window.options().recordingByteLimit.value_or(RECORDING_BYTE_LIMIT));
    r.recording = &*recording;
    r.capture = &input;

    // 3. Start.
    s.hScroll = {};
    window.horizontalBar()->setRange(0, 0);
    menuStateRunning(window);
    window.button(cmd::kGrid)->setEnabled(false);
    window.button(cmd::kStop)->setEnabled(true);
    window.button(cmd::kPlay)->setText(QStringLiteral("SAVE"));
    window.button(cmd::kPlayWindow)->setText(QStringLiteral("STOP SAVE"));
    window.button(cmd::kPlay)->setEnabled(choice == Recording::Choice::Manual);
    window.button(cmd::kPlayWindow)->setEnabled(false);
    s.inputOpen = true;
    s.recordedBytes = 0;
    s.displayFrozen = false;
    s.modeHoldsSurfaces = true;
    s.scanDrawing = true;
    s.axesShown = true;
    s.stopRequested = false;
    window.clearDrawingArea();
    window.surface().invalidate();
    window.surface().updateNow();
    Clock& clock = r.clock();
    ScanRun run;
    int loop = 0;
    // A device that opens but will not start ends the run without a word.
    const bool started = input.start();
    if (started) {
        // Nothing is drawn before a whole window and the display delay have been captured.
        const auto startDelayMs = std::max<std::int64_t>(
            0,
            static_cast<std::int64_t>(std::trunc(params.analysisWindowMsec)) + st.displayDelayMs);
        while (!s.stopRequested && nowMs() - input.startMs() < static_cast<double>(startDelayMs)) {
            clock.sleep(1);
            pumpMessages();
        }
        ScanLoopInputs in = scanLoopInputs(st, rate, format.channels, params);
        in.startTimeMs = static_cast<std::int64_t>(input.startMs());
        const std::unique_ptr<ScanDisplay> inner = makeScanDisplay(window, st, format.channels, in);
        // A held peak is not to catch the first steps' thinner averages.
        in.fullAverage = [&window] { return window.button(cmd::kPeakHold)->isChecked(); };
        if (MainWindowPlaybackView* view = windowPlaybackView()) {
            // A frozen display keeps the time it was frozen at.
            in.showTimeNow = [view](double ms) {
                if (!appState().displayFrozen) {
                    appState().timeMarkMsec = ms;
                    view->showPlayTime(ms);
                }
            };
        }
        if (!inner) {
            loop = SCAN_LOOP_NO_MEMORY;
        }
        CaptureScanSource source(input, st.displayDelayMs);
        if (inner && !s.stopRequested) {
            InputDisplay display(*inner, source, st.displayTypeChoice != DISPLAY_SCROLL);
            window.surface().setPresentInterval(SCAN_PRESENT_INTERVAL_MS);
            loop = runScanLoop(in, source, display, clock, s.stopRequested, run);
            window.surface().setPresentInterval(0);
        }
    }

    // 4. Stop: the buffers come back, the recording takes its last stretch, the device closes.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::int64_t overruns = input.overruns();
    result().overruns = overruns;
    result().inputLatencyMs = input.inputLatencyMs();
    input.stop();
    QApplication::restoreOverrideCursor();
    r.recording = nullptr;
    r.capture = nullptr;
    result().columnsDrawn = run.columnsDrawn;
    result().loopMs = run.endMs - run.loopStartMs;
    result().recordedBytes = recording->recordedBytes();
    result().fileWritten = recording->fileOpen();
    if (!runFailure && recording->failure()) {
        runFailure = recording->failure();
    }
    if (scroll && run.columnsDrawn > 0) {
        st.timeScaleMsec = static_cast<float>((run.endMs - run.loopStartMs) /
                                              static_cast<double>(run.columnsDrawn));
    }
    if (loop != 0) {
        prompts().show(
            loop == SCAN_LOOP_NO_MEMORY
                ? kNotEnoughMemory
                : UserMessage{std::string(MSG_IMPROPER_FREQUENCY_LIMITS), MessageIcon::Stop});
    }
    if (runFailure) {
        prompts().show(*runFailure);
    }
    // Lost sound is told once per run; a recording has a gap there.
    if (overruns > 0) {
        prompts().show(kInputSoundLost);
    }
    if (!scroll) {
        s.logDataAvailable = loop == 0;
    }
    // What the readouts of the kept picture go by.
    s.run = AnalysisRun{};
    s.run.format = format;
    s.run.params = params;
    s.run.params.columnMsec = st.timeScaleMsec;
    // The kept picture's columns stand where the steps drew them.
    s.run.params.windowCentreMsec = 0.0;
    s.run.stripHeight = l.topBand;
    s.run.plotHeight = l.plotHeight;
    const bool frozen = s.displayFrozen;
    endRunState(window);
    window.surface().invalidate();
    const bool resized = std::exchange(s.layoutPending, false);
    // After a failed recording the message stands alone: no note claims the data was saved.
    if (started && !frozen && !resized && !runFailure && !s.notesSuppressed && !s.closeAfterRun) {
        showScanCompleteNote(window, room().clock(), result().fileWritten);
    }
    if (std::exchange(s.closeAfterRun, false)) {
        postCommand(cmd::kExit, 0);
    } else if (resized) {
        window.computeLayout();
        postCommand(cmd::kScanInput, cmd::kScanInputAfterResize);
    }
}

void installScanInput(MainWindow& window) {
    const auto inputRoom = std::make_shared<InputRoom>(window);
    MainWindow* w = &window;
    window.registerCommand(cmd::kScanInput, [w, inputRoom](int param) { scanInput(*w, param); });
    window.registerCommand(cmd::kSaveWave, [w](int) {
        AppState& s = appState();
        if (s.modeRunning || !s.samples || !s.samples->waveDataAvailable()) {
            return;
        }
        w->surface().invalidate();
        const auto chosen = askForWaveFile(QStringLiteral("Save Wave File"), s.settings.lastFolder);
        if (!chosen) {
            return;
        }
        const SaveWaveResult saved = saveWaveFile(*chosen, *s.samples);
        if (saved.openedFolder) {
            s.settings.lastFolder = *saved.openedFolder;
        }
        if (saved.message) {
            prompts().show(*saved.message);
        }
    });
}

} // namespace korv
