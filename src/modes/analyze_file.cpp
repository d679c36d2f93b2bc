#include "modes/analyze_file.h"

#include "modes/analysis_pass.h"

#include "analysis/analyze_segment.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/desktop_files.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/sound_file.h"
#include "audio/wave_file.h"
#include "base/user_message.h"
#include "dialogs/parameter_dialog.h"
#include "display/plot_layout.h"
#include "display/spectral_image.h"
#include "modes/batch_steps.h"
#include "platform/commands.h"
#include "platform/fonts.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "settings/settings_file.h"
#include "settings/settings_inputs.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace korv {

namespace {

// One Analyze File command: the file, the parameters, the segment, then the analysis pass.
class AnalyzeFileRun {
  public:
    AnalyzeFileRun(MainWindow& window, int param)
        : window_(window), s_(window.state()), st_(s_.settings), param_(param),
          fromCommandLine_(param == cmd::kFromCommandLine),
          givenFile_(fromCommandLine_ || param == cmd::kGivenFile),
          repeat_(param == cmd::kRepeatAfterResize), askForFile_(param == cmd::kFromMenu),
          fromBatch_(param == cmd::kFromBatch) {}

    void run() {
        if (s_.control.modeRunning) {
            return;
        }
        prepareDisplay();
        if (!chooseRun()) {
            return;
        }
        // Hop and columns, asked before anything held is let go: a refused run leaves the
        // image and data as they were, with the values from before it.
        if (!deriveColumns(run_, st_)) {
            copyAnalysisValues(settingsBefore_, st_);
            window_.commands().send(cmd::kParametersRestore, 0);
            endWithoutRun();
            return;
        }
        if (!analysisFitsMemory(window_, run_)) {
            return;
        }
        loadAndAnalyse();
    }

  private:
    enum class Outcome { Proceed, Again, End };

    void prepareDisplay() {
        st_.timeScaleMsec =
            st_.timeScaleMsecSaved == 0.0f ? kDefaultTimeScaleMsec : st_.timeScaleMsecSaved;
        // The vertical bar stands for the display gain until the pass starts drawing.
        window_.setVerticalRange(kLevelPositionMax, st_.verticalScrollPos);
        window_.verticalBar()->setEnabled(true);
        run_ = repeat_ ? s_.analysis.run : AnalysisRun{};
        run_.commandLine = fromCommandLine_;
        // The flag is this command's to use once, whether or not the run gets far.
        fileFromCommandLine_ = std::exchange(s_.control.fileFromCommandLine, false);
        settingsBefore_ = st_;
    }

    // The view is blanked while a new file is prepared, but the held image is kept: a file or
    // run that is refused shows what is still held again, so the picture, the title, the
    // menu and PLAY all speak of the same data.
    void endWithoutRun() {
        if (viewBlanked_) {
            window_.surface().invalidate();
        }
    }

    // The file, the parameters and the segment; false when the command ends here. A failed
    // check with the dialog shown opens the dialog again on the same file.
    bool chooseRun() {
        bool backToDialog = false;
        while (true) {
            if (!backToDialog) {
                const Outcome opened = openFile();
                if (opened != Outcome::Proceed) {
                    if (opened == Outcome::End) {
                        return false;
                    }
                    continue;
                }
            } else if (askForFile_ || givenFile_) {
                // The dialog comes back on the whole file, not on the refused stretch.
                run_.beginMsec = 0;
                run_.endMsec = wholeFileMsec_;
            }
            backToDialog = false;
            bool dialogShown = false;
            if (!chooseParameters(dialogShown)) {
                return false;
            }
            const Outcome planned = planSegment(dialogShown);
            if (planned == Outcome::Again) {
                backToDialog = true;
                continue;
            }
            return planned == Outcome::Proceed;
        }
    }

    // The file's name from where the command came from.
    bool nameFile() {
        if (askForFile_) {
            const auto chosen = prompts().openFile(
                soundFileRequest(QStringLiteral("Analyze File"), st_.lastFolder));
            if (!chosen) {
                return false;
            }
            run_.file = fileNameBytes(*chosen);
            viewBlanked_ = true;
            window_.clearDrawingArea();
        } else if (givenFile_ || param_ == cmd::kFromScanStop) {
            run_.file = s_.control.fileNameBuffer;
        } else if (fromBatch_) {
            run_.file = batchFile(window_);
        }
        return true;
    }

    // The file named, opened and its header read; Again to ask for another.
    Outcome openFile() {
        if (!nameFile()) {
            endWithoutRun();
            return Outcome::End;
        }
        const WaveParseResult parsed = openSoundFile(run_.file);
        if (parsed.openedFolder) {
            st_.lastFolder = *parsed.openedFolder;
        }
        if (parsed.message) {
            prompts().show(*parsed.message);
        }
        if (parsed.status == WaveParseStatus::SampleSizeTooSmall && askForFile_) {
            return Outcome::Again;
        }
        if (!parsed.goesOn()) {
            endWithoutRun();
            return Outcome::End;
        }
        run_.info = parsed.info;
        const WaveFileInfo& info = run_.info;
        // The default segment: the whole file. A repeat keeps the run's segment and format (a
        // header-less file's format is the one chosen in the dialog).
        wholeFileMsec_ = waveDataMsec(info);
        if (!repeat_) {
            run_.format = {info.sampleRate, info.channels, info.bitsPerSample / 8};
            st_.resolutionBits = info.bitsPerSample == 8 ? 8 : 16;
            st_.stereo = info.channels == 2;
            const bool scanStop = param_ == cmd::kFromScanStop;
            run_.beginMsec = scanStop ? s_.analysis.scanStopBeginMsec : 0;
            run_.endMsec = scanStop ? s_.analysis.scanStopEndMsec : wholeFileMsec_;
        }
        return Outcome::Proceed;
    }

    // The parameters: the command line's, those in force, or the dialog's.
    bool chooseParameters(bool& dialogShown) {
        if (fromCommandLine_ && s_.control.autoRun) {
            return automaticParameters();
        }
        if (fileFromCommandLine_ || st_.variables == Variables::Freeze || repeat_ || fromBatch_) {
            parametersInForce();
            return true;
        }
        dialogShown = dialogParameters();
        return dialogShown;
    }

    bool automaticParameters() {
        s_.control.autoRun = false;
        useAnalyzeFileScale(st_);
        // The band comes from the command line; a Log scale left in the settings cannot show
        // one from 0, so such a start is shown on the Linear scale.
        if (st_.frequencyScale == FrequencyScale::Log && st_.lowBandHz <= 0) {
            st_.frequencyScale = FrequencyScale::Linear;
        }
        const AutomaticParameters automatic = commandLineParameters(
            s_, run_.info.sampleRate, s_.view.layout.clientWidth, s_.view.layout.clientHeight);
        applyAutomaticParameters(automatic, st_);
        showChecks(automatic.check);
        if (!automatic.check.proceeds()) {
            return false;
        }
        st_.timeScaleMsec = automatic.timeScaleMsec;
        return true;
    }

    void parametersInForce() {
        useAnalyzeFileScale(st_);
        if (fileFromCommandLine_) {
            const BandLimits band = forcedBandLimits(st_.frequencyScale, run_.info.sampleRate);
            st_.lowBandHz = band.lowBandHz;
            st_.highBandHz = band.highBandHz;
            s_.analysis.highBand = {}; // a band of its own, asked for anew
        }
        // The limit was set for another file's rate; only a user's own start hears of it.
        if (limitHighBandForRate(st_.highBandHz, run_.format.sampleRate, s_.analysis.highBand) &&
            !repeat_ && !fromBatch_) {
            prompts().show(highestFrequencyLimitedMessage());
        }
    }

    bool dialogParameters() {
        // The dialog opens on the band asked for, as far as this file's rate allows.
        limitHighBandForRate(st_.highBandHz, run_.info.sampleRate, s_.analysis.highBand);
        RunValues values;
        values.opening = param_ == cmd::kFromScanStop ? AnalyzeOpening::ScanFileAnalysis
                                                      : AnalyzeOpening::AnalyzeFile;
        values.formatFromHeader = run_.info.headerValid;
        values.sampleRateHz = run_.info.sampleRate;
        values.fileChannels = run_.info.fileChannels;
        values.beginMsec = run_.beginMsec;
        values.endMsec = run_.endMsec;
        values.scanFinished = s_.analysis.scanFinished;
        const bool ok = runAnalysisDialog(prompts(), DialogId::AnalyzeFile, st_, values,
                                          [this](PaletteName) { rebuildPalette(s_); });
        s_.analysis.scanFinished = values.scanFinished; // the dialog's opening took it
        if (!ok) {
            releaseHeldAnalysis(window_);
            return false;
        }
        rebuildPalette(s_);
        run_.beginMsec = values.beginMsec;
        run_.endMsec = values.endMsec;
        run_.format = {values.sampleRateHz, values.channels, values.bytesPerSample};
        st_.timeScaleMsec = st_.timeScaleMsecSaved;
        pumpMessages();
        return true;
    }

    // The FFT size, the byte range and their checks; with the dialog they send the user back
    // to it.
    Outcome planSegment(bool dialogShown) {
        // A file of more than two channels holds the two the settings name.
        if (!holdChannels(run_.info, st_.fileChannels)) {
            prompts().show(kNoSuchChannel);
        }
        sendFftSize(window_, st_);
        if (repeat_) {
            // The same stretch drawn again at the new size: the bytes the held picture was
            // made of (a Change's stretch, a stopped run's part), not the times re-derived.
            return Outcome::Proceed;
        }
        const int fftSize = st_.fftSize();
        const SegmentRangeInputs rangeIn =
            segmentRangeInputs(run_.info, run_.format, fftSize, run_.beginMsec, run_.endMsec);
        const SegmentPlan plan = planAnalyzeSegment(
            rangeIn, analysisWindowMsec(run_.format.sampleRate, fftSize, st_.resolutionFactor),
            st_.frequencyScale, st_.lowBandHz, st_.highBandHz);
        if (!plan.check.proceeds()) {
            showChecks(plan.check);
            if (dialogShown) {
                return Outcome::Again;
            }
            endWithoutRun();
            return Outcome::End;
        }
        run_.segmentStartByte = plan.range.fileOffset;
        run_.segmentBytes = plan.range.lengthBytes();
        run_.endMsec = plan.range.endMsec;
        return Outcome::Proceed;
    }

    // The segment, replacing what was held, and the pass over it.
    void loadAndAnalyse() {
        if (repeat_) {
            // The picture is drawn again; what Parameters Change kept stays for Restore.
            s_.held = {};
            s_.view.runningScrollImage.reset();
        } else {
            letGoOfHeldData(s_);
        }
        if (!holdSegment(window_, run_)) {
            return;
        }
        s_.analysis.sampleRateHz = run_.format.sampleRate;
        st_.lastMode = 0;
        st_.lastFileMode = 0;
        // Analyze File always shows its image: a plot type left by a scan would leave the
        // picture without axes, readouts or the drag.
        st_.displayType = DisplayType::Scroll;
        s_.control.fileNameBuffer = run_.file;
        window_.showFileInTitle(displayFileName(run_.file));
        if (!fromBatch_) {
            rememberOpenedFile(s_, run_.file);
        }
        run_.stripHeight = s_.view.layout.topBand;
        run_.plotHeight = s_.view.layout.plotHeight;
        s_.analysis.run = run_;
        runAnalysisPass(window_);
    }

    MainWindow& window_;
    AppState& s_;
    AppSettings& st_;
    const int param_;
    const bool fromCommandLine_;
    // The file named beforehand: on the command line, dropped or chosen under Recent Files.
    const bool givenFile_;
    const bool repeat_;
    const bool askForFile_;
    // A batch step takes its file and the parameters in force without asking.
    const bool fromBatch_;
    bool fileFromCommandLine_ = false;
    AnalysisRun run_;
    AppSettings settingsBefore_;
    std::int64_t wholeFileMsec_ = 0;
    bool viewBlanked_ = false;
};

} // namespace

void analyzeFile(MainWindow& window, int param) {
    AnalyzeFileRun(window, param).run();
}

void installAnalyzeFile(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kAnalyzeFile, [w](int param) { analyzeFile(*w, param); });
    window.registerCommand(cmd::kParametersChange, [w](int param) { parametersChange(*w, param); });
    window.registerCommand(cmd::kParametersRestore, [w](int) { parametersRestore(*w); });
    // What Parameters Change kept for Restore goes when the held state is dropped, and at
    // close with everything else.
    window.setReleaseHook([w] {
        AppState& s = w->state();
        s.restore.reset();
        s.analysis.restorePossible = false;
    });
}

} // namespace korv
