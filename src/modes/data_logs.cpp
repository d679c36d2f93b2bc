#include "modes/data_logs.h"

#include "analysis/frequency_scale.h"
#include "analysis/point_level.h"
#include "analysis/rounding.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "audio/sample_encoding.h"
#include "audio/wave_file.h"
#include "dialogs/point_log_dialog.h"
#include "display/readouts.h"
#include "modes/analysis_pass.h"
#include "modes/image_log_writer.h"
#include "modes/plot_display.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace korv {

namespace {

// A point's samples where the segment is read from its file: the stretch its averaged frames
// cover, read here, and the frame of the segment the stretch starts at.
struct PointStretch {
    std::vector<std::uint8_t> bytes;
    std::vector<float> precise;
    std::int64_t firstFrame = 0;
};

// The inputs of the point at `startFrame`: the held samples as they are, or the stretch its
// frames cover read into `stretch`; false when the file cannot be read.
bool pointInputs(const AppState& s, std::int64_t startFrame, ColumnAnalysisInputs& inputs,
                 PointStretch& stretch) {
    if (s.held.samples || !s.held.fileSegment) {
        FileFrameWindows unused; // held samples need no windows
        return s.held.samples && !heldSegmentInputs(s, unused, inputs);
    }
    inputs =
        columnAnalysisInputsFrom(s.settings, s.analysis.run.format, s.analysis.run.params, {}, {});
    const FileSegment& segment = *s.held.fileSegment;
    const std::int64_t frameBytes = std::max(segment.format.bytesPerFrame(), 1);
    const std::int64_t hopFrames = inputs.run.hop / std::max(1, inputs.channels);
    const std::int64_t segmentFrames =
        std::min(segment.bytes, s.analysis.run.segmentBytes) / frameBytes;
    stretch.firstFrame = std::clamp<std::int64_t>(startFrame - (MAX_AVERAGE_COUNT - 1) * hopFrames,
                                                  0, segmentFrames);
    const std::int64_t end = std::clamp<std::int64_t>(
        startFrame + (std::int64_t{1} << MAX_LOG2_FFT_SIZE), stretch.firstFrame, segmentFrames);
    try {
        stretch.bytes.assign(static_cast<std::size_t>((end - stretch.firstFrame) * frameBytes), 0);
        stretch.precise.assign(
            encodingConverted(segment.source.encoding) ? stretch.bytes.size() / 2 : 0, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    HeldSampleReader reader;
    if (reader.open(segment.path, segment.format, segment.source, segment.startByte,
                    segment.bytes) ||
        !reader.read(segment.startByte + stretch.firstFrame * frameBytes, stretch.bytes,
                     stretch.precise)) {
        return false;
    }
    inputs.windows = {};
    inputs.samples = stretch.bytes;
    inputs.precise = stretch.precise;
    return true;
}

// The point log between command 40062 and the closing of its dialog.
struct PointLog {
    std::unique_ptr<LogFile> file;
    QPointer<PointLogDialog> dialog;
};

SpectrumLogPlot withBands(SpectrumLogPlot plot, std::span<const int> pointBands) {
    plot.pointBands = pointBands;
    return plot;
}

// The two log commands, with the point log they keep open between its command and the
// closing of its dialog.
class DataLogs {
  public:
    explicit DataLogs(MainWindow& window) : window_(window) {}

    // The file for a log from the "Save Data Log" dialog; nothing on Cancel. `appends`: the log
    // adds to an existing file, so that is what the user is asked about.
    std::optional<std::string> askForLogFile(bool appends = false) const {
        FileRequest r;
        r.title = QStringLiteral("Save Data Log");
        r.folder = displayFileName(window_.state().settings.lastFolder);
        r.filter = QStringLiteral("Text Files (*.txt);;All Files (*)");
        r.defaultSuffix = QStringLiteral("txt");
        r.appends = appends;
        const std::optional<QString> path = prompts().saveFile(r);
        if (!path) {
            return std::nullopt;
        }
        return fileNameBytes(*path);
    }

    // startMsec: the image log's segment begin or the spectrum log's event time.
    [[nodiscard]] LogSource currentLogSource(int fftSize, double startMsec) const {
        const AppState& s = window_.state();
        LogSource src;
        src.wavePath = s.analysis.run.file.empty() ? s.control.fileNameBuffer : s.analysis.run.file;
        src.sampleRate = s.analysis.sampleRateHz;
        src.fftSize = fftSize;
        src.startMsec = startMsec;
        src.columnMsec = s.analysis.run.params.columnMsec;
        src.windowCentreMsec = s.analysis.run.params.windowCentreMsec;
        src.lowBandHz = s.settings.lowBandHz;
        src.highBandHz = s.settings.highBandHz;
        src.levelScaleCode = s.settings.levelScaleCode;
        return src;
    }

    void writeSpectrumLog(const ScopeView& view, LogFile& file) const {
        const AppState& s = window_.state();
        const AppSettings& st = s.settings;
        const int fftSize = st.fftSize();
        const LogSource src = currentLogSource(
            fftSize, s.view.timeMarkMsec != 0.0 ? s.view.timeMarkMsec
                                                : static_cast<double>(s.analysis.run.beginMsec));
        SpectrumLogPlot plot;
        plot.levels = view.levelDb(); // the channel shown
        plot.binLevels = scanPlotBinLevels(window_);
        const int points = static_cast<int>(plot.levels.size());
        const FrequencyAxis axis(st.frequencyScale, st.lowBandHz, st.highBandHz, points);
        if (axis.scale() == FrequencyScale::Log) {
            plot.scale = SpectrumLogScale::Log;
            if (const auto map = axis.rowMap(s.analysis.sampleRateHz, fftSize);
                map && !map->rows.empty()) {
                plot.firstPointSpanHz = static_cast<double>(map->rows.front().binCount) *
                                        s.analysis.sampleRateHz / (2.0 * fftSize);
            }
        } else if (axis.scale() == FrequencyScale::ThirdOctave) {
            plot.scale = SpectrumLogScale::ThirdOctave;
            if (const auto bands = thirdOctavePoints(s.analysis.sampleRateHz, fftSize, points)) {
                plot.firstBand = bands->firstBand;
                plot.upperBand = bands->lastBand + 1;
                file.write(spectrumLogText(src, withBands(plot, bands->pointBands)));
                return;
            }
        }
        file.write(spectrumLogText(src, plot));
    }

    // Log Data / Log Spectrum.
    void logData() {
        AppState& s = window_.state();
        if (s.control.modeRunning || s.logs.imageLog) {
            return;
        }
        window_.redrawView(true);
        const bool image = s.settings.displayType == DisplayType::Scroll;
        const ScopeView* plot = scanPlotView(window_);
        if (image ? !s.held.spectralImage || !s.held.segmentHeld() : plot == nullptr) {
            return;
        }
        const std::optional<std::string> path = askForLogFile();
        if (!path) {
            window_.redrawView(true);
            return;
        }
        auto file = std::make_unique<LogFile>();
        if (!file->create(*path)) {
            prompts().show(kCannotOpenFile);
            return;
        }
        if (!image) {
            writeSpectrumLog(*plot, *file);
            finishLog(*file);
            return;
        }
        // Every time in it is the column's own time in the file.
        const LogSource src = currentLogSource(1 << s.analysis.run.params.log2FftSize,
                                               segmentOffsetMsec(s.analysis.run));
        file->write(ImageLogFormat(src).header());
        if (dualStereoView(s.settings)) {
            finishLog(*file); // two channels side by side have no one column to write
            return;
        }
        s.logs.imageLog = std::move(file);
        s.logs.imageLogSource = src;
        window_.commands().send(cmd::kParametersChange, 0);
        if (s.logs.imageLog) {
            // The analysis did not run: the header is all there is.
            finishLog(*s.logs.imageLog);
            s.logs.imageLog.reset();
        }
    }

    void closePointLog() {
        PointLog& log = pointLog_;
        window_.state().logs.pointLogClick = nullptr;
        if (log.file) {
            finishLog(*log.file);
            log.file.reset();
        }
        if (log.dialog) {
            log.dialog->deleteLater();
            log.dialog.clear();
        }
    }

    // A click in point-log mode: the point's values shown and appended. A click outside the
    // analysed image (the waveform strip, below the rows, past the last column, the dual divider)
    // logs nothing.
    void logPoint(int x, int y) {
        AppState& s = window_.state();
        PointLog& log = pointLog_;
        if (!log.file || !log.dialog || !s.held.spectralImage || !s.held.segmentHeld()) {
            return;
        }
        const ViewGeometry g = currentViewGeometry(window_.state());
        const int rows = g.rows();
        const long column =
            static_cast<long>(viewXToColumn(x, g.plotWidth, g.dualStereo)) + g.hScrollPos;
        if (y <= g.stripHeight || y >= g.plotHeight || rows <= 0 || column >= analysedColumns(s) ||
            (g.dualStereo && (x >= g.plotWidth || onDualDivider(x, g.plotWidth)))) {
            return;
        }
        const long time = roundHalfUp(g.columnTimeMsec(static_cast<double>(column)));
        s.view.timeMarkMsec = g.columnTimeMsec(static_cast<double>(column));
        const long frequency = g.frequencyAxis().hzAtRowRounded(g.plotHeight - y - 1);
        // The channel on the screen: the right pane of two, or the Right channel shown alone.
        const bool right = g.dualStereo ? x > g.plotWidth / 2 : stereoRight(s.settings);
        const AnalysisRun& run = s.analysis.run;
        const std::int64_t startFrame = column * run.params.hop / std::max(1, run.format.channels);
        ColumnAnalysisInputs inputs;
        PointStretch stretch;
        if (!pointInputs(s, startFrame, inputs, stretch)) {
            prompts().show(kErrorReadingFile);
            return;
        }
        const std::optional<long> level = pointLevelDb(
            inputs, right ? 1 : 0, startFrame - stretch.firstFrame, static_cast<double>(frequency));
        if (!level) {
            return;
        }
        log.dialog->showPoint(time, frequency, *level);
        if (!log.file->write(pointLogRow(time, frequency, *level)) || !log.file->flush()) {
            prompts().show(kErrorWritingFile);
            closePointLog();
        }
    }

    // Log Points: the file appended to (one empty line first) or created with its header, and
    // the dialog that shows each clicked point until it is closed.
    void logPoints() {
        AppState& s = window_.state();
        if (s.control.modeRunning || !s.held.spectralImage || pointLog_.file) {
            return;
        }
        const std::optional<std::string> path = askForLogFile(true);
        if (!path) {
            return;
        }
        auto file = std::make_unique<LogFile>();
        if (file->openExisting(*path)) {
            file->write(kLogLineEnd);
        } else if (file->create(*path)) {
            file->write(
                pointLogHeader(currentLogSource(1 << s.analysis.run.params.log2FftSize, 0.0)));
        } else {
            prompts().show(kCannotOpenFile);
            return;
        }
        if (!file->flush()) {
            prompts().show(kErrorWritingFile);
            return;
        }
        PointLog& log = pointLog_;
        log.file = std::move(file);
        log.dialog = new PointLogDialog(&window_);
        QObject::connect(log.dialog, &QDialog::finished, [this] { closePointLog(); });
        log.dialog->adjustSize();
        const QPoint topRight =
            window_.drawingArea()->mapToGlobal(QPoint(window_.drawingArea()->width(), 0));
        log.dialog->move(topRight.x() - log.dialog->frameGeometry().width(), topRight.y());
        log.dialog->show();
        s.logs.pointLogClick = [this](int x, int y) { logPoint(x, y); };
    }

  private:
    MainWindow& window_;
    PointLog pointLog_;
};

} // namespace

void installDataLogs(MainWindow& window) {
    auto logs = std::make_shared<DataLogs>(window);
    window.registerCommand(cmd::kLogSpectrum, [logs](int) { logs->logData(); });
    window.registerCommand(cmd::kLogPoints, [logs](int) { logs->logPoints(); });
}

} // namespace korv
