#include "cli/cli_outputs.h"

#include "analysis/band_levels.h"
#include "analysis/column_levels.h"
#include "audio/wave_file.h"
#include "cli/cli_grid.h"
#include "cli/cli_inputs.h"
#include "cli/cli_meter.h"
#include "cli/cli_output_file.h"
#include "display/parallel_column_loop.h"
#include "meter/levels.h"
#include "output/atomic_file.h"
#include "output/data_log.h"
#include "output/export_picture.h"
#include "output/image_encoding.h"
#include "settings/settings_inputs.h"

#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <utility>

namespace korv::cli {

namespace {

// An exported picture is a multiple of 4 pixels wide.
constexpr long kLeastImageColumns = 4;

constexpr std::string_view kAbsoluteTimeColumn = "time_iso8601";

std::string failureText(const UserMessage& m) {
    return m.text;
}

// The parser takes only the table's names.
ImageFormat imageFormat(const Options& o) {
    return imageFormatNamed(o.format).value_or(ImageFormat::Png);
}

std::string extensionFor(const Options& o) {
    switch (o.command) {
    case Command::Image:
        return std::string(imageFormatInfo(imageFormat(o)).extension);
    case Command::Levels:
        return o.csv ? ".levels.csv" : ".txt";
    case Command::Meter:
        return ".meter.csv";
    case Command::Bands:
        break;
    }
    return ".bands.csv";
}

// A file of the job, opened, its header read and planned once with the settings it runs with:
// the image's and the level table's those of the file (settingsForFile), the bands' every
// frequency on the linear scale. A high limit cut to half the rate is noted.
struct PlannedFile {
    WholeFilePlan plan;
    AppSettings settings;
    std::vector<std::string> notes;
};

// The bands have no rows: the plan takes every frequency on the linear scale, whatever band or
// scale the settings show.
AppSettings everyFrequency(AppSettings settings) {
    settings.frequencyScale = FrequencyScale::Linear;
    settings.lowBandHz = 0;
    settings.highBandHz = std::numeric_limits<std::int32_t>::max();
    return settings;
}

PlannedFile planFile(const Options& o, const RunSettings& run, const std::string& file) {
    PlannedFile p;
    const OpenedSoundFile opened = openWholeFile(file, fileChannelOption(o));
    if (opened.failure || o.command == Command::Bands) {
        p.plan = planOpenedFile(opened, everyFrequency(run.settings));
        p.settings = run.settings;
        return p;
    }
    bool limited = false;
    p.settings = settingsForFile(run.settings, opened.format(), &limited, run.highBandFromFile);
    if (limited) {
        p.notes.push_back(highestFrequencyLimitedMessage().text + " (" +
                          std::to_string(p.settings.highBandHz) + " Hz)");
    }
    p.plan = planOpenedFile(opened, p.settings);
    return p;
}

// The sink, and the file's progress told as its columns go.
ColumnSink withProgress(ColumnSink sink, long columns, const FileProgress& progress) {
    if (!progress || columns <= 0) {
        return sink;
    }
    return [sink = std::move(sink), steps = ProgressSteps(progress, columns)](
               long x, const ParallelColumnLoop& loop) mutable {
        if (sink) {
            sink(x, loop);
        }
        steps.at(x + 1);
    };
}

std::optional<std::string> writeImage(const Options& o, const RunSettings& run,
                                      const PlannedFile& planned, std::int64_t memoryBytes,
                                      bool twoCores, const FileProgress& progress) {
    const WholeFilePlan& plan = planned.plan;
    const AppSettings& settings = planned.settings;
    const std::string& file = plan.path;
    // Too short for one exported column: said once for every format, nothing written.
    if (std::max<long>(plan.params.columns, o.layout.minWidth) < kLeastImageColumns) {
        return std::string(MSG_SAMPLE_SIZE_TOO_SMALL) + " (an image needs " +
               std::to_string(kLeastImageColumns) + " columns, the file gives " +
               std::to_string(plan.params.columns) + ")";
    }
    // Too wide for a JPEG even before any magnification: said before the analysis, not after.
    const long columns = std::max<long>(plan.params.columns, o.layout.minWidth);
    if (imageFormat(o) == ImageFormat::Jpeg &&
        exportWidth(static_cast<int>(std::min<long>(columns, INT_MAX))) > JPEG_MAX_SIDE) {
        return failureText(kImageTooLargeForJpeg);
    }
    const WholeFileAnalysis analysis =
        analyseWholeFile(plan, settings, o.layout, memoryBytes,
                         withProgress({}, plan.params.columns, progress), twoCores);
    if (analysis.failure) {
        return failureText(*analysis.failure);
    }
    const SpectralImage& image = *analysis.image;
    const ViewBand band = entireImageBand(viewBandOf(settings));
    const int width = exportWidth(image.width());
    const ColourTable colours = displayColourTable(run.palette);
    const ImageFormat format = imageFormat(o);
    OutputFile out(outputPath(o, file));
    if (auto failed = out.openFailure()) {
        return failed;
    }
    // A PNG goes to the file as it is made, so its stripes are written while others deflate.
    const auto sink = [&out](std::span<const std::uint8_t> bytes) { return out.write(bytes); };
    std::optional<UserMessage> failure;
    // As Entire Image: the band where it is, unless text or a magnification needs a copy.
    if (!picturesHaveText(o) && settings.imageScalePercent <= 100) {
        failure = writeImageFile(entireImageArea(image, band, width), colours, format,
                                 JPEG_DEFAULT_QUALITY, sink);
    } else {
        auto picture = composeEntirePicture(image, band, width);
        if (picture && picturesHaveText(o)) {
            drawEntireScales(*picture, plan, settings, image.plotHeight(), image.stripHeight(),
                             {o.grid, o.legend});
        }
        if (picture) {
            picture = scaleForExport(std::move(*picture), settings.imageScalePercent);
        }
        if (!picture) {
            return failureText(kNotEnoughMemoryForBitmap);
        }
        failure = writeImageFile(*picture, colours, format, JPEG_DEFAULT_QUALITY, sink);
    }
    if (failure && !out.writeFailed()) {
        return failureText(*failure);
    }
    return out.finish();
}

std::optional<std::string> writeLevels(const Options& o, const RunSettings& run,
                                       const PlannedFile& planned, std::int64_t memoryBytes,
                                       bool twoCores, const FileProgress& progress) {
    const WholeFilePlan& plan = planned.plan;
    const AppSettings& settings = planned.settings;
    const std::string& file = plan.path;
    const int channel = viewBandOf(settings) == ViewBand::Right ? 1 : 0;
    LogSource source;
    source.wavePath = file;
    source.sampleRate = plan.format.sampleRate;
    source.fftSize = plan.params.fftSize;
    source.columnMsec = plan.params.columnMsec;
    source.windowCentreMsec = plan.params.windowCentreMsec;
    source.lowBandHz = settings.lowBandHz;
    source.highBandHz = settings.highBandHz;
    source.levelScaleCode = settings.levelScaleCode;
    const ImageLogFormat log(source);
    const std::optional<RecordingTime>& start = plan.info.recorded;
    if (o.absoluteTime && (!start || start->dateOnly)) {
        return std::string(kNoRecordingTime);
    }
    OutputFile out(outputPath(o, file));
    if (auto failed = out.openFailure()) {
        return failed;
    }
    // On the calibrated scale each bin's level re full scale: the gain taken off, the window's
    // energy accounted, the full-scale level added for dB SPL.
    const std::optional<std::string> unit = calibratedUnit(o, run);
    const double shiftDb = static_cast<double>(settings.levelScaleCode) + binPowerToFullScaleDb() +
                           (run.fullScale ? run.fullScale->db : 0.0);
    const std::string_view unitName = unit ? std::string_view(*unit) : std::string_view("dB");
    out.text() = o.absoluteTime ? log.csvHeader(kAbsoluteTimeColumn, unitName)
                 : o.csv        ? log.csvHeader("time_ms", unitName)
                                : log.header();
    // A column's instant in whole frames: the real step, then the window's centre.
    const std::int64_t stepFrames = plan.params.hop / std::max(plan.format.channels, 1);
    const std::int64_t centreFrames = plan.params.windowSamples / 2;
    bool outOfRange = false;
    const ColumnSink sink = [&](long x, const ParallelColumnLoop& loop) {
        if (unit) {
            std::string time;
            if (o.absoluteTime) {
                const auto iso =
                    isoTimeText(*start, stepFrames * x + centreFrames, plan.format.sampleRate);
                outOfRange = outOfRange || !iso;
                time = iso.value_or("");
            } else {
                appendInteger(time, log.sampleTimeMsec(x));
            }
            log.appendCsvColumnShifted(out.text(), time, loop.averagedBins(channel), shiftDb);
        } else if (o.absoluteTime) {
            const auto time =
                isoTimeText(*start, stepFrames * x + centreFrames, plan.format.sampleRate);
            outOfRange = outOfRange || !time;
            log.appendCsvColumn(out.text(), time.value_or(""), loop.averagedBins(channel));
        } else if (o.csv) {
            log.appendCsvColumn(out.text(), x, loop.averagedBins(channel));
        } else {
            log.appendColumn(out.text(), x, loop.averagedBins(channel));
        }
        out.maybeFlush();
    };
    const WholeFileAnalysis analysis =
        analyseWholeFile(plan, settings, o.layout, memoryBytes,
                         withProgress(sink, plan.params.columns, progress), twoCores);
    if (analysis.failure) {
        return failureText(*analysis.failure);
    }
    if (outOfRange) {
        return std::string(kNoRecordingTime);
    }
    return out.finish();
}

// Which bands and channels the table holds: the bands whose centre lies within --low ..
// --high, the channel --channel names.
struct BandSelection {
    std::vector<std::size_t> bands; // indices into the layout's bands
    std::vector<int> channels;
};
BandSelection selectBands(const Options& o, const BandLevels& levels) {
    BandSelection s;
    const ParameterOptions& p = o.parameters;
    const std::vector<int>& all = levels.layout().pointBands;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const long centre = thirdOctaveCentreHz(all[i]);
        if (centre >= p.lowHz.value_or(0) &&
            centre <= p.highHz.value_or(std::numeric_limits<int>::max())) {
            s.bands.push_back(i);
        }
    }
    if (levels.channels() == 2 && p.channel) {
        s.channels = {*p.channel == "right" ? 1 : 0};
    } else {
        for (int ch = 0; ch < levels.channels(); ++ch) {
            s.channels.push_back(ch);
        }
    }
    return s;
}

// Header: the time in msec, then per channel each band by its nominal centre and its unit.
std::string bandsHeader(const BandLevels& levels, const BandSelection& s, const std::string& unit) {
    std::string text = "time_ms";
    for (const int ch : s.channels) {
        for (const std::size_t b : s.bands) {
            text += ',';
            if (levels.channels() == 2) {
                text += ch == 0 ? "L_" : "R_";
            }
            appendInteger(text, thirdOctaveCentreHz(levels.layout().pointBands[b]));
            text += "_Hz_" + unit;
        }
    }
    text += '\n';
    return text;
}

// A row: the time, then the selected bands' levels of the step just computed; on the
// calibrated scale (a full-scale level `fullScaleDb`, 0 for dBFS) each band's mean square re
// a full-scale sine's, unclamped down to the meter's silence floor.
void appendBandsRow(std::string& text, double timeMsec, const BandLevels& bands,
                    const BandSelection& selection, bool calibrated, double fullScaleDb) {
    appendCsvNumber(text, timeMsec, 1);
    constexpr double toMeanSquare =
        kHannBinPowerToMeanSquare / (kFullScaleAmplitude16 * kFullScaleAmplitude16);
    for (const int ch : selection.channels) {
        const std::span<const double> levels = bands.levels(ch);
        const std::span<const double> powers = bands.powers(ch);
        for (const std::size_t b : selection.bands) {
            text += ',';
            appendCsvNumber(text,
                            calibrated ? meter::levelOfMeanSquare(powers[b] * toMeanSquare).value +
                                             fullScaleDb
                                       : levels[b],
                            2);
        }
    }
    text += '\n';
}

std::optional<std::string> writeBands(const Options& o, const PlannedFile& planned,
                                      const RunSettings& run, std::int64_t memoryBytes,
                                      std::vector<std::string>& notes,
                                      const FileProgress& progress) {
    const WholeFilePlan& plan = planned.plan;
    const std::string& file = plan.path;
    if (columnWindowsMemory(plan) > memoryBytes) {
        return failureText(kNotEnoughMemory);
    }
    std::int32_t high = o.parameters.highHz.value_or(0);
    if (limitHighBandToHalfRate(high, plan.format.sampleRate)) {
        notes.push_back(highestFrequencyLimitedMessage().text + " (" + std::to_string(high) +
                        " Hz)");
    }
    FileFrameWindows windows;
    if (const auto failure = windows.open(fileSegment(plan), plan.params.hop)) {
        return failureText(*failure);
    }
    ColumnAnalysisInputs inputs =
        columnAnalysisInputsFrom(planned.settings, plan.format, plan.params, {}, {});
    inputs.windows = windows.windows();
    BandLevels bands;
    const SetupResult setup = bands.setup(inputs);
    if (setup != SetupResult::Ok) {
        return failureText(setup == SetupResult::NoMemory ? kNotEnoughMemory
                                                          : kAnalysisNotPossible);
    }
    const BandSelection selection = selectBands(o, bands);
    if (selection.bands.empty()) {
        return std::string(MSG_IMPROPER_FREQUENCY_LIMITS) + " (no band centre within them)";
    }
    OutputFile out(outputPath(o, file));
    if (auto failed = out.openFailure()) {
        return failed;
    }
    std::string& text = out.text();
    const std::optional<std::string> unit = calibratedUnit(o, run);
    text = bandsHeader(bands, selection, unit.value_or("dB"));
    const double fullScaleDb = run.fullScale ? run.fullScale->db : 0.0;
    // A step's time is the centre of its window, where the window peaks.
    const double centreMsec = (plan.params.windowSamples / 2) * 1000.0 / plan.format.sampleRate;
    ProgressSteps steps(progress, bands.steps());
    for (long x = 0; x < bands.steps() && !windows.readFailed(); ++x) {
        steps.at(x);
        bands.compute(x);
        appendBandsRow(text, plan.params.columnMsec * static_cast<double>(x) + centreMsec, bands,
                       selection, unit.has_value(), fullScaleDb);
        out.maybeFlush();
    }
    if (windows.readFailed()) {
        return failureText(kErrorReadingFile); // the output is not put in place
    }
    return out.finish();
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};
std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{info.st_dev, info.st_ino};
}

// The same output under any spelling: ./a.png and a.png, or a folder reached by a link.
std::string sameOutputKey(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
}

} // namespace

FileJob planFileJob(const Options& o, const RunSettings& run, const std::string& file) {
    if (o.command == Command::Meter) {
        // The meter reads its file in order, once, as it goes.
        return {kMeterFileMemoryBytes,
                [&o, &run, file](const JobShare& share, std::vector<std::string>&) {
                    return writeMeterTable(o, run, file, nullptr, share);
                }};
    }
    auto planned = std::make_shared<PlannedFile>(planFile(o, run, file));
    const WholeFilePlan& plan = planned->plan;
    FileJob job;
    if (!plan.failure) {
        job.memoryBytes = o.command == Command::Bands ? columnWindowsMemory(plan)
                                                      : wholeFileMemory(plan, o.layout);
    }
    job.run = [&o, &run, planned](const JobShare& share,
                                  std::vector<std::string>& notes) -> std::optional<std::string> {
        notes.insert(notes.end(), planned->notes.begin(), planned->notes.end());
        if (planned->plan.failure) {
            return failureText(*planned->plan.failure);
        }
        switch (o.command) {
        case Command::Image:
            return writeImage(o, run, *planned, share.memoryBytes, share.twoCores, share.progress);
        case Command::Levels:
            return writeLevels(o, run, *planned, share.memoryBytes, share.twoCores, share.progress);
        case Command::Bands:
        case Command::Meter:
            break;
        }
        return writeBands(o, *planned, run, share.memoryBytes, notes, share.progress);
    };
    return job;
}

std::optional<std::string> processFile(const Options& o, const RunSettings& run,
                                       const std::string& file, std::int64_t memoryBytes,
                                       std::vector<std::string>* notes, bool twoCores,
                                       const FileProgress& progress) {
    std::vector<std::string> kept;
    const std::optional<std::string> failure =
        planFileJob(o, run, file).run(JobShare{memoryBytes, twoCores, progress}, kept);
    if (notes != nullptr) {
        notes->insert(notes->end(), kept.begin(), kept.end());
    }
    return failure;
}

AppSettings settingsForFile(const AppSettings& settings, const RunFormat& format, bool* limited,
                            bool highBandFromFile) {
    AppSettings s = settings;
    s.stereo = format.channels == 2;
    if (highBandFromFile) {
        s.highBandHz = std::max(format.sampleRate, 0) / 2;
    }
    const bool cut = limitHighBandToHalfRate(s.highBandHz, format.sampleRate);
    if (limited != nullptr) {
        *limited = cut;
    }
    return s;
}

ListCheck checkFileList(const Options& o, std::vector<std::string>& files) {
    ListCheck check;
    std::map<FileIdentity, std::string> inputs;
    std::map<std::string, std::string> outputs;
    std::vector<std::string> kept;
    for (std::string& file : files) {
        if (const auto id = identityOf(file)) {
            const auto [at, fresh] = inputs.emplace(*id, file);
            if (!fresh) {
                check.notes.push_back(file + ": the same file as " + at->second +
                                      ", analysed once");
                continue;
            }
        }
        const auto [at, fresh] = outputs.emplace(sameOutputKey(outputPath(o, file)), file);
        if (!fresh) {
            check.failures.push_back(file + ": same output name as " + at->second);
            continue;
        }
        kept.push_back(std::move(file));
    }
    files.clear();
    for (std::string& file : kept) {
        const std::string out = outputPath(o, file);
        const auto id = identityOf(out);
        if (const auto input = id ? inputs.find(*id) : inputs.end(); input != inputs.end()) {
            check.failures.push_back(file + ": its output " + out + " is the input file " +
                                     input->second + "; not replaced");
            continue;
        }
        files.push_back(std::move(file));
    }
    return check;
}

std::string outputPath(const Options& o, const std::string& file) {
    const std::filesystem::path in(file);
    std::filesystem::path out =
        o.outDir.empty() ? in.parent_path() : std::filesystem::path(o.outDir);
    out /= in.stem().string() + extensionFor(o);
    return out.string();
}

} // namespace korv::cli
