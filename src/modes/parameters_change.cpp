// Parameters Change (40005) analyses the held file again with values from dialog 102 (from the
// menu, or for a dragged stretch of the image); Parameters Restore (40023) brings back the
// image, samples and values from before it.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/wave_file.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/parameter_rules.h"
#include "modes/analysis_pass.h"
#include "modes/analyze_file.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace korv {

namespace {

// Cancel: the kept image and samples are current again, the values never changed.
void putKeptStateBack(MainWindow& window) {
    AppState& s = window.state();
    s.held = std::move(s.restore->held);
    s.restore.reset();
    window.redrawView(true);
}

std::int64_t msecToFrames(std::int64_t msec, std::int32_t rate) {
    return msec * rate / 1000;
}

} // namespace

bool keepStateForRestore(AppState& s) {
    if (s.restore) {
        return false;
    }
    // The run stays: the next pass starts from it.
    s.restore = RestoreCopy{std::exchange(s.held, {}), s.analysis.run, s.settings, s.view.scroll,
                            s.analysis.fftSizeExponent};
    return true;
}

void copyAnalysisValues(const AppSettings& from, AppSettings& to) {
    to.lastMode = from.lastMode;
    to.inputSampleRateHz = from.inputSampleRateHz;
    to.resolutionBits = from.resolutionBits;
    to.log2FftSize = from.log2FftSize;
    to.palette = from.palette;
    to.dbRange = from.dbRange;
    to.displayType = from.displayType;
    to.analysisAtStop = from.analysisAtStop;
    to.frequencyScale = from.frequencyScale;
    to.channel = from.channel;
    to.stereo = from.stereo;
    to.plotType = from.plotType;
    to.scrollMemory = from.scrollMemory;
    to.timeScaleMsecSaved = from.timeScaleMsecSaved;
    to.timeScaleMsec = from.timeScaleMsec;
    to.levelScaleCode = from.levelScaleCode;
    to.verticalScrollPos = from.verticalScrollPos;
    to.lowBandHz = from.lowBandHz;
    to.highBandHz = from.highBandHz;
    to.averageCountScroll = from.averageCountScroll;
    to.averageCountPlot = from.averageCountPlot;
    to.freqResolutionHz = from.freqResolutionHz;
    to.resolutionFactor = from.resolutionFactor;
    to.cursorOffsetHz = from.cursorOffsetHz;
    to.pitchDetector = from.pitchDetector;
}

namespace {

// One Parameters Change: the values asked for the held segment, checked, the stretch loaded
// again and analysed.
class ParametersChangeRun {
  public:
    ParametersChangeRun(MainWindow& window, int param)
        : window_(window), s_(window.state()), param_(param) {}

    void run() {
        if (s_.control.modeRunning || (!s_.held.spectralImage && !s_.restore)) {
            return;
        }
        closeColourDialog(&window_);
        if (s_.logs.imageLog) {
            // Log Data: the held segment analysed again as it is, each column written to the
            // log.
            if (s_.held.spectralImage && s_.held.segmentHeld()) {
                runAnalysisPass(window_);
            }
            return;
        }
        keptNow_ = keepStateForRestore(s_);
        window_.redrawView(false);
        // The segment loaded now is the one analysed again: after an earlier Change that is
        // its stretch, not the one kept for Restore (a drag measures in the image shown).
        run_ = s_.analysis.run;
        oldRate_ = run_.format.sampleRate;
        if (!askValues()) {
            return;
        }
        const std::optional<ParametersChangeCheck> check = checkValues();
        if (!check) {
            s_.analysis.restorePossible = true;
            window_.commands().send(cmd::kParametersRestore, 0);
            return;
        }
        loadAndAnalyse(*check);
    }

  private:
    // The values from the dialog, or the held ones with only the time scale new; false when
    // the command ends here.
    bool askValues() {
        const std::int64_t heldFrames = run_.segmentBytes / std::max(1, run_.bytesPerFrame());
        values_.opening = AnalyzeOpening::ParametersChange;
        values_.formatFromHeader = run_.info.headerValid;
        values_.sampleRateHz = oldRate_;
        if (param_ == 1 && s_.analysis.selection) {
            // A dragged stretch: its bytes inside the held segment.
            const std::int64_t byteRate =
                static_cast<std::int64_t>(oldRate_) * run_.bytesPerFrame();
            values_.beginMsec =
                byteRate > 0 ? s_.analysis.selection->beginByte * 1000 / byteRate : 0;
            values_.endMsec = byteRate > 0 ? s_.analysis.selection->endByte * 1000 / byteRate : 0;
        } else {
            values_.beginMsec = 0;
            values_.endMsec = oldRate_ > 0 ? heldFrames * 1000 / oldRate_ : 0;
        }
        s_.analysis.selection.reset();
        AppSettings& st = s_.settings;
        if (param_ == cmd::kParametersChangeTimeScale || param_ == cmd::kParametersChangeBand) {
            // Only the time scale or the band changed: the rest as the held analysis has it.
            values_.channels = run_.format.channels;
            values_.bytesPerSample = run_.format.bytesPerSample;
            values_.analysisWindowMsec =
                analysisWindowMsec(oldRate_, st.fftSize(), st.resolutionFactor);
        } else {
            values_.scanFinished = s_.analysis.scanFinished;
            const bool ok = runAnalysisDialog(prompts(), DialogId::AnalyzeFile, st, values_,
                                              [this](PaletteName) { rebuildPalette(s_); });
            s_.analysis.scanFinished = values_.scanFinished; // the dialog's opening took it
            if (!ok) {
                // A Change after an earlier one leaves that one's image current; there is
                // nothing to put back then, and the kept state still waits for Restore.
                if (keptNow_) {
                    putKeptStateBack(window_);
                } else {
                    window_.redrawView(true);
                }
                return false;
            }
        }
        rebuildPalette(s_);
        st.timeScaleMsec = st.timeScaleMsecSaved;
        sendFftSize(window_, st);
        return true;
    }

    // The new values against the held segment; nothing, with the messages shown, when they
    // make no run.
    std::optional<ParametersChangeCheck> checkValues() {
        const AppSettings& st = s_.settings;
        // A rate changed with "New" rescaled begin and end to the same samples at the new rate.
        const std::int32_t newRate = values_.sampleRateHz;
        in_.beginFrame = msecToFrames(values_.beginMsec, newRate);
        in_.endFrame = msecToFrames(values_.endMsec, newRate);
        // Data without a header is read as the dialog now says (for a wave file these are its
        // own channels and sample size).
        run_.format.channels = values_.channels;
        run_.format.bytesPerSample = values_.bytesPerSample;
        in_.loadedFrames = run_.segmentBytes / std::max(1, run_.bytesPerFrame());
        in_.fftSize = st.fftSize();
        in_.sampleRate = newRate;
        in_.timeScaleMsec = st.timeScaleMsec;
        in_.analysisWindowMsec = values_.analysisWindowMsec;
        in_.bytesPerFrame = run_.bytesPerFrame();
        in_.frequencyScale = st.frequencyScale;
        in_.lowBandHz = st.lowBandHz;
        in_.highBandHz = st.highBandHz;
        const ParametersChangeCheck check = checkParametersChange(in_);
        if (!check.check.proceeds()) {
            showChecks(check.check);
            return std::nullopt;
        }
        return check;
    }

    // The stretch loaded in place of the held segment, and the pass over it.
    void loadAndAnalyse(const ParametersChangeCheck& check) {
        run_.format.sampleRate = check.sampleRate;
        const std::int64_t begin = in_.beginFrame * run_.bytesPerFrame();
        const std::int64_t length = (check.endFrame - in_.beginFrame) * run_.bytesPerFrame();
        run_.segmentStartByte += begin;
        run_.segmentBytes = length;
        const std::int64_t heldBeginMsec =
            rescaleMsec(s_.analysis.run.beginMsec, oldRate_, check.sampleRate);
        run_.beginMsec = heldBeginMsec + values_.beginMsec;
        // An end pulled back to the held data is stored as it was analysed.
        run_.endMsec = heldBeginMsec + (check.endFrame == in_.endFrame
                                            ? values_.endMsec
                                            : check.endFrame * 1000 / check.sampleRate);
        if (!holdSegment(window_, run_)) {
            // After a memory failure nothing is kept to go back to.
            if (s_.restore) {
                s_.analysis.restorePossible = true;
                window_.commands().send(cmd::kParametersRestore, 0);
            }
            return;
        }
        s_.held.spectralImage.reset();
        s_.analysis.restorePossible = true;
        s_.analysis.sampleRateHz = run_.format.sampleRate;
        if (!deriveColumns(run_, s_.settings)) {
            window_.commands().send(cmd::kParametersRestore, 0);
            return;
        }
        run_.stripHeight = s_.view.layout.topBand;
        run_.plotHeight = s_.view.layout.plotHeight;
        run_.commandLine = false;
        s_.analysis.run = run_;
        window_.surface().invalidate();
        runAnalysisPass(window_);
    }

    MainWindow& window_;
    AppState& s_;
    const int param_;
    bool keptNow_ = false;
    AnalysisRun run_;
    std::int32_t oldRate_ = 0;
    RunValues values_;
    ParametersChangeInputs in_;
};

} // namespace

void parametersChange(MainWindow& window, int param) {
    ParametersChangeRun(window, param).run();
}

void parametersRestore(MainWindow& window) {
    AppState& s = window.state();
    if (!s.analysis.restorePossible || !s.restore || s.control.modeRunning) {
        return;
    }
    closeColourDialog(&window);
    RestoreCopy kept = std::move(*s.restore);
    s.restore.reset();
    s.held = std::move(kept.held);
    s.view.plotImage.reset(); // a point spectrum's plot
    s.analysis.restorePossible = false;
    s.analysis.run = kept.run;
    copyAnalysisValues(kept.settings, s.settings);
    s.view.scroll = kept.scroll;
    s.analysis.fftSizeExponent = kept.fftSizeExponent;
    s.analysis.fftAbove512 = s.analysis.fftSizeExponent > MIN_LOG2_FFT_SIZE;
    s.analysis.sampleRateHz = s.analysis.run.format.sampleRate;
    s.settings.lastFileMode = 0;
    s.logs.logDataAvailable = false;
    s.analysis.scanRestoreAvailable = false;
    s.settings.displayType = DisplayType::Scroll;
    s.view.scrollMemoryShown = false;
    if (s.held.samples) {
        buildWaveHeader(s.held.samples->header(), s.analysis.run.waveFormat(),
                        static_cast<std::uint32_t>(s.held.samples->heldBytes()));
    }
    window.horizontalBar()->setRange(0, s.view.scroll.h.max);
    window.horizontalBar()->setValue(s.view.scroll.h.pos);
    window.verticalBar()->setValue(s.settings.verticalScrollPos);
    menuStateImage(window);
    window.updatePlayButton();
    window.button(cmd::kPlayWindow)->setEnabled(true);
    window.button(cmd::kGrid)->setEnabled(true);
    rebuildPalette(window.state());
    s.view.axesShown = true;
    window.surface().invalidate();
}

} // namespace korv
