#include "modes/sound_level.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "app/sound_level_window.h"
#include "output/log_file.h"
#include "output/meter_table.h"
#include "pipeline/file_samples.h"
#include "pipeline/live_meter.h"
#include "pipeline/scan_sound_tap.h"
#include "platform/prompts.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace korv {

namespace {

// A live display is shown again after this much new sound: twenty times a second.
constexpr double kShowEverySeconds = 0.05;
// A stretch is measured this many frames at a time between the window's events.
constexpr std::int64_t kStretchFramesPerTurn = std::int64_t{1} << 20;
// The bands of the window's bars and rows, as the tool's defaults.
constexpr double kBandLowHz = 25.0;
constexpr double kBandHighHz = 20000.0;
// A rectangle's band-limited Leq without bands chosen: third octaves.
constexpr int kRectangleBandsPerOctave = 3;

meter::MeterSettings meterSettings(const Preferences& p, double rate) {
    meter::MeterSettings s;
    s.sampleRate = rate;
    s.weighting = p.meterWeighting;
    s.timeWeighting = p.meterTimeWeighting;
    s.intervalSeconds = p.meterIntervalSeconds;
    if (p.meterBandsPerOctave > 0) {
        s.bands = meter::BandSpec{p.meterBandsPerOctave, kBandLowHz, kBandHighHz};
    }
    return s;
}

QString rateRefusal() {
    return QStringLiteral("The meter takes %1 Hz and above")
        .arg(meter::kLowestMeterRate, 0, 'f', 0);
}

// A whole stretch read from its file and measured a turn at a time.
struct StretchJob {
    FileSamples samples;
    std::optional<LiveMeter> meter;
    std::int64_t skip = 0;   // frames before the stretch
    std::int64_t frames = 0; // the stretch's
    std::vector<meter::IntervalLevels> whole;
    SoundLevelReading reading;
    bool limited = false;
};

} // namespace

// What the window keeps beside it for the window's lifetime.
struct SoundLevelRoom {
    MainWindow* window = nullptr;
    QPointer<SoundLevelWindow> view;
    SoundLevelFeed::Run* live = nullptr; // the scan feeding the meter now
    std::vector<meter::IntervalLevels> lastIntervals;
    std::optional<std::string> logPath; // the log asked for
    LogFile log;
    MeterTableNames logNames;
    std::int64_t logRows = 0;
    bool fullScaleFromDevice = false; // the window's full-scale level is the input's calibration
    std::shared_ptr<StretchJob> job;
};

namespace {

SoundLevelRoom& roomOf(MainWindow& window) {
    if (SoundLevelRoom* room = window.part<SoundLevelRoom>()) {
        return *room;
    }
    auto room = std::make_shared<SoundLevelRoom>();
    room->window = &window;
    window.keepPart(room);
    return *room;
}

void showNote(SoundLevelRoom& room, const QString& note) {
    if (room.view) {
        SoundLevelReading r;
        r.note = note;
        room.view->showReading(r);
    }
}

} // namespace

struct SoundLevelFeed::Run {
    SoundLevelRoom& room;
    SoundLevelScan scan;
    QString name;
    double rate;
    std::optional<LiveMeter> meter;
    std::optional<TappedScanSource> tap;
    std::int64_t shownAt = 0;
    bool ended = false; // no more sound comes: no level now, the bars the whole run's

    Run(SoundLevelRoom& r, SoundLevelScan s, QString n, double sampleRate)
        : room(r), scan(s), name(std::move(n)), rate(sampleRate) {}

    [[nodiscard]] std::optional<meter::FullScaleLevel> fullScale() const {
        const std::optional<double> f = room.view ? room.view->fullScale() : std::nullopt;
        return f ? std::optional(meter::FullScaleLevel{*f}) : std::nullopt;
    }

    void hear(std::span<const double> samples) {
        meter->feed(samples, [this](const meter::IntervalLevels& l) { interval(l); });
        if (static_cast<double>(meter->framesFed() - shownAt) >= kShowEverySeconds * rate) {
            show();
        }
    }

    void interval(const meter::IntervalLevels& levels) {
        room.lastIntervals.push_back(levels);
        if (!room.log.isOpen()) {
            return;
        }
        std::string row;
        appendMeterRow(row, room.logNames, levels, rate);
        // On the disk as the interval ends: a power cut loses at most the interval going on.
        if (!room.log.write(row) || !room.log.sync()) {
            const QString path = displayFileName(room.logPath.value_or(""));
            room.log.close();
            room.logPath.reset();
            if (room.view) {
                room.view->setLogFile(std::nullopt);
            }
            prompts().message(QStringLiteral("The sound level log %1 could not be written; it "
                                             "holds the rows before this one")
                                  .arg(path),
                              MessageIcon::Stop);
            return;
        }
        ++room.logRows;
    }

    void show() {
        shownAt = meter->framesFed();
        if (!room.view) {
            return;
        }
        const meter::MeterSummary s = meter->summary();
        SoundLevelReading r;
        r.source = name;
        r.seconds = static_cast<double>(meter->framesFed()) / rate;
        r.levelNow = ended ? std::nullopt : std::optional(meter->levelNow());
        r.leq = s.leq;
        r.lmax = s.lmax;
        r.lmin = s.lmin;
        r.lcpeak = s.lcpeak;
        r.bands = meter->bands();
        const std::optional<meter::IntervalLevels> whole =
            ended ? combineIntervals(room.lastIntervals) : meter->lastStretch();
        if (whole) {
            r.bandLevels = whole->bandLeq;
        }
        if (tap && tap->missedFrames() > 0) {
            r.note = QStringLiteral("%1 s of sound went by unmeasured (the scan fell behind)")
                         .arg(static_cast<double>(tap->missedFrames()) / rate, 0, 'f', 2);
        }
        room.view->showReading(r);
    }
};

namespace {

void openLog(SoundLevelRoom& room) {
    SoundLevelFeed::Run* live = room.live;
    if (!room.logPath || live == nullptr || !live->meter || live->scan != SoundLevelScan::Input ||
        room.log.isOpen()) {
        return;
    }
    room.logNames = {live->meter->settings().weighting, live->meter->settings().timeWeighting,
                     live->fullScale(), false};
    room.logRows = 0;
    if (!room.log.create(*room.logPath) ||
        !room.log.write(meterTableHeader(room.logNames, live->meter->bands())) ||
        !room.log.sync()) {
        prompts().message(QStringLiteral("Cannot create the sound level log %1")
                              .arg(displayFileName(*room.logPath)),
                          MessageIcon::Stop);
        room.log.close();
        room.logPath.reset();
        if (room.view) {
            room.view->setLogFile(std::nullopt);
        }
    }
}

void closeLog(SoundLevelRoom& room) {
    if (room.log.isOpen()) {
        room.log.close();
    }
    room.logPath.reset();
    if (room.view) {
        room.view->setLogFile(std::nullopt);
    }
}

void requestLog(SoundLevelRoom& room, bool on) {
    if (!on) {
        closeLog(room);
        return;
    }
    FileRequest r;
    r.title = QStringLiteral("Log Sound Levels");
    r.folder = displayFileName(room.window->state().settings.lastFolder);
    r.filter = QStringLiteral("CSV Files (*.csv);;All Files (*)");
    r.fileName = QStringLiteral("levels.meter.csv");
    r.defaultSuffix = QStringLiteral("csv");
    const std::optional<QString> path = prompts().saveFile(r);
    if (!path) {
        return;
    }
    room.logPath = fileNameBytes(*path);
    if (room.view) {
        room.view->setLogFile(*path);
    }
    openLog(room); // at once while Scan Input runs, else when it starts
}

void openWindow(SoundLevelRoom& room) {
    if (room.view) {
        room.view->raise();
        room.view->activateWindow();
        return;
    }
    MainWindow& w = *room.window;
    SoundLevelRoom* r = &room;
    room.view = new SoundLevelWindow(
        w.state().preferences, [r] { soundLevelAnalysed(*r->window); },
        [r](bool on) { requestLog(*r, on); }, &w);
    room.view->setLogFile(room.logPath ? std::optional(displayFileName(*room.logPath))
                                       : std::nullopt);
    room.view->show();
    soundLevelAnalysed(w);
}

void finishStretch(SoundLevelRoom& room, StretchJob& job) {
    job.meter->finish([&](const meter::IntervalLevels& l) { job.whole.push_back(l); });
    const std::optional<meter::IntervalLevels> all = combineIntervals(job.whole);
    SoundLevelReading& r = job.reading;
    r.seconds = static_cast<double>(job.meter->framesFed()) / job.meter->settings().sampleRate;
    r.bands = job.meter->bands();
    if (all) {
        r.leq = all->leq;
        r.lmax = all->lmax;
        r.lmin = all->lmin;
        r.lcpeak = all->lcpeak;
        r.bandLevels = all->bandLeq;
        if (job.limited && !r.bands.empty()) {
            double energy = 0.0;
            for (const double b : all->bandLeq) {
                energy += meter::meanSquareOfLevel({b});
            }
            r.bandLimitedLeq = meter::levelOfMeanSquare(energy).value;
            r.bandLimitedName = QStringLiteral("LZeq %1–%2 Hz")
                                    .arg(r.bands.front().lowerEdgeHz, 0, 'f', 0)
                                    .arg(r.bands.back().upperEdgeHz, 0, 'f', 0);
        }
    }
    if (job.samples.failed()) {
        r.note = QStringLiteral("The file could not be read to its end");
    }
    if (room.view) {
        room.view->showReading(r);
    }
}

// One turn of the stretch's measurement; the next is posted until it is done.
void measureTurn(SoundLevelRoom& room, const std::shared_ptr<StretchJob>& job) {
    if (room.job != job) {
        return; // a newer measurement took its place
    }
    std::int64_t done = 0;
    while (done < kStretchFramesPerTurn && job->frames > 0) {
        std::span<const double> block = job->samples.next();
        if (block.empty()) {
            job->frames = 0;
            break;
        }
        const auto skipped = static_cast<std::size_t>(
            std::min<std::int64_t>(job->skip, static_cast<std::int64_t>(block.size())));
        job->skip -= static_cast<std::int64_t>(skipped);
        block = block.subspan(skipped);
        block = block.first(static_cast<std::size_t>(
            std::min<std::int64_t>(job->frames, static_cast<std::int64_t>(block.size()))));
        job->meter->feed(block, [&](const meter::IntervalLevels& l) { job->whole.push_back(l); });
        job->frames -= static_cast<std::int64_t>(block.size());
        done += static_cast<std::int64_t>(block.size() + skipped);
    }
    if (job->frames > 0) {
        QTimer::singleShot(0, room.window, [&room, job] { measureTurn(room, job); });
        return;
    }
    room.job.reset();
    finishStretch(room, *job);
}

} // namespace

SoundLevelFeed::SoundLevelFeed(MainWindow& window, ScanSource& source, std::int32_t sampleRate,
                               int channels, SoundLevelScan scan, QString name,
                               std::string inputDevice)
    : plain_(source) {
    SoundLevelRoom& room = roomOf(window);
    const bool logging = scan == SoundLevelScan::Input && room.logPath.has_value();
    if (!room.view && !logging) {
        return;
    }
    room.job.reset();
    if (room.view) {
        // A file has no calibration of its own; the input has the one stored for it.
        const Preferences& p = window.state().preferences;
        const DeviceCalibration* c =
            scan == SoundLevelScan::Input ? calibrationOf(p, inputDevice) : nullptr;
        if (c != nullptr) {
            room.view->setFullScale(c->fullScaleDb);
            room.fullScaleFromDevice = true;
        } else if (room.fullScaleFromDevice) {
            room.view->setFullScale(std::nullopt);
            room.fullScaleFromDevice = false;
        }
    }
    if (!(sampleRate >= meter::kLowestMeterRate)) {
        showNote(room, rateRefusal());
        return;
    }
    run_ = std::make_unique<Run>(room, scan, std::move(name), static_cast<double>(sampleRate));
    run_->meter.emplace(meterSettings(window.state().preferences, run_->rate));
    Run* run = run_.get();
    run_->tap.emplace(source, channels,
                      [run](std::int64_t, std::span<const double> samples) { run->hear(samples); });
    room.lastIntervals.clear();
    room.live = run;
    if (room.view) {
        room.view->setRunning(true);
    }
    openLog(room);
}

SoundLevelFeed::~SoundLevelFeed() {
    if (run_) {
        finish(std::nullopt);
    }
}

ScanSource& SoundLevelFeed::source() {
    return run_ ? static_cast<ScanSource&>(*run_->tap) : plain_;
}

void SoundLevelFeed::finish(std::optional<std::int64_t> endFrame) {
    if (!run_) {
        return;
    }
    if (endFrame) {
        run_->tap->finishAt(*endFrame);
    }
    run_->meter->finish([this](const meter::IntervalLevels& l) { run_->interval(l); });
    run_->ended = true;
    run_->show();
    SoundLevelRoom& room = run_->room;
    if (room.view) {
        room.view->setRunning(false);
    }
    if (room.log.isOpen()) {
        closeLog(room); // the next run asks for its own file: nothing is written over
    }
    room.live = nullptr;
    run_.reset();
}

void installSoundLevel(MainWindow& window) {
    SoundLevelRoom& room = roomOf(window);
    window.registerCommand(cmd::kSoundLevel, [&room](int) { openWindow(room); });
    // Open at any time, a scan running or not.
    window.menu().enable(cmd::kSoundLevel, true);
}

void soundLevelAnalysed(MainWindow& window) {
    const AppState& s = window.state();
    const AnalysisRun& run = s.analysis.run;
    if (s.control.modeRunning || !s.held.spectralImage || run.file.empty() ||
        run.bytesPerFrame() <= 0) {
        return;
    }
    const std::int64_t frames = run.segmentBytes / run.bytesPerFrame();
    measureSoundLevelSpan(window, {0, frames, std::nullopt, std::nullopt});
}

void measureSoundLevelSpan(MainWindow& window, const SoundLevelSpan& span) {
    SoundLevelRoom& room = roomOf(window);
    const AnalysisRun& run = window.state().analysis.run;
    if (!room.view || room.live != nullptr || run.file.empty() || run.bytesPerFrame() <= 0) {
        return;
    }
    auto job = std::make_shared<StretchJob>();
    if (const auto failure = job->samples.open(run.file, run.info.firstChannel + 1)) {
        showNote(room, QString::fromStdString(run.file + ": " + failure->text));
        return;
    }
    const double rate = job->samples.sampleRate();
    if (!(rate >= meter::kLowestMeterRate)) {
        showNote(room, rateRefusal());
        return;
    }
    meter::MeterSettings settings = meterSettings(window.state().preferences, rate);
    settings.intervalSeconds = 0.0; // one row: the whole stretch
    job->limited = span.lowHz && span.highHz;
    if (job->limited) {
        const int perOctave =
            settings.bands ? settings.bands->bandsPerOctave : kRectangleBandsPerOctave;
        settings.bands = meter::BandSpec{perOctave, std::min(*span.lowHz, *span.highHz),
                                         std::max(*span.lowHz, *span.highHz)};
    }
    const std::int64_t segmentFrame =
        (run.segmentStartByte - run.info.dataOffset) / run.bytesPerFrame();
    const std::int64_t begin = std::min(span.beginFrame, span.endFrame);
    job->skip = std::max<std::int64_t>(segmentFrame, 0) + std::max<std::int64_t>(begin, 0);
    job->frames = std::abs(span.endFrame - span.beginFrame);
    job->meter.emplace(settings);
    const QString file = QFileInfo(displayFileName(run.file)).fileName();
    const double from = static_cast<double>(begin) / rate;
    const double to = from + static_cast<double>(job->frames) / rate;
    job->reading.source =
        QStringLiteral("%1: %2%3, %4–%5 s")
            .arg(job->limited ? QStringLiteral("Rectangle") : QStringLiteral("Analysed stretch"),
                 file, measuredChannelText(run.info.firstChannel + 1, run.info.fileChannels))
            .arg(from + static_cast<double>(run.beginMsec) / 1000.0, 0, 'f', 3)
            .arg(to + static_cast<double>(run.beginMsec) / 1000.0, 0, 'f', 3);
    room.job = job;
    measureTurn(room, job);
}

void measureWithFullScale(MainWindow& window, double fullScaleDb) {
    SoundLevelRoom& room = roomOf(window);
    openWindow(room);
    if (room.view) {
        room.view->setFullScale(fullScaleDb);
        room.fullScaleFromDevice = false;
    }
}

QString measuredChannelText(int channel, int channelCount) {
    return channelCount > 1 ? QStringLiteral(", channel %1 of %2").arg(channel).arg(channelCount)
                            : QString();
}

std::vector<meter::IntervalLevels> lastSoundLevelIntervals(const MainWindow& window) {
    const SoundLevelRoom* room = window.part<SoundLevelRoom>();
    return room ? room->lastIntervals : std::vector<meter::IntervalLevels>{};
}

bool soundLevelMeasuring(const MainWindow& window) {
    const SoundLevelRoom* room = window.part<SoundLevelRoom>();
    return room != nullptr && room->job != nullptr;
}

} // namespace korv
