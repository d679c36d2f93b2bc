// Parameters Change (40005) analyses the held file again with values from dialog 102 (from the
// menu, or for a dragged stretch of the image); Parameters Restore (40023) brings back the
// image, samples and values from before it.

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/wave_file.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/control_ids.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/parameter_rules.h"
#include "modes/analysis_pass.h"
#include "modes/analyze_file.h"
#include "platform/commands.h"
#include "platform/prompts.h"

#include <QPushButton>
#include <QScrollBar>

namespace korv {

namespace {

// Cancel: the kept image and samples are current again, the values never changed.
void putKeptStateBack(MainWindow& window) {
    AppState& s = window.state();
    s.spectralImage = std::move(s.previousImage);
    s.samples = std::move(s.previousSamples);
    s.previousSamples.reset();
    s.previousKept = false;
    window.redrawView(true);
}

std::int64_t msecToFrames(std::int64_t msec, std::int32_t rate) {
    return msec * rate / 1000;
}

} // namespace

bool keepStateForRestore(AppState& s) {
    if (s.previousKept) {
        return false;
    }
    s.previousImage = std::move(s.spectralImage);
    s.previousSamples = std::move(s.samples);
    s.samples.reset();
    s.previousRun = s.run;
    s.previousSettings = s.settings;
    s.previousHScroll = s.hScroll;
    s.previousVScrollRowPos = s.vScrollRowPos;
    s.previousVScrollRowMax = s.vScrollRowMax;
    s.previousFftSizeExponent = s.fftSizeExponent;
    s.previousKept = true;
    return true;
}

void copyAnalysisValues(const AppSettings& from, AppSettings& to) {
    to.lastMode = from.lastMode;
    to.sampleRateChoice = from.sampleRateChoice;
    to.resolutionChoice = from.resolutionChoice;
    to.fftSizeChoice = from.fftSizeChoice;
    to.paletteChoice = from.paletteChoice;
    to.dbScaleChoice = from.dbScaleChoice;
    to.displayTypeChoice = from.displayTypeChoice;
    to.analysisAtStopChoice = from.analysisAtStopChoice;
    to.freqScaleChoice = from.freqScaleChoice;
    to.channelChoice = from.channelChoice;
    to.typeChoice = from.typeChoice;
    to.plotTypeChoice = from.plotTypeChoice;
    to.scrollMemChoice = from.scrollMemChoice;
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
    to.pitchDetectorChoice = from.pitchDetectorChoice;
}

void parametersChange(MainWindow& window, int param) {
    AppState& s = window.state();
    if (s.modeRunning || (!s.spectralImage && !s.previousKept)) {
        return;
    }
    closeColourDialog();
    if (s.imageLog) {
        // Log Data: the held segment analysed again as it is, each column written to the log.
        if (s.spectralImage && s.samples) {
            runAnalysisPass(window);
        }
        return;
    }
    const bool keptNow = keepStateForRestore(s);
    window.redrawView(false);

    // The segment loaded now is the one analysed again: after an earlier Change that is its
    // stretch, not the one kept for Restore (a drag measures in the image shown).
    AnalysisRun run = s.run;
    const std::int32_t oldRate = run.format.sampleRate;
    const std::int64_t heldFrames = run.segmentBytes / std::max(1, run.bytesPerFrame());
    RunValues values;
    values.opening = AnalyzeOpening::ParametersChange;
    values.formatFromHeader = run.info.headerValid;
    values.sampleRateHz = oldRate;
    if (param == 1 && s.selection) {
        // A dragged stretch: its bytes inside the held segment.
        const std::int64_t byteRate = static_cast<std::int64_t>(oldRate) * run.bytesPerFrame();
        values.beginMsec = byteRate > 0 ? s.selection->beginByte * 1000 / byteRate : 0;
        values.endMsec = byteRate > 0 ? s.selection->endByte * 1000 / byteRate : 0;
    } else {
        values.beginMsec = 0;
        values.endMsec = oldRate > 0 ? heldFrames * 1000 / oldRate : 0;
    }
    s.selection.reset();
    if (param == cmd::kParametersChangeTimeScale) {
        // Only the time scale changed: the rest as the held analysis has it.
        values.channels = run.format.channels;
        values.bytesPerSample = run.format.bytesPerSample;
        values.analysisWindowMsec = analysisWindowMsec(
            oldRate, fftSizeFromChoice(s.settings.fftSizeChoice), s.settings.resolutionFactor);
    } else if (!runAnalysisDialog(prompts(), DialogId::AnalyzeFile, s.settings, values,
                                  [&window](std::int32_t) { rebuildPalette(window.state()); })) {
        // A Change after an earlier one leaves that one's image current; there is nothing to
        // put back then, and the kept state still waits for Restore.
        if (keptNow) {
            putKeptStateBack(window);
        } else {
            window.redrawView(true);
        }
        return;
    }
    rebuildPalette(window.state());
    s.settings.timeScaleMsec = s.settings.timeScaleMsecSaved;

    sendFftSize(s.settings);
    // A rate changed with "New" rescaled begin and end to the same samples at the new rate.
    const std::int32_t newRate = values.sampleRateHz;
    ParametersChangeInputs in;
    in.beginFrame = msecToFrames(values.beginMsec, newRate);
    in.endFrame = msecToFrames(values.endMsec, newRate);
    // Data without a header is read as the dialog now says (for a wave file these are its
    // own channels and sample size).
    run.format.channels = values.channels;
    run.format.bytesPerSample = values.bytesPerSample;
    in.loadedFrames = run.segmentBytes / std::max(1, run.bytesPerFrame());
    in.fftSize = fftSizeFromChoice(s.settings.fftSizeChoice);
    in.sampleRate = newRate;
    in.timeScaleMsec = s.settings.timeScaleMsec;
    in.analysisWindowMsec = values.analysisWindowMsec;
    in.bytesPerFrame = run.bytesPerFrame();
    in.freqScaleChoice = s.settings.freqScaleChoice;
    in.lowBandHz = s.settings.lowBandHz;
    in.highBandHz = s.settings.highBandHz;
    const ParametersChangeCheck check = checkParametersChange(in);
    if (!check.check.proceeds()) {
        showChecks(check.check);
        s.restorePossible = true;
        sendCommand(cmd::kParametersRestore, 0);
        return;
    }
    run.format.sampleRate = check.sampleRate;
    const std::int64_t begin = in.beginFrame * run.bytesPerFrame();
    const std::int64_t length = (check.endFrame - in.beginFrame) * run.bytesPerFrame();
    run.segmentStartByte += begin;
    run.segmentBytes = length;
    const std::int64_t heldBeginMsec = rescaleMsec(s.run.beginMsec, oldRate, check.sampleRate);
    run.beginMsec = heldBeginMsec + values.beginMsec;
    run.endMsec = heldBeginMsec + values.endMsec;

    SegmentResult segment = loadSegment(run.file, run.segmentStartByte, length, run.waveFormat(),
                                        processAllocations(), run.info.source());
    if (!segment.store) {
        if (segment.message) {
            prompts().show(*segment.message);
        }
        if (segment.reloadSettings) {
            reloadAfterMemoryFailure(window);
        } else {
            s.restorePossible = true;
            sendCommand(cmd::kParametersRestore, 0);
        }
        return;
    }
    s.spectralImage.reset();
    s.samples = std::move(segment.store);
    s.restorePossible = true;
    s.sampleRateHz = run.format.sampleRate;
    if (!deriveColumns(run, s.settings)) {
        sendCommand(cmd::kParametersRestore, 0);
        return;
    }
    run.stripHeight = s.layout.topBand;
    run.plotHeight = s.layout.plotHeight;
    run.commandLine = false;
    s.run = run;
    window.surface().invalidate();
    runAnalysisPass(window);
}

void parametersRestore(MainWindow& window) {
    AppState& s = window.state();
    if (!s.restorePossible || !s.previousKept || s.modeRunning) {
        return;
    }
    closeColourDialog();
    s.spectralImage = std::move(s.previousImage);
    s.samples = std::move(s.previousSamples);
    s.previousSamples.reset();
    s.plotImage.reset(); // a point spectrum's plot
    s.previousKept = false;
    s.restorePossible = false;
    s.run = s.previousRun;
    copyAnalysisValues(s.previousSettings, s.settings);
    s.hScroll = s.previousHScroll;
    s.vScrollRowPos = s.previousVScrollRowPos;
    s.vScrollRowMax = s.previousVScrollRowMax;
    s.fftSizeExponent = s.previousFftSizeExponent;
    s.fftAbove512 = s.fftSizeExponent > MIN_LOG2_FFT_SIZE;
    s.sampleRateHz = s.run.format.sampleRate;
    s.settings.lastFileMode = 0;
    s.logDataAvailable = false;
    s.scanRestoreAvailable = false;
    s.settings.displayTypeChoice = DISPLAY_SCROLL;
    s.settings.scrollMemChoice = SCROLL_MEM_OFF;
    if (s.samples) {
        buildWaveHeader(s.samples->header(), s.run.waveFormat(),
                        static_cast<std::uint32_t>(s.samples->heldBytes()));
    }
    window.horizontalBar()->setRange(0, s.hScroll.max);
    window.horizontalBar()->setValue(s.hScroll.pos);
    window.verticalBar()->setValue(s.settings.verticalScrollPos);
    menuStateImage(window);
    window.updatePlayButton();
    window.button(cmd::kPlayWindow)->setEnabled(true);
    window.button(cmd::kGrid)->setEnabled(true);
    rebuildPalette(window.state());
    s.axesShown = true;
    window.surface().invalidate();
}

} // namespace korv
