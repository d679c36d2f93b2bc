#include "modes/scan_file.h"

#include "modes/scan_notes.h"

#include "modes/analysis_pass.h"
#include "modes/analyze_file.h"
#include "modes/play.h"
#include "modes/scan_file_source.h"
#include "modes/scroll_display.h"

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "app/playback_view.h"
#include "app/spectral_view.h"
#include "audio/playback_messages.h"
#include "audio/sample_encoding.h"
#include "audio/sound_file.h"
#include "audio/wave_parser.h"
#include "base/user_message.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "display/view_draw.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace korv {

namespace {

ScanPlotDisplayFactory& plotFactory() {
    static ScanPlotDisplayFactory factory;
    return factory;
}

ScanFileResult& result() {
    static ScanFileResult r;
    return r;
}

Clock& windowClock(MainWindow& window) {
    static RealClock real;
    return window.options().clock != nullptr ? *window.options().clock : real;
}

// The display type and scale a scan can show: without the plot displays, a plot type scans as
// the Scroll display; the Scroll display has no Oct/3 rows.
void settleDisplay(AppSettings& st, std::int32_t rate) {
    if (st.displayTypeChoice != DISPLAY_SCROLL && !plotFactory()) {
        st.displayTypeChoice = DISPLAY_SCROLL;
    }
    if (st.displayTypeChoice == DISPLAY_SCROLL && st.freqScaleChoice == FREQ_SCALE_THIRD_OCTAVE) {
        st.freqScaleChoice = FREQ_SCALE_LINEAR;
        st.lowBandHz = 0;
        st.highBandHz = rate / 2;
    }
}

// The parameters without a dialog (command line, Freeze, a re-scan); false when the run ends.
bool parametersWithoutDialog(AppState& s, const WaveFileInfo& info, bool autoRun,
                             bool fileFromCommandLine) {
    AppSettings& st = s.settings;
    if (autoRun) {
        const AutomaticParameters automatic =
            commandLineParameters(s, info.sampleRate, s.layout.plotWidth, s.layout.plotHeight);
        st.highBandHz = automatic.highBandHz;
        showChecks(automatic.check);
        if (!automatic.check.proceeds()) {
            return false;
        }
        st.timeScaleMsec = automatic.timeScaleMsec;
    } else {
        st.timeScaleMsec = st.timeScaleMsecSaved;
        if (fileFromCommandLine) {
            const BandLimits band = forcedBandLimits(st.freqScaleChoice, info.sampleRate);
            st.lowBandHz = band.lowBandHz;
            st.highBandHz = band.highBandHz;
        }
        if (limitHighBandToHalfRate(st.highBandHz, info.sampleRate)) {
            prompts().show(highestFrequencyLimitedMessage());
        }
    }
    const int n = fftSizeFromChoice(st.fftSizeChoice);
    st.freqResolutionHz =
        static_cast<float>(freqResolutionHz(info.sampleRate, n, st.resolutionFactor));
    return true;
}

// Everything the scan held goes; the menus come back.
void endScanState(MainWindow& window) {
    AppState& s = window.state();
    s.modeHoldsSurfaces = false;
    s.scanDrawing = false;
    menuStateIdle(window);
    window.button(cmd::kGrid)->setEnabled(true);
}

} // namespace

PointSpan pointSpectrumSpan(std::int64_t pointEndByte, std::int64_t dataBytes, int frameBytes,
                            std::int64_t fftSize, int averageCount) {
    PointSpan span;
    if (frameBytes <= 0 || fftSize <= 0 || dataBytes <= 0) {
        return span;
    }
    // A click near the end of the data would reach past it.
    const std::int64_t end =
        std::clamp<std::int64_t>(pointEndByte, 0, dataBytes - dataBytes % frameBytes);
    const std::int64_t reach = (std::max(averageCount, 1) / 4 + 1) * fftSize * frameBytes;
    span.startByte = std::max<std::int64_t>(end - reach, 0);
    span.startByte -= span.startByte % frameBytes;
    span.bytes = std::max<std::int64_t>(end - span.startByte, 0);
    return span;
}

void setScanPlotDisplayFactory(ScanPlotDisplayFactory factory) {
    plotFactory() = std::move(factory);
}

bool scanPointSpectrumAvailable() {
    return static_cast<bool>(plotFactory());
}

const ScanFileResult& lastScanFile() {
    return result();
}

bool prepareScrollImage(MainWindow& window, int channels) {
    AppState& s = window.state();
    const PlotLayout& l = s.layout;
    auto image =
        SpectralImage::create({l.plotWidth, l.plotWidth, l.plotHeight, l.topBand, channels});
    if (!image) {
        prompts().show(kNotEnoughMemory);
        reloadAfterMemoryFailure(window);
        return false;
    }
    const bool kept = s.settings.scrollMemChoice == SCROLL_MEM_ON;
    // The last scan's picture goes: this one takes its place.
    (kept ? s.runningScrollImage : s.spectralImage).reset();
    (kept ? s.spectralImage : s.runningScrollImage) =
        CountedBlock<SpectralImage>(std::move(*image));
    return true;
}

void startScanRun(AppState& s, const RunFormat& format, const RunParameters& params) {
    s.run = AnalysisRun{};
    s.run.format = format;
    s.run.params = params;
    s.run.params.columnMsec = s.settings.timeScaleMsec;
    s.run.stripHeight = s.layout.topBand;
    s.run.plotHeight = s.layout.plotHeight;
}

void releaseScanImages(AppState& s) {
    s.spectralImage.reset();
    s.runningScrollImage.reset();
}

std::unique_ptr<ScanDisplay> makeScanDisplay(MainWindow& window, AppSettings& st, int channels,
                                             ScanLoopInputs& in) {
    AppState& s = window.state();
    const PlotLayout& l = s.layout;
    if (st.displayTypeChoice == DISPLAY_SCROLL) {
        in.averageCount = st.averageCountScroll;
        ScrollLayout layout;
        layout.viewWidth = l.plotWidth;
        layout.plotHeight = l.plotHeight;
        layout.stripHeight = l.topBand;
        layout.dataChannels = channels;
        layout.dual = dualStereoView(st);
        layout.shownChannel = channels == 2 && st.channelChoice == CHANNEL_RIGHT
                                  ? SPECTRAL_RIGHT_CHANNEL
                                  : SPECTRAL_LEFT_CHANNEL;
        layout.dbScaleChoice = st.dbScaleChoice;
        layout.pitch = in.pitchDetector;
        layout.freqScaleChoice = st.freqScaleChoice;
        layout.lowBandHz = st.lowBandHz;
        layout.highBandHz = st.highBandHz;
        layout.charWidth = l.charWidth;
        layout.lineHeight = l.charHeight;
        layout.marker1Hz = st.marker1Hz;
        layout.marker2Hz = st.marker2Hz;
        layout.paintLabel = [&window](const ViewDrawing& label, IndexedSurface& image) {
            paintViewDrawing(image, label, window.controlFont());
        };
        layout.axisColumns = kFrequencyAxisChars * l.charWidth;
        layout.redrawAxis = [&window, columns = layout.axisColumns] {
            const AppState& now = window.state();
            const PlotLayout& shown = now.layout;
            window.blitView({0, 0, columns, shown.plotHeight});
            if (dualStereoView(now.settings)) {
                window.blitView({dualRightPaneX(shown.plotWidth), 0, columns, shown.plotHeight});
            }
            drawFrequencyAxis(window.surface(), currentViewGeometry(window.state()),
                              window.controlFont());
        };
        SpectralImage* image = s.spectralImage ? &*s.spectralImage : &*s.runningScrollImage;
        return std::make_unique<ScrollDisplay>(window.surface(), *image, layout);
    }
    in.averageCount = st.averageCountPlot;
    window.setVerticalRange(kLevelPositionMax, levelBarPosition(st.levelScaleCode));
    return plotFactory()(window, st);
}

void scanFile(MainWindow& window, int param) {
    AppState& s = window.state();
    if (s.modeRunning || s.playbackActive || s.inputOpen) {
        return;
    }
    closeColourDialog();
    // The point spectrum: the spectrum plot at a moment of the analysed image, without sound.
    const bool pointMode = param == cmd::kScanPointSpectrum;
    // Again from its finished plot, the analysis kept for Restore.
    if (pointMode && (!scanPointSpectrumAvailable() || !(s.spectralImage || s.previousKept))) {
        return;
    }
    result() = ScanFileResult{};
    AppSettings& st = s.settings;
    const bool fileFromCommandLine = std::exchange(s.fileFromCommandLine, false);
    const bool autoRun = std::exchange(s.autoRun, false);

    // 1. The file and its header.
    std::string file = s.fileNameBuffer;
    if (param == cmd::kFromMenu && !fileFromCommandLine) {
        const auto chosen =
            prompts().openFile(soundFileRequest(QStringLiteral("Scan File"), st.lastFolder));
        if (!chosen) {
            return;
        }
        file = fileNameBytes(*chosen);
    }
    const WaveParseResult parsed = openSoundFile(file);
    if (parsed.openedFolder) {
        st.lastFolder = *parsed.openedFolder;
    }
    if (parsed.message) {
        prompts().show(*parsed.message);
    }
    if (!parsed.goesOn()) {
        return;
    }
    const WaveFileInfo& info = parsed.info;
    st.resolutionChoice = info.bitsPerSample == 8 ? RESOLUTION_8_BIT : RESOLUTION_16_BIT;
    st.typeChoice = info.channels == 2 ? TYPE_STEREO : TYPE_MONO;
    RunFormat format{info.sampleRate, info.channels, info.bitsPerSample / 8};

    // 2. Parameters.
    const bool dialog = !fileFromCommandLine && !autoRun && param == cmd::kFromMenu &&
                        st.variablesChoice != cmd::kVariablesFreeze;
    if (pointMode) {
        // The analysis and its image wait for Parameters Restore.
        (void)keepStateForRestore(s);
        s.restorePossible = true;
        s.scanRestoreAvailable = true;
        RunValues values;
        values.pointMode = true;
        values.formatFromHeader = info.headerValid;
        values.sampleRateHz = info.sampleRate;
        if (!runAnalysisDialog(prompts(), DialogId::SpectrumPlot, st, values,
                               [&window](std::int32_t) { rebuildPalette(window.state()); })) {
            sendCommand(cmd::kParametersRestore, 0);
            return;
        }
        rebuildPalette(window.state());
        format.sampleRate = values.sampleRateHz;
        if (st.displayTypeChoice == DISPLAY_SCROLL) {
            st.displayTypeChoice = DISPLAY_LINE_PLOT;
        }
        pumpMessages();
    } else if (dialog) {
        RunValues values;
        values.formatFromHeader = info.headerValid;
        values.sampleRateHz = info.sampleRate;
        values.endMsec = 0;
        if (!runAnalysisDialog(prompts(), DialogId::ScanFile, st, values,
                               [&window](std::int32_t) { rebuildPalette(window.state()); })) {
            releaseHeldAnalysis(window);
            return;
        }
        rebuildPalette(window.state());
        format.sampleRate = values.sampleRateHz;
        st.timeScaleMsec = st.timeScaleMsecSaved;
        pumpMessages();
    } else if (!parametersWithoutDialog(s, info, autoRun, fileFromCommandLine)) {
        return;
    }
    settleDisplay(st, format.sampleRate);
    if (!(st.timeScaleMsec > 0.0f)) {
        st.timeScaleMsec = kDefaultTimeScaleMsec;
    }
    sendFftSize(st);
    const RunParameters params =
        deriveRunParameters(analysisInputsFrom(st), format, info.dataLength);
    // The bytes scanned: the whole data, or for a point spectrum the span of its last spectra.
    std::int64_t skipBytes = 0;
    std::int64_t dataBytes = info.dataLength;
    if (pointMode) {
        const PointSpan span = pointSpectrumSpan(
            s.pointSpectrumByte, info.dataLength, format.channels * format.bytesPerSample,
            std::int64_t{1} << params.log2FftSize, st.averageCountPlot);
        skipBytes = span.startByte;
        dataBytes = span.bytes;
    }

    // 3. The device, the file, the image and the buffer.
    Playback* playback = windowPlayback();
    if (playback == nullptr) {
        prompts().show(kCannotOpenAudioDevice);
        return;
    }
    // Opened by its bytes, as every reader opens: a name that is no valid text in the
    // locale is still found.
    HeldSampleStream wave;
    if (!wave.open(file, info, skipBytes)) {
        prompts().show(kCannotOpenFile);
        return;
    }
    if (!pointMode) {
        letGoOfHeldData(window.state());
        startScanRun(window.state(), format, params);
    }
    s.plotImage.reset();
    s.fileNameBuffer = file;
    s.sampleRateHz = format.sampleRate;
    st.lastMode = st.displayTypeChoice == DISPLAY_SCROLL ? 3 : LAST_MODE_SCAN_FILE_PLOT;
    st.lastFileMode = FILE_MODE_SCAN;
    window.showFileInTitle(displayFileName(file));
    const PlotLayout& l = s.layout;
    const bool scroll = st.displayTypeChoice == DISPLAY_SCROLL;
    // The plot displays draw into the plot image instead.
    if (scroll && !prepareScrollImage(window, format.channels)) {
        return;
    }
    if (playback
            ->allocateStreamBuffer(
                PcmFormat{format.sampleRate, format.channels, format.bytesPerSample * 8})
            .empty()) {
        releaseScanImages(window.state());
        return; // "Not enough memory" shown and the settings reloaded
    }
    FileScanSource source(*playback, wave, format.channels, format.bytesPerSample, dataBytes);
    const std::size_t firstHalf = source.readFirstHalf();
    s.hScroll = {};
    window.horizontalBar()->setRange(0, 0);
    menuStateRunning(window);
    for (const int id : {cmd::kPlay, cmd::kPlayWindow}) {
        window.button(id)->setEnabled(false);
    }
    window.button(cmd::kGrid)->setEnabled(!scroll);
    window.button(cmd::kStop)->setEnabled(true);
    s.modeHoldsSurfaces = true;
    s.scanDrawing = true;
    s.axesShown = true;
    window.clearDrawingArea();
    if (!pointMode && !playback->openStreamPlayback(dataBytes, firstHalf)) {
        releaseScanImages(window.state());
        endScanState(window);
        window.surface().invalidate();
        return;
    }

    // 4. The loop.
    pumpMessages();
    s.stopRequested = false;
    window.surface().invalidate();
    window.surface().updateNow();
    ScanLoopInputs in = scanLoopInputs(st, format.sampleRate, format.channels, params);
    in.pointMode = pointMode;
    in.startTimeMs = playback->startTimeMs();
    if (MainWindowPlaybackView* view = windowPlaybackView()) {
        in.showTimeNow = [view, &window](double ms) {
            window.state().timeMarkMsec = ms;
            view->showPlayTime(ms);
        };
    }
    std::unique_ptr<ScanDisplay> display = makeScanDisplay(window, st, format.channels, in);
    Clock& clock = windowClock(window);
    ScanRun run;
    window.surface().setPresentInterval(SCAN_PRESENT_INTERVAL_MS);
    const int loop = display ? runScanLoop(in, source, *display, clock, s.stopRequested, run)
                             : SCAN_LOOP_NO_MEMORY;
    window.surface().setPresentInterval(0);

    // 5. Stop and afterwards.
    if (playback->active()) {
        playback->stopPlayback();
    }
    ScanFileResult& r = result();
    r.fileBytesRead = source.fileBytesRead();
    r.columnsDrawn = run.columnsDrawn;
    r.endReached = run.endReached;
    r.deviceLagMs = run.deviceLagMs;
    if (!pointMode && run.columnsDrawn > 0) {
        // The real time per column, so the kept image's time axis matches the sound.
        st.timeScaleMsec = static_cast<float>((run.endMs - run.loopStartMs) /
                                              static_cast<double>(run.columnsDrawn));
    }
    r.timeScaleMsec = st.timeScaleMsec;
    wave.close();
    if (loop != 0) {
        prompts().show(
            loop == SCAN_LOOP_NO_MEMORY
                ? kNotEnoughMemory
                : UserMessage{std::string(MSG_IMPROPER_FREQUENCY_LIMITS), MessageIcon::Stop});
    }
    const std::int64_t bufferBytes = streamBufferBytes(format.channels * format.bytesPerSample);
    const std::int64_t byteRate =
        std::int64_t{format.sampleRate} * format.bytesPerSample * format.channels;
    r.stopMs = std::max<std::int64_t>(0, (r.fileBytesRead - 2 * bufferBytes) * 1000 / byteRate);
    r.endMs = r.stopMs + 3 * bufferBytes * 1000 /
                             (2 * std::int64_t{format.sampleRate} * format.bytesPerSample);
    // Analyze File refuses a span past the file; the last part ends where the data does.
    r.endMs = std::min(r.endMs, std::int64_t{info.dataLength} * 1000 / byteRate);
    r.pointStartByte = skipBytes;
    r.pointBytes = pointMode ? dataBytes : 0;
    if (scroll) {
        s.gridOn = false;
        window.button(cmd::kGrid)->setChecked(false);
    } else {
        s.logDataAvailable = loop == 0;
    }
    // What the readouts of a kept image go by.
    s.run = AnalysisRun{};
    s.run.file = file;
    s.run.info = info;
    s.run.format = format;
    s.run.params = params;
    s.run.params.columnMsec = st.timeScaleMsec;
    if (const auto* kept = dynamic_cast<const ScrollDisplay*>(display.get());
        kept != nullptr && (s.spectralImage || s.runningScrollImage)) {
        // The kept image holds the last screenful: its first column is the file's time of the
        // step drawn there, the start of that step's FFT window.
        if (const std::optional<std::int64_t> end = kept->firstColumnEndFrame()) {
            const std::int64_t first = std::max<std::int64_t>(*end - params.fftSize, 0);
            s.run.segmentStartByte =
                info.dataOffset + skipBytes + first * format.channels * format.bytesPerSample;
        }
    }
    s.run.stripHeight = l.topBand;
    s.run.plotHeight = l.plotHeight;
    endScanState(window);
    window.surface().invalidate();
    const bool resized = std::exchange(s.layoutPending, false);
    if (st.analysisAtStopChoice == ANALYSIS_AT_STOP_ON && !run.endReached && loop == 0) {
        s.scanStopBeginMsec = r.stopMs;
        s.scanStopEndMsec = r.endMs;
        sendCommand(cmd::kAnalyzeFile, cmd::kFromScanStop);
    } else if (scroll && !resized && !s.notesSuppressed) {
        showScanCompleteNote(window, windowClock(window), false);
    }
    if (resized) {
        window.computeLayout();
        postCommand(cmd::kScanFile, cmd::kScanCurrentFile);
    }
}

void installScanFile(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kScanFile, [w](int param) { scanFile(*w, param); });
}

} // namespace korv
