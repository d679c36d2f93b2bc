#include "modes/analysis_pass.h"
#include "modes/image_log_writer.h"
#include "modes/sound_level.h"

#include "analysis/analyze_segment.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/menu_states.h"
#include "app/progress_panel.h"
#include "audio/sample_encoding.h"
#include "audio/wave_file.h"
#include "display/column_analyzer.h"
#include "display/memory_budget.h"
#include "display/parallel_column_loop.h"
#include "display/spectral_image.h"
#include "platform/commands.h"
#include "platform/fonts.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "settings/settings_file.h"
#include "settings/settings_inputs.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <thread>

namespace korv {

namespace {

constexpr const char* kPleaseWait = " Please Wait ... ";
constexpr std::chrono::milliseconds kWindowFrameInterval{20};

int screenWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry().width() : 1024;
}

// The scroll range that puts the end of the image in view.
void scrollToEnd(MainWindow& window, long columns) {
    AppState& s = window.state();
    const int plotWidth = s.view.layout.plotWidth;
    const bool dual = dualStereoView(s.settings);
    long end = 0;
    if (dual && columns > plotWidth / 2 - 3) {
        end = columns - plotWidth / 2 - 3;
    } else if (!dual && columns > plotWidth) {
        end = columns - plotWidth;
    }
    s.view.scroll.h.max = static_cast<int>(std::max(0L, end));
    s.view.scroll.h.pos = s.view.scroll.h.max;
    s.view.scroll.h.scrollable = columns > visibleImageColumns(plotWidth, dual);
    window.horizontalBar()->setRange(0, s.view.scroll.h.max);
    window.horizontalBar()->setValue(s.view.scroll.h.pos);
}

void setButtons(MainWindow& window, bool running) {
    window.button(cmd::kPlay)->setEnabled(false);
    window.button(cmd::kPlayWindow)->setEnabled(!running);
    window.button(cmd::kGrid)->setEnabled(!running);
    window.button(cmd::kStop)->setEnabled(running);
}

// The newest columns to the window after column x: a slice while the image is narrower
// than the view (reaching back to the first column not shown yet), else the whole view
// ending at x, the scroll position following.
void showNewColumns(MainWindow& window, long x, long firstUnshown) {
    AppState& s = window.state();
    const PlotLayout& l = s.view.layout;
    const bool dual = dualStereoView(s.settings);
    auto slice = sliceForColumn(x, visibleImageColumns(l.plotWidth, dual));
    if (!slice) {
        return;
    }
    if (!slice->scrolled && firstUnshown < slice->sourceX) {
        slice->width += slice->sourceX - static_cast<int>(std::max(firstUnshown, 0L));
        slice->sourceX = static_cast<int>(std::max(firstUnshown, 0L));
        slice->destX = slice->sourceX;
    }
    s.view.drawingColumn = static_cast<int>(x);
    if (slice->scrolled) {
        s.view.scroll.h.pos = static_cast<int>(slice->scrollPos);
        window.blitView();
        window.horizontalBar()->setValue(
            std::min(s.view.scroll.h.pos, window.horizontalBar()->maximum()));
        return;
    }
    const SpectralImage& image = *s.held.spectralImage;
    WindowSurface& surface = window.surface();
    auto copy = [&](int channel, int destX) {
        surface.blit(image.surface(),
                     {slice->sourceX, image.bandTop(channel), slice->width, l.plotHeight},
                     {destX, 0});
    };
    if (image.channels() == 1 || s.settings.channel == StereoChannel::Right) {
        copy(image.channels() == 1 ? SPECTRAL_LEFT_CHANNEL : SPECTRAL_RIGHT_CHANNEL, slice->destX);
    } else if (s.settings.channel == StereoChannel::Left) {
        copy(SPECTRAL_LEFT_CHANNEL, slice->destX);
    } else {
        copy(SPECTRAL_LEFT_CHANNEL, slice->destX);
        copy(SPECTRAL_RIGHT_CHANNEL, slice->destX + l.plotWidth / 2 + 4);
    }
}

// The analysed file's name without its folder, as the progress names it.
QString analysedFileName(const AnalysisRun& run) {
    const QString path = displayFileName(run.file);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

void drawPleaseWait(MainWindow& window) {
    const PlotLayout& l = window.state().view.layout;
    const QFont font = window.controlFont();
    const QFontMetrics metrics(font);
    const QString text = QString::fromLatin1(kPleaseWait);
    const int x = (l.plotWidth - metrics.horizontalAdvance(text)) / 2;
    const int y = (l.plotHeight - metrics.height()) / 2;
    window.surface().drawText({x, y}, text, font, kSysWhite, kSysBlack);
}

// The analyser over the held segment; false with the message shown when it cannot be had.
bool setUpAnalyzer(AppState& s, FileFrameWindows& windows, bool binLevels,
                   ParallelColumnLoop& analyzer) {
    ColumnAnalysisInputs inputs;
    if (const auto failure = heldSegmentInputs(s, windows, inputs)) {
        prompts().show(*failure);
        return false;
    }
    inputs.binLevels = binLevels;
    const SetupResult setup =
        analyzer.setup(inputs, *s.held.spectralImage, std::thread::hardware_concurrency() >= 2);
    if (setup != SetupResult::Ok) {
        prompts().show(setup == SetupResult::NoMemory ? kNotEnoughMemory : kAnalysisNotPossible);
        return false;
    }
    return true;
}

// The column loop; false with the message shown when the analysis could not be set up
// (nothing is drawn) or the file could not be read to the end.
bool columnLoop(MainWindow& window) {
    AppState& s = window.state();
    AnalysisRun& run = s.analysis.run;
    // Each column's block goes to an open spectral image log as soon as it is drawn, so the
    // log needs no more memory however long the run.
    ImageLogWriter log(window.state());
    FileFrameWindows windows;
    ParallelColumnLoop analyzer;
    if (!setUpAnalyzer(s, windows, log.active(), analyzer)) {
        return false;
    }
    const long columns = run.params.columns;
    const bool pleaseWait =
        run.commandLine && (!s.settings.stereo || s.settings.channel == StereoChannel::Dual);
    // A batch shows its own progress, file by file.
    ProgressPanel* progress = s.control.batchRunning ? nullptr : progressPanel(window);
    if (progress != nullptr) {
        progress->start();
        progress->setStage(QStringLiteral("Analysing ") + analysedFileName(run), 0, 1);
    }
    long x = 0;
    long firstUnshown = 0;
    auto lastShown = std::chrono::steady_clock::now() - kWindowFrameInterval;
    while (x < columns && !s.control.stopRequested && !windows.readFailed()) {
        analyzer.analyzeColumn(x, *s.held.spectralImage);
        if (log.active()) {
            log.column(x, analyzer.averagedBins(log.channel()));
        }
        if (x % SLICE_COLUMNS == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (pleaseWait) {
                if (x % (64 * SLICE_COLUMNS) == 0) {
                    drawPleaseWait(window);
                }
            } else if (!s.control.batchRunning && now - lastShown >= kWindowFrameInterval) {
                // The window follows at a frame rate the eye cannot tell from every fourth
                // column; copying the view every fourth column would cost more than the
                // analysis itself. A batch shows each file's finished image only.
                showNewColumns(window, x, firstUnshown);
                firstUnshown = x + 1;
                lastShown = now;
            }
            if (ProgressPanel* shown = progressPanel(window)) {
                shown->setFraction(static_cast<double>(x) / static_cast<double>(columns));
            }
            // STOP (and Cancel), scrolling and repainting are handled between the columns.
            pumpMessages();
        }
        ++x;
    }
    analyzer.release();
    if (progress != nullptr) {
        progress->finish();
    }
    if (windows.readFailed()) {
        // The file changed after its check: no picture of half of it.
        prompts().show(kErrorReadingFile);
        return false;
    }
    run.cutShort = x < columns;
    if (run.cutShort) {
        // Stopped: the image and the segment end at the last column drawn.
        const StoppedRun kept = stoppedRun(x, columns, run.segmentBytes, run.bytesPerFrame());
        run.segmentBytes = kept.segmentBytes;
        run.params.columns = kept.columns;
    }
    s.control.stopRequested = true;
    return true;
}

// The end of the command: view, menu, buttons, and the command that follows.
void finishAnalysis(MainWindow& window) {
    AppState& s = window.state();
    s.view.analysisDrawing = false;
    s.view.modeHoldsSurfaces = false;
    const bool resized = s.view.layoutPending;
    if (resized) {
        s.view.layoutPending = false;
        window.computeLayout();
        window.clearDrawingArea();
    }
    if (!s.analysis.run.commandLine) {
        scrollToEnd(window, s.analysis.run.params.columns);
    }
    s.view.axesShown = true;
    window.surface().invalidate();
    menuStateImage(window);
    setButtons(window, false);
    soundLevelAnalysed(window);
    window.updatePlayButton();
    if (resized) {
        window.commands().post(cmd::kAnalyzeFile, cmd::kRepeatAfterResize);
    } else if (s.analysis.run.commandLine) {
        s.analysis.run.commandLine = false;
        window.commands().send(cmd::kPlay, 0);
    } else if (s.control.batchRunning) {
        // A batch step ends with the window image saved; the export starts the next file.
        window.commands().send(cmd::kSaveWindowImage, 0);
    }
}

// Makes the image of the run; false (message shown, settings reloaded) without memory for it.
bool startImage(MainWindow& window) {
    AppState& s = window.state();
    const AnalysisRun& run = s.analysis.run;
    auto image = SpectralImage::create(
        {run.params.columns, screenWidth(), run.plotHeight, run.stripHeight, run.format.channels});
    if (!image) {
        prompts().show(kNotEnoughDisplayMemory);
        reloadAfterMemoryFailure(window);
        return false;
    }
    s.held.spectralImage = CountedBlock<SpectralImage>(std::move(*image));
    s.view.runningScrollImage.reset();
    s.view.scrollMemoryShown = false;
    s.view.scroll.h = {};
    window.computeLayout();
    window.blitView();
    setButtons(window, true);
    window.verticalBar()->setEnabled(false);
    menuStateRunning(window);
    s.control.stopRequested = false;
    s.view.analysisDrawing = true;
    s.view.modeHoldsSurfaces = true;
    s.view.drawingColumn = 0;
    return true;
}

} // namespace

void showChecks(const CheckResult& check) {
    for (const UserMessage& m : check.messages) {
        prompts().show(m);
    }
}

AutomaticParameters commandLineParameters(const AppState& s, std::int32_t sampleRate, int width,
                                          int height) {
    AutomaticInputs in;
    in.lowBandHz = s.settings.lowBandHz;
    in.highBandHz = s.settings.highBandHz;
    in.resolutionFactor = s.settings.resolutionFactor;
    in.sampleRate = sampleRate;
    in.timeSpanSec = s.control.timeSpanSeconds;
    in.clientWidth = width;
    in.clientHeight = height;
    return deriveAutomaticParameters(in);
}

void sendFftSize(MainWindow& window, const AppSettings& settings) {
    window.commands().send(cmd::kFftSizeFirst + settings.log2FftSize - MIN_LOG2_FFT_SIZE, 0);
}

void letGoOfHeldData(AppState& s) {
    s.held = {};
    s.view.runningScrollImage.reset();
    s.view.scrollMemoryShown = false;
    s.restore.reset();
    s.analysis.restorePossible = false;
}

void releaseHeldAnalysis(MainWindow& window) {
    AppState& s = window.state();
    letGoOfHeldData(window.state());
    s.analysis.selection.reset();
    s.analysis.run = AnalysisRun{};
    s.analysis.sampleRateHz = 0;
    s.view.axesShown = false;
    s.view.gridOn = false;
    s.view.scroll.h = {};
    window.horizontalBar()->setRange(0, 0);
    window.showFileInTitle({});
    menuStateIdle(window);
    QPushButton* grid = window.button(cmd::kGrid);
    grid->setChecked(false);
    grid->setEnabled(false);
    window.surface().invalidate();
}

bool analysisFitsMemory(MainWindow& window, const AnalysisRun& run) {
    const AppState& s = window.state();
    const std::int64_t image =
        spectralImageBytes({run.params.columns, screenWidth(), s.view.layout.plotHeight,
                            s.view.layout.topBand, run.format.channels});
    // What is held now is let go before the new run takes its place.
    std::int64_t held = s.held.samples
                            ? static_cast<std::int64_t>(s.held.samples->heldBytes() +
                                                        s.held.samples->precise().size_bytes())
                            : 0;
    for (const auto* picture :
         {&s.held.spectralImage, s.restore ? &s.restore->held.spectralImage : nullptr}) {
        if (picture != nullptr && *picture) {
            held += static_cast<std::int64_t>((*picture)->width()) * (*picture)->height();
        }
    }
    const std::int64_t available = availableMemoryBytes() + held;
    const std::int64_t samples =
        run.segmentBytes > s.analysis.holdLimitBytes
            ? 2 * columnWindowMemory(run.info.source()) // the caller's and the worker's
            : heldMemoryBytes(run.segmentBytes, encodingConverted(run.info.encoding));
    if (image <= surfacePixelLimit(available) && image + samples <= available) {
        return true;
    }
    prompts().show(kNotEnoughDisplayMemory);
    reloadAfterMemoryFailure(window);
    return false;
}

void reloadAfterMemoryFailure(MainWindow& window) {
    AppState& s = window.state();
    letGoOfHeldData(window.state());
    menuStateIdle(window);
    window.surface().invalidate();
    window.surface().updateNow();
    const ReloadOutcome outcome =
        reloadSettings(window.settingsFile(), s.settings, s.view.activePalette);
    s.logs.logDataAvailable = false;
    s.analysis.restorePossible = false;
    if (outcome == ReloadOutcome::DefaultsApplied) {
        s.analysis.sampleRateHz = 0;
        s.analysis.run = AnalysisRun{};
    }
    showActivePalette(s.view);
}

void rebuildPalette(AppState& s) {
    s.view.activePalette = paletteFor(s.settings.palette, s.settings.userPalette);
    showActivePalette(s.view);
}

bool deriveColumns(AnalysisRun& run, const AppSettings& settings) {
    const ColumnPlan plan = planColumns(settings, run.format, run.segmentBytes);
    run.params = plan.params;
    showChecks(plan.check);
    return plan.check.proceeds();
}

std::optional<UserMessage> heldSegmentInputs(const AppState& s, FileFrameWindows& windows,
                                             ColumnAnalysisInputs& inputs) {
    const AnalysisRun& run = s.analysis.run;
    if (s.held.samples) {
        const auto bytes = static_cast<std::size_t>(run.segmentBytes);
        inputs = columnAnalysisInputsFrom(s.settings, run.format, run.params,
                                          s.held.samples->samples().first(bytes),
                                          s.held.samples->precisePart(bytes));
        return std::nullopt;
    }
    inputs = columnAnalysisInputsFrom(s.settings, run.format, run.params, {}, {});
    FileSegment segment = s.held.fileSegment.value_or(FileSegment{});
    segment.bytes = std::min(segment.bytes, run.segmentBytes); // a stopped run's part
    if (const auto failure = windows.open(std::move(segment), run.params.hop)) {
        return failure;
    }
    inputs.windows = windows.windows();
    return std::nullopt;
}

bool holdSegment(MainWindow& window, const AnalysisRun& run) {
    AppState& s = window.state();
    if (run.segmentBytes > s.analysis.holdLimitBytes) {
        FileSegment segment{run.file, run.waveFormat(), run.info.source(), run.segmentStartByte,
                            run.segmentBytes};
        FileFrameWindows check;
        if (const auto failure = check.open(segment, 1)) {
            prompts().show(*failure);
            return false;
        }
        s.held.fileSegment = std::move(segment);
        return true;
    }
    SegmentResult segment = loadSegment(run.file, run.segmentStartByte, run.segmentBytes,
                                        run.waveFormat(), processAllocations(), run.info.source());
    if (!segment.store) {
        if (segment.message) {
            prompts().show(*segment.message);
        }
        if (segment.reloadSettings) {
            reloadAfterMemoryFailure(window);
        }
        return false;
    }
    s.held.samples = std::move(segment.store);
    return true;
}

void runAnalysisPass(MainWindow& window) {
    AppState& s = window.state();
    s.view.timeMarkMsec = 0.0; // a new analysis has no clicked point yet
    if (!startImage(window)) {
        return;
    }
    if (!columnLoop(window)) {
        s.view.analysisDrawing = false;
        s.view.modeHoldsSurfaces = false;
        releaseHeldAnalysis(window);
        return;
    }
    finishAnalysis(window);
}

} // namespace korv
