#include "modes/analyze_file.h"

#include "modes/analysis_pass.h"

#include "analysis/analyze_segment.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/sound_file.h"
#include "audio/wave_file.h"
#include "base/user_message.h"
#include "dialogs/control_ids.h"
#include "dialogs/parameter_dialog.h"
#include "display/plot_layout.h"
#include "display/spectral_image.h"
#include "modes/batch.h"
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
#include <utility>

namespace korv {

void analyzeFile(MainWindow& window, int param) {
    AppState& s = appState();
    if (s.modeRunning) {
        return;
    }
    AppSettings& st = s.settings;
    // 1. Display state.
    st.timeScaleMsec =
        st.timeScaleMsecSaved == 0.0f ? kDefaultTimeScaleMsec : st.timeScaleMsecSaved;
    // The vertical bar stands for the display gain until the pass starts drawing.
    window.setVerticalRange(kLevelPositionMax, st.verticalScrollPos);
    window.verticalBar()->setEnabled(true);
    const bool fromCommandLine = param == cmd::kFromCommandLine;
    const bool repeat = param == cmd::kRepeatAfterResize;
    const bool askForFile = param == cmd::kFromMenu;
    // A batch step takes its file and the parameters in force without asking.
    const bool fromBatch = param == cmd::kFromBatch;
    AnalysisRun run = repeat ? s.run : AnalysisRun{};
    run.commandLine = fromCommandLine;
    // The flag is this command's to use once, whether or not the run gets far.
    const bool fileFromCommandLine = std::exchange(s.fileFromCommandLine, false);
    const AppSettings settingsBefore = st;
    std::int64_t wholeFileMsec = 0;
    // The view is blanked while a new file is prepared, but the held image is kept: a file or
    // run that is refused shows what is still held again, so the picture, the title, the
    // menu and PLAY all speak of the same data.
    bool viewBlanked = false;
    const auto endWithoutRun = [&] {
        if (viewBlanked) {
            window.surface().invalidate();
        }
    };

    // A failed check with the dialog shown opens the dialog again on the same file.
    bool backToDialog = false;
    while (true) {
        if (!backToDialog) {
            // 2. The file.
            if (askForFile) {
                const auto chosen = prompts().openFile(
                    soundFileRequest(QStringLiteral("Analyze File"), st.lastFolder));
                if (!chosen) {
                    endWithoutRun();
                    return;
                }
                run.file = fileNameBytes(*chosen);
                viewBlanked = true;
                window.clearDrawingArea();
            } else if (fromCommandLine) {
                run.file = s.fileNameBuffer;
            } else if (param == cmd::kFromScanStop) {
                run.file = s.fileNameBuffer;
            } else if (fromBatch) {
                run.file = batchFile();
            }
            // 4-6. Open and parse.
            const WaveParseResult parsed = openSoundFile(run.file);
            if (parsed.openedFolder) {
                st.lastFolder = *parsed.openedFolder;
            }
            if (parsed.message) {
                prompts().show(*parsed.message);
            }
            if (parsed.status == WaveParseStatus::SampleSizeTooSmall && askForFile) {
                continue;
            }
            if (!parsed.goesOn()) {
                endWithoutRun();
                return;
            }
            run.info = parsed.info;
            const WaveFileInfo& info = run.info;
            // 7. The default segment: the whole file. A repeat keeps the run's segment and
            // format (a header-less file's format is the one chosen in the dialog).
            wholeFileMsec = waveDataMsec(info);
            if (!repeat) {
                run.format = {info.sampleRate, info.channels, info.bitsPerSample / 8};
                st.resolutionChoice =
                    info.bitsPerSample == 8 ? RESOLUTION_8_BIT : RESOLUTION_16_BIT;
                st.typeChoice = info.channels == 2 ? TYPE_STEREO : TYPE_MONO;
                if (param == cmd::kFromScanStop) {
                    run.beginMsec = s.scanStopBeginMsec;
                    run.endMsec = s.scanStopEndMsec;
                } else {
                    run.beginMsec = 0;
                    run.endMsec = wholeFileMsec;
                }
            }
        } else if (askForFile || fromCommandLine) {
            // The dialog comes back on the whole file, not on the refused stretch.
            run.beginMsec = 0;
            run.endMsec = wholeFileMsec;
        }
        backToDialog = false;
        const WaveFileInfo& info = run.info;

        // 8. Parameters.
        bool dialogShown = false;
        if (fromCommandLine && s.autoRun) {
            s.autoRun = false;
            useAnalyzeFileScale(st);
            // The band comes from the command line; a Log scale left in the settings cannot
            // show one from 0, so such a start is shown on the Linear scale.
            if (st.freqScaleChoice == FREQ_SCALE_LOG && st.lowBandHz <= 0) {
                st.freqScaleChoice = FREQ_SCALE_LINEAR;
            }
            const AutomaticParameters automatic =
                commandLineParameters(info.sampleRate, s.layout.clientWidth, s.layout.clientHeight);
            applyAutomaticParameters(automatic, st);
            showChecks(automatic.check);
            if (!automatic.check.proceeds()) {
                return;
            }
            st.timeScaleMsec = automatic.timeScaleMsec;
        } else if (fileFromCommandLine || st.variablesChoice == cmd::kVariablesFreeze || repeat ||
                   fromBatch) {
            useAnalyzeFileScale(st);
            if (fileFromCommandLine) {
                const BandLimits band = forcedBandLimits(st.freqScaleChoice, info.sampleRate);
                st.lowBandHz = band.lowBandHz;
                st.highBandHz = band.highBandHz;
            }
            // The limit was set for another file's rate; only a user's own start hears of it.
            if (limitHighBandToHalfRate(st.highBandHz, run.format.sampleRate) && !repeat &&
                !fromBatch) {
                prompts().show(highestFrequencyLimitedMessage());
            }
        } else {
            RunValues values;
            values.opening = param == cmd::kFromScanStop ? AnalyzeOpening::ScanFileAnalysis
                                                         : AnalyzeOpening::AnalyzeFile;
            values.formatFromHeader = info.headerValid;
            values.sampleRateHz = info.sampleRate;
            values.fileChannels = info.fileChannels;
            values.beginMsec = run.beginMsec;
            values.endMsec = run.endMsec;
            if (!runAnalysisDialog(prompts(), DialogId::AnalyzeFile, st, values,
                                   [](std::int32_t) { rebuildPalette(); })) {
                releaseHeldAnalysis(window);
                return;
            }
            dialogShown = true;
            rebuildPalette();
            run.beginMsec = values.beginMsec;
            run.endMsec = values.endMsec;
            run.format = {values.sampleRateHz, values.channels, values.bytesPerSample};
            st.timeScaleMsec = st.timeScaleMsecSaved;
            pumpMessages();
        }

        // A file of more than two channels holds the two the settings name.
        if (!holdChannels(run.info, fileChannelsOf(st))) {
            prompts().show(kNoSuchChannel);
        }

        // 9. The FFT size and the byte range.
        sendFftSize(st);
        const int fftSize = fftSizeFromChoice(st.fftSizeChoice);
        const SegmentRangeInputs rangeIn =
            segmentRangeInputs(info, run.format, fftSize, run.beginMsec, run.endMsec);
        // 10. The checks; with the dialog they send the user back to it.
        const SegmentPlan plan = planAnalyzeSegment(
            rangeIn, analysisWindowMsec(run.format.sampleRate, fftSize, st.resolutionFactor),
            st.freqScaleChoice, st.lowBandHz, st.highBandHz);
        if (!plan.check.proceeds()) {
            showChecks(plan.check);
            if (dialogShown) {
                backToDialog = true;
                continue;
            }
            endWithoutRun();
            return;
        }
        // 11. The run's record.
        run.segmentStartByte = plan.range.fileOffset;
        run.segmentBytes = plan.range.lengthBytes();
        run.endMsec = plan.range.endMsec;
        break;
    }

    // 13. Hop and columns, asked before anything held is let go: a refused run leaves the
    // image and data as they were, with the values from before it.
    if (!deriveColumns(run, st)) {
        copyAnalysisValues(settingsBefore, st);
        sendCommand(cmd::kParametersRestore, 0);
        endWithoutRun();
        return;
    }
    if (!analysisFitsMemory(window, run)) {
        return;
    }
    // 12. The segment, replacing what was held.
    letGoOfHeldData();
    SegmentResult segment = loadSegment(run.file, run.segmentStartByte, run.segmentBytes,
                                        run.waveFormat(), processAllocations(), run.info.source());
    if (!segment.store) {
        if (segment.message) {
            prompts().show(*segment.message);
        }
        if (segment.reloadSettings) {
            reloadAfterMemoryFailure(window);
        }
        return;
    }
    s.samples = std::move(segment.store);
    s.sampleRateHz = run.format.sampleRate;
    st.lastMode = 0;
    st.lastFileMode = 0;
    // Analyze File always shows its image: a plot type left by a scan would leave the picture
    // without axes, readouts or the drag.
    st.displayTypeChoice = DISPLAY_SCROLL;
    s.fileNameBuffer = run.file;
    window.showFileInTitle(displayFileName(run.file));
    run.stripHeight = s.layout.topBand;
    run.plotHeight = s.layout.plotHeight;
    s.run = run;
    runAnalysisPass(window);
}

void installAnalyzeFile(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kAnalyzeFile, [w](int param) { analyzeFile(*w, param); });
    window.registerCommand(cmd::kParametersChange, [w](int param) { parametersChange(*w, param); });
    window.registerCommand(cmd::kParametersRestore, [w](int) { parametersRestore(*w); });
    // What Parameters Change kept for Restore goes when the held state is dropped, and at
    // close with everything else.
    window.setReleaseHook([] {
        AppState& s = appState();
        s.previousImage.reset();
        s.previousSamples.reset();
        s.previousKept = false;
        s.restorePossible = false;
    });
}

} // namespace korv
