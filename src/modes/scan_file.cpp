#include "modes/scan_file.h"

#include "modes/scan_notes.h"

#include "modes/analysis_pass.h"
#include "modes/analyze_file.h"
#include "modes/play.h"
#include "modes/scan_file_source.h"
#include "modes/scroll_display.h"
#include "modes/sound_level.h"

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/desktop_files.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "audio/playback_messages.h"
#include "audio/sample_encoding.h"
#include "audio/sound_file.h"
#include "audio/wave_parser.h"
#include "base/user_message.h"
#include "dialogs/colour_dialog.h"
#include "dialogs/parameter_dialog.h"
#include "display/view_draw.h"
#include "modes/playback_view.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>

namespace korv {

namespace {

// The plot displays' maker, kept by the window once given.
struct PlotDisplayMaker {
    ScanPlotDisplayFactory make;
};

const ScanPlotDisplayFactory* plotFactory(const MainWindow& window) {
    const PlotDisplayMaker* maker = window.part<PlotDisplayMaker>();
    return maker != nullptr && maker->make ? &maker->make : nullptr;
}

// What the window's last scan did.
struct LastScanFile {
    ScanFileResult result;
};

ScanFileResult& result(MainWindow& window) {
    if (window.part<LastScanFile>() == nullptr) {
        window.keepPart(std::make_shared<LastScanFile>());
    }
    return window.part<LastScanFile>()->result;
}

Clock& windowClock(MainWindow& window) {
    static RealClock real;
    return window.options().clock != nullptr ? *window.options().clock : real;
}

// The display type and scale a scan can show: without the plot displays, a plot type scans as
// the Scroll display; the Scroll display has no Oct/3 rows.
void settleDisplay(AppSettings& st, std::int32_t rate, bool plots) {
    if (st.displayType != DisplayType::Scroll && !plots) {
        st.displayType = DisplayType::Scroll;
    }
    if (st.displayType == DisplayType::Scroll && st.frequencyScale == FrequencyScale::ThirdOctave) {
        st.frequencyScale = FrequencyScale::Linear;
        st.lowBandHz = 0;
        st.highBandHz = rate / 2;
    }
}

// The parameters without a dialog (command line, Freeze, a re-scan); false when the run ends.
bool parametersWithoutDialog(AppState& s, const WaveFileInfo& info, bool autoRun,
                             bool fileFromCommandLine) {
    AppSettings& st = s.settings;
    if (autoRun) {
        const AutomaticParameters automatic = commandLineParameters(
            s, info.sampleRate, s.view.layout.plotWidth, s.view.layout.plotHeight);
        st.highBandHz = automatic.highBandHz;
        showChecks(automatic.check);
        if (!automatic.check.proceeds()) {
            return false;
        }
        st.timeScaleMsec = automatic.timeScaleMsec;
    } else {
        st.timeScaleMsec = st.timeScaleMsecSaved;
        if (fileFromCommandLine) {
            const BandLimits band = forcedBandLimits(st.frequencyScale, info.sampleRate);
            st.lowBandHz = band.lowBandHz;
            st.highBandHz = band.highBandHz;
            s.analysis.highBand = {}; // a band of its own, asked for anew
        }
        if (limitHighBandForRate(st.highBandHz, info.sampleRate, s.analysis.highBand)) {
            prompts().show(highestFrequencyLimitedMessage());
        }
    }
    const int n = st.fftSize();
    st.freqResolutionHz =
        static_cast<float>(freqResolutionHz(info.sampleRate, n, st.resolutionFactor));
    return true;
}

// Everything the scan held goes; the menus come back.
void endScanState(MainWindow& window) {
    AppState& s = window.state();
    s.view.modeHoldsSurfaces = false;
    s.view.scanDrawing = false;
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

void setScanPlotDisplayFactory(MainWindow& window, ScanPlotDisplayFactory factory) {
    window.keepPart(std::make_shared<PlotDisplayMaker>(PlotDisplayMaker{std::move(factory)}));
}

bool scanPointSpectrumAvailable(const MainWindow& window) {
    return plotFactory(window) != nullptr;
}

ScanFileResult lastScanFile(const MainWindow& window) {
    const LastScanFile* kept = window.part<LastScanFile>();
    return kept != nullptr ? kept->result : ScanFileResult{};
}

bool prepareScrollImage(MainWindow& window, int channels) {
    AppState& s = window.state();
    const PlotLayout& l = s.view.layout;
    auto image =
        SpectralImage::create({l.plotWidth, l.plotWidth, l.plotHeight, l.topBand, channels});
    if (!image) {
        prompts().show(kNotEnoughMemory);
        reloadAfterMemoryFailure(window);
        return false;
    }
    const bool kept = s.settings.scrollMemory;
    s.view.scrollMemoryShown = kept;
    // The last scan's picture goes: this one takes its place.
    (kept ? s.view.runningScrollImage : s.held.spectralImage).reset();
    (kept ? s.held.spectralImage : s.view.runningScrollImage) =
        CountedBlock<SpectralImage>(std::move(*image));
    return true;
}

void startScanRun(AppState& s, const RunFormat& format, const RunParameters& params) {
    s.analysis.run = AnalysisRun{};
    s.analysis.run.format = format;
    s.analysis.run.params = params;
    s.analysis.run.params.columnMsec = s.settings.timeScaleMsec;
    s.analysis.run.stripHeight = s.view.layout.topBand;
    s.analysis.run.plotHeight = s.view.layout.plotHeight;
}

void labelKeptColumns(AnalysisRun& run, const ScanDisplay* display, std::int64_t soundStartByte) {
    const auto* scroll = dynamic_cast<const ScrollDisplay*>(display);
    const std::optional<ScrollDisplay::KeptColumns> kept =
        scroll != nullptr ? scroll->keptColumns() : std::nullopt;
    const std::int32_t rate = run.format.sampleRate;
    if (!kept || rate <= 0) {
        return;
    }
    if (const std::optional<double> msec =
            columnMsecFromFrames(kept->firstEndFrame, kept->lastEndFrame, kept->columns, rate)) {
        run.params.columnMsec = *msec;
    }
    // The first column's window; one reaching back before the sound (silence there) begins
    // at the sound's start, and its centre lies that much earlier than a whole window's.
    const std::int64_t first = kept->firstEndFrame - run.params.fftSize;
    const std::int64_t held = std::max<std::int64_t>(first, 0);
    run.segmentStartByte = soundStartByte + held * run.bytesPerFrame();
    run.params.windowCentreMsec = static_cast<double>(first - held) * 1000.0 / rate +
                                  windowCentreMsec(run.params.windowSamples, rate);
}

void releaseScanImages(AppState& s) {
    s.held.spectralImage.reset();
    s.view.scrollMemoryShown = false;
    s.view.runningScrollImage.reset();
}

std::unique_ptr<ScanDisplay> makeScanDisplay(MainWindow& window, AppSettings& st, int channels,
                                             ScanLoopInputs& in) {
    AppState& s = window.state();
    const PlotLayout& l = s.view.layout;
    if (st.displayType == DisplayType::Scroll) {
        in.averageCount = st.averageCountScroll;
        ScrollLayout layout;
        layout.viewWidth = l.plotWidth;
        layout.plotHeight = l.plotHeight;
        layout.stripHeight = l.topBand;
        layout.dataChannels = channels;
        layout.dual = dualStereoView(st);
        layout.shownChannel = channels == 2 && st.channel == StereoChannel::Right
                                  ? SPECTRAL_RIGHT_CHANNEL
                                  : SPECTRAL_LEFT_CHANNEL;
        layout.dbRange = st.dbRange;
        layout.pitch = in.pitchDetector;
        layout.frequencyScale = st.frequencyScale;
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
        const PixelRect legend =
            viewLegendBox(currentViewGeometry(s), window.controlFont(), currentPictureScales(s));
        layout.legendColumn = legend.empty() ? l.plotWidth : legend.x;
        layout.redrawAxis = [&window, columns = layout.axisColumns, legend] {
            const AppState& now = window.state();
            const PlotLayout& shown = now.view.layout;
            window.blitView({0, 0, columns, shown.plotHeight});
            if (dualStereoView(now.settings)) {
                window.blitView({dualRightPaneX(shown.plotWidth), 0, columns, shown.plotHeight});
            }
            window.blitView(legend);
            drawPictureScales(window.surface(), currentViewGeometry(now), window.controlFont(),
                              currentPictureScales(now));
        };
        SpectralImage* image =
            s.held.spectralImage ? &*s.held.spectralImage : &*s.view.runningScrollImage;
        return std::make_unique<ScrollDisplay>(window.surface(), *image, layout);
    }
    in.averageCount = st.averageCountPlot;
    window.setVerticalRange(kLevelPositionMax, levelBarPosition(st.levelScaleCode));
    const ScanPlotDisplayFactory* make = plotFactory(window);
    return make != nullptr ? (*make)(window, st) : nullptr;
}

namespace {

// One Scan File run (or a point spectrum): its steps in order, each taking what the earlier
// ones found.
class ScanFileRun {
  public:
    ScanFileRun(MainWindow& window, int param)
        : window_(window), s_(window.state()), st_(s_.settings), param_(param),
          pointMode_(param == cmd::kScanPointSpectrum) {}

    void run() {
        if (!mayStart()) {
            return;
        }
        result(window_) = ScanFileResult{};
        fileFromCommandLine_ = std::exchange(s_.control.fileFromCommandLine, false);
        autoRun_ = std::exchange(s_.control.autoRun, false);
        if (!openFile() || !chooseParameters()) {
            return;
        }
        deriveRun();
        if (!openSources() || !startRunning()) {
            return;
        }
        scan();
        recordResult();
        keepRun();
        afterwards();
    }

  private:
    bool mayStart() {
        if (s_.control.modeRunning || s_.view.playbackActive || s_.control.inputOpen) {
            return false;
        }
        closeColourDialog(&window_);
        // The point spectrum: the spectrum plot at a moment of the analysed image, without
        // sound; again from its finished plot, the analysis kept for Restore.
        return !pointMode_ ||
               (scanPointSpectrumAvailable(window_) && (s_.held.spectralImage || s_.restore));
    }

    // The file and its header.
    bool openFile() {
        file_ = s_.control.fileNameBuffer;
        if (param_ == cmd::kFromMenu && !fileFromCommandLine_) {
            const auto chosen =
                prompts().openFile(soundFileRequest(QStringLiteral("Scan File"), st_.lastFolder));
            if (!chosen) {
                return false;
            }
            file_ = fileNameBytes(*chosen);
        }
        const WaveParseResult parsed = openSoundFile(file_);
        if (parsed.openedFolder) {
            st_.lastFolder = *parsed.openedFolder;
        }
        if (parsed.message) {
            prompts().show(*parsed.message);
        }
        if (!parsed.goesOn()) {
            return false;
        }
        info_ = parsed.info;
        st_.resolutionBits = info_.bitsPerSample == 8 ? 8 : 16;
        st_.stereo = info_.channels == 2;
        format_ = RunFormat{info_.sampleRate, info_.channels, info_.bitsPerSample / 8};
        return true;
    }

    // The parameters: the point spectrum's dialog, Scan File's, or none.
    bool chooseParameters() {
        const bool dialog = !fileFromCommandLine_ && !autoRun_ && param_ == cmd::kFromMenu &&
                            st_.variables != Variables::Freeze;
        if (pointMode_) {
            return pointParameters();
        }
        if (dialog) {
            return dialogParameters();
        }
        return parametersWithoutDialog(s_, info_, autoRun_, fileFromCommandLine_);
    }

    bool pointParameters() {
        // The analysis and its image wait for Parameters Restore.
        (void)keepStateForRestore(s_);
        s_.analysis.restorePossible = true;
        s_.analysis.scanRestoreAvailable = true;
        RunValues values;
        values.pointMode = true;
        values.formatFromHeader = info_.headerValid;
        values.sampleRateHz = info_.sampleRate;
        if (!runAnalysisDialog(prompts(), DialogId::SpectrumPlot, st_, values,
                               [this](PaletteName) { rebuildPalette(s_); })) {
            window_.commands().send(cmd::kParametersRestore, 0);
            return false;
        }
        rebuildPalette(s_);
        format_.sampleRate = values.sampleRateHz;
        if (st_.displayType == DisplayType::Scroll) {
            st_.displayType = DisplayType::LinePlot;
        }
        pumpMessages();
        return true;
    }

    bool dialogParameters() {
        // The dialog opens on the band asked for, as far as this file's rate allows.
        limitHighBandForRate(st_.highBandHz, info_.sampleRate, s_.analysis.highBand);
        RunValues values;
        values.formatFromHeader = info_.headerValid;
        values.sampleRateHz = info_.sampleRate;
        values.fileChannels = info_.fileChannels;
        values.endMsec = 0;
        if (!runAnalysisDialog(prompts(), DialogId::ScanFile, st_, values,
                               [this](PaletteName) { rebuildPalette(s_); })) {
            releaseHeldAnalysis(window_);
            return false;
        }
        rebuildPalette(s_);
        format_.sampleRate = values.sampleRateHz;
        st_.timeScaleMsec = st_.timeScaleMsecSaved;
        pumpMessages();
        return true;
    }

    // The run's parameters and the bytes scanned: the whole data, or for a point spectrum the
    // span of its last spectra.
    void deriveRun() {
        // A file of more than two channels plays and shows the two the settings name.
        if (!holdChannels(info_, st_.fileChannels)) {
            prompts().show(kNoSuchChannel);
        }
        settleDisplay(st_, format_.sampleRate, scanPointSpectrumAvailable(window_));
        if (!(st_.timeScaleMsec > 0.0f)) {
            st_.timeScaleMsec = kDefaultTimeScaleMsec;
        }
        sendFftSize(window_, st_);
        params_ = deriveRunParameters(analysisInputsFrom(st_), format_, info_.dataLength);
        dataBytes_ = info_.dataLength;
        if (pointMode_) {
            const PointSpan span =
                pointSpectrumSpan(s_.analysis.pointSpectrumByte, info_.dataLength,
                                  format_.channels * format_.bytesPerSample,
                                  std::int64_t{1} << params_.log2FftSize, st_.averageCountPlot);
            skipBytes_ = span.startByte;
            dataBytes_ = span.bytes;
        }
    }

    // The device, the file, the image and the buffer.
    bool openSources() {
        playback_ = windowPlayback(window_);
        if (playback_ == nullptr) {
            prompts().show(kCannotOpenAudioDevice);
            return false;
        }
        // Opened by its bytes, as every reader opens: a name that is no valid text in the
        // locale is still found.
        if (!wave_.open(file_, info_, skipBytes_)) {
            prompts().show(kCannotOpenFile);
            return false;
        }
        if (!pointMode_) {
            letGoOfHeldData(s_);
            startScanRun(s_, format_, params_);
            // The information panel names the file's channels while it plays.
            s_.analysis.run.info.fileChannels = info_.fileChannels;
            s_.analysis.run.info.firstChannel = info_.firstChannel;
            s_.analysis.run.info.secondChannel = info_.secondChannel;
        }
        s_.view.plotImage.reset();
        s_.control.fileNameBuffer = file_;
        rememberOpenedFile(s_, file_);
        s_.analysis.sampleRateHz = format_.sampleRate;
        st_.lastMode = st_.displayType == DisplayType::Scroll ? 3 : LAST_MODE_SCAN_FILE_PLOT;
        st_.lastFileMode = FILE_MODE_SCAN;
        window_.showFileInTitle(displayFileName(file_));
        scroll_ = st_.displayType == DisplayType::Scroll;
        // The plot displays draw into the plot image instead.
        if (scroll_ && !prepareScrollImage(window_, format_.channels)) {
            return false;
        }
        if (playback_
                ->allocateStreamBuffer(
                    PcmFormat{format_.sampleRate, format_.channels, format_.bytesPerSample * 8})
                .empty()) {
            releaseScanImages(s_);
            return false; // "Not enough memory" shown and the settings reloaded
        }
        return true;
    }

    // The first half read, the window in its running state and the sound started.
    bool startRunning() {
        source_.emplace(*playback_, wave_, format_.channels, format_.bytesPerSample, dataBytes_);
        // Wider samples are analysed at their own precision, played as 16 bits.
        if (encodingConverted(info_.encoding) && !source_->keepExactValues()) {
            prompts().show(kNotEnoughMemory);
            releaseScanImages(s_);
            return false;
        }
        const std::size_t firstHalf = source_->readFirstHalf();
        s_.view.scroll.h = {};
        window_.horizontalBar()->setRange(0, 0);
        menuStateRunning(window_);
        for (const int id : {cmd::kPlay, cmd::kPlayWindow}) {
            window_.button(id)->setEnabled(false);
        }
        window_.button(cmd::kGrid)->setEnabled(!scroll_);
        window_.button(cmd::kStop)->setEnabled(true);
        s_.view.modeHoldsSurfaces = true;
        s_.view.scanDrawing = true;
        s_.view.axesShown = true;
        window_.clearDrawingArea();
        if (!pointMode_ && !playback_->openStreamPlayback(dataBytes_, firstHalf)) {
            releaseScanImages(s_);
            endScanState(window_);
            window_.surface().invalidate();
            return false;
        }
        return true;
    }

    // The step loop until the end of the data or STOP.
    void scan() {
        pumpMessages();
        s_.control.stopRequested = false;
        window_.surface().invalidate();
        window_.surface().updateNow();
        ScanLoopInputs in = scanLoopInputs(st_, format_.sampleRate, format_.channels, params_);
        in.pointMode = pointMode_;
        in.startTimeMs = playback_->startTimeMs();
        if (MainWindowPlaybackView* view = windowPlaybackView(window_)) {
            in.showTimeNow = [view, this](double ms) {
                s_.view.timeMarkMsec = ms;
                view->showPlayTime(ms);
            };
        }
        display_ = makeScanDisplay(window_, st_, format_.channels, in);
        Clock& clock = windowClock(window_);
        window_.surface().setPresentInterval(SCAN_PRESENT_INTERVAL_MS);
        // A point spectrum plays no sound to measure.
        std::optional<SoundLevelFeed> meter;
        if (!pointMode_) {
            meter.emplace(
                window_, *source_, format_.sampleRate, format_.channels, SoundLevelScan::File,
                QStringLiteral("Scan File: ") + QFileInfo(displayFileName(file_)).fileName() +
                    measuredChannelText(info_.firstChannel + 1, info_.fileChannels));
        }
        loop_ = display_ ? runScanLoop(in, meter ? meter->source() : *source_, *display_, clock,
                                       s_.control.stopRequested, scan_)
                         : SetupResult::NoMemory;
        if (meter) {
            meter->finish(scan_.endReached ? source_->endFrame() : std::nullopt);
        }
        window_.surface().setPresentInterval(0);
        // The spectrum left stands for the frames analysed, not the clock run on past the end.
        if (const std::optional<double> analysed = lastStepMsec(scan_, in);
            analysed && !pointMode_) {
            s_.view.timeMarkMsec = *analysed;
        }
    }

    // What the run did, for Analysis at Stop and the tests; the sound stopped, the file closed.
    void recordResult() {
        if (playback_->active()) {
            playback_->stopPlayback();
        }
        ScanFileResult& r = result(window_);
        r.fileBytesRead = source_->fileBytesRead();
        r.columnsDrawn = scan_.columnsDrawn;
        r.endReached = scan_.endReached;
        r.deviceLagMs = scan_.deviceLagMs;
        // The real time per column, by the frames the columns analysed, so the time axis
        // matches the sound however late the device started or how far the clock ran on.
        if (const std::optional<double> msec = columnMsecFromFrames(
                scan_.firstEndFrame, scan_.lastEndFrame, scan_.columnsDrawn, format_.sampleRate);
            !pointMode_ && msec) {
            st_.timeScaleMsec = static_cast<float>(*msec);
        }
        r.timeScaleMsec = st_.timeScaleMsec;
        // The next Analyze File dialog starts from its own time scale, not the scan's.
        s_.analysis.scanFinished = s_.analysis.scanFinished || !pointMode_;
        wave_.close();
        if (loop_ != SetupResult::Ok) {
            prompts().show(
                loop_ == SetupResult::NoMemory
                    ? kNotEnoughMemory
                    : UserMessage{std::string(MSG_IMPROPER_FREQUENCY_LIMITS), MessageIcon::Stop});
        }
        const int frameBytes = format_.channels * format_.bytesPerSample;
        const std::int64_t bufferBytes = streamBufferBytes(frameBytes);
        const std::int64_t byteRate = std::int64_t{format_.sampleRate} * frameBytes;
        r.stopMs = std::max<std::int64_t>(0, (r.fileBytesRead - 2 * bufferBytes) * 1000 / byteRate);
        r.endMs = r.stopMs + 3 * bufferBytes * 1000 /
                                 (2 * std::int64_t{format_.sampleRate} * format_.bytesPerSample);
        // Analyze File refuses a span past the file; the last part ends where the data does.
        r.endMs = std::min(r.endMs, std::int64_t{info_.dataLength} * 1000 / byteRate);
        r.pointStartByte = skipBytes_;
        r.pointBytes = pointMode_ ? dataBytes_ : 0;
    }

    // What the readouts of a kept image go by.
    void keepRun() {
        if (scroll_) {
            s_.view.gridOn = false;
            window_.button(cmd::kGrid)->setChecked(false);
        } else {
            s_.logs.logDataAvailable = loop_ == SetupResult::Ok;
        }
        s_.analysis.run = AnalysisRun{};
        s_.analysis.run.file = file_;
        s_.analysis.run.info = info_;
        s_.analysis.run.format = format_;
        s_.analysis.run.params = params_;
        s_.analysis.run.params.columnMsec = st_.timeScaleMsec;
        if (s_.held.spectralImage || s_.view.runningScrollImage) {
            // The kept image holds the last screenful, each column at the file's time of the
            // frames it analysed.
            labelKeptColumns(s_.analysis.run, display_.get(), info_.dataOffset + skipBytes_);
        }
        s_.analysis.run.stripHeight = s_.view.layout.topBand;
        s_.analysis.run.plotHeight = s_.view.layout.plotHeight;
    }

    // The window idle again; then Analysis at Stop, the completion note or the repeat after a
    // resize.
    void afterwards() {
        endScanState(window_);
        window_.surface().invalidate();
        const bool resized = std::exchange(s_.view.layoutPending, false);
        const ScanFileResult& r = result(window_);
        if (st_.analysisAtStop && !scan_.endReached && loop_ == SetupResult::Ok) {
            s_.analysis.scanStopBeginMsec = r.stopMs;
            s_.analysis.scanStopEndMsec = r.endMs;
            window_.commands().send(cmd::kAnalyzeFile, cmd::kFromScanStop);
        } else if (scroll_ && !resized && !s_.control.notesSuppressed) {
            showScanCompleteNote(window_, windowClock(window_), false);
        }
        if (resized) {
            window_.computeLayout();
            window_.commands().post(cmd::kScanFile, cmd::kScanCurrentFile);
        }
    }

    MainWindow& window_;
    AppState& s_;
    AppSettings& st_;
    const int param_;
    const bool pointMode_;
    bool fileFromCommandLine_ = false;
    bool autoRun_ = false;
    std::string file_;
    WaveFileInfo info_;
    RunFormat format_;
    RunParameters params_;
    std::int64_t skipBytes_ = 0;
    std::int64_t dataBytes_ = 0;
    bool scroll_ = false;
    Playback* playback_ = nullptr;
    HeldSampleStream wave_;
    // The source reads the stream above; it goes first.
    std::optional<FileScanSource> source_;
    std::unique_ptr<ScanDisplay> display_;
    ScanRun scan_;
    SetupResult loop_ = SetupResult::Ok;
};

} // namespace

void scanFile(MainWindow& window, int param) {
    ScanFileRun(window, param).run();
}

void installScanFile(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kScanFile, [w](int param) { scanFile(*w, param); });
}

} // namespace korv
