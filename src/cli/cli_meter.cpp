#include "cli/cli_meter.h"

#include "audio/recording_time.h"
#include "audio/wave_file.h"
#include "base/settings_types.h"
#include "cli/cli_output_file.h"
#include "cli/cli_outputs.h"
#include "meter/calibrator.h"
#include "output/data_log.h"
#include "output/meter_table.h"
#include "pipeline/calibrator_recording.h"
#include "pipeline/file_samples.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>

namespace korv::cli {

namespace {

using meter::FrequencyWeighting;
using meter::TimeWeighting;

FrequencyWeighting weightingOf(const MeterOptions& m) {
    return m.weighting == "C"   ? FrequencyWeighting::C
           : m.weighting == "Z" ? FrequencyWeighting::Z
                                : FrequencyWeighting::A;
}

TimeWeighting timeWeightingOf(const MeterOptions& m) {
    return m.timeWeighting == "S"   ? TimeWeighting::S
           : m.timeWeighting == "I" ? TimeWeighting::I
                                    : TimeWeighting::F;
}

// A field of the CSV as it stands, or quoted when it holds a separator or a quote.
void appendCsvField(std::string& text, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        text += field;
        return;
    }
    text += '"';
    for (const char c : field) {
        text += c;
        if (c == '"') {
            text += '"';
        }
    }
    text += '"';
}

// The table's names: the weightings and scale the options give.
MeterTableNames namesOf(const Options& o, const RunSettings& run) {
    return {weightingOf(o.meter), timeWeightingOf(o.meter), run.fullScale, o.absoluteTime};
}

std::string summaryHeader(const MeterTableNames& names) {
    const std::string u = "_" + std::string(meterUnit(names));
    const std::string w = meterLevelName(names, false);
    const std::string t = meterLevelName(names, true);
    std::string text = "file,duration_s," + w + "eq" + u + "," + w + "E" + u + "," + t + "max" + u +
                       "," + t + "min" + u + ",LCpeak" + u;
    for (const char* n : {"5", "10", "50", "90", "95"}) {
        text += "," + t + n + u;
    }
    text += '\n';
    return text;
}

meter::MeterSettings settingsFor(const Options& o, const RunSettings& run, double rate) {
    const MeterOptions& m = o.meter;
    meter::MeterSettings s;
    s.sampleRate = rate;
    s.weighting = weightingOf(m);
    s.timeWeighting = timeWeightingOf(m);
    s.intervalSeconds = m.intervalSeconds;
    if (m.bandsPerOctave) {
        s.bands = meter::BandSpec{*m.bandsPerOctave, m.bandLowHz, m.bandHighHz};
    }
    s.correction = meterCorrection(o, run);
    return s;
}

std::string failureText(const UserMessage& message) {
    return message.text;
}

} // namespace

int meterChannel(const Options& o) {
    const auto& channel = o.parameters.channel;
    if (!channel || *channel == "left") {
        return 1;
    }
    return *channel == "right" ? 2 : fileChannelOption(o);
}

std::optional<std::string> calibratedUnit(const Options& o, const RunSettings& run) {
    if (o.meter.unit.empty() && !run.fullScale) {
        return std::nullopt;
    }
    return run.fullScale ? "dB" : "dBFS";
}

std::vector<meter::CorrectionPoint> meterCorrection(const Options& o, const RunSettings& run) {
    std::vector<meter::CorrectionPoint> points;
    if (o.calibrationFile.empty()) {
        return points;
    }
    for (int i = 0; i < kCalibrationPointsUsed; ++i) {
        const CalibrationPoint& p = run.settings.calibrationTable[static_cast<std::size_t>(i)];
        // Only rising frequencies make a curve; the table's unused tail is left out.
        if (p.frequencyHz > 0.0f && (points.empty() || p.frequencyHz > points.back().hz)) {
            points.push_back({p.frequencyHz, p.correctionDb});
        }
    }
    return points;
}

std::optional<meter::FullScaleLevel> fullScaleOf(const Options& o, std::string& error) {
    const MeterOptions& m = o.meter;
    if (m.fullScaleDb) {
        return meter::FullScaleLevel{*m.fullScaleDb};
    }
    if (m.calibratorFile.empty()) {
        return std::nullopt;
    }
    auto measured = measureCalibratorFile(m.calibratorFile, meterChannel(o), m.calibratorLevelDb);
    if (const auto* failure = std::get_if<std::string>(&measured)) {
        error = *failure;
        return std::nullopt;
    }
    const auto& reading = std::get<meter::CalibratorReading>(measured);
    if (reading.verdict != meter::CalibratorVerdict::Accepted) {
        error = m.calibratorFile + ": " + meter::calibratorReason(reading);
        return std::nullopt;
    }
    return reading.fullScale;
}

std::optional<std::string> writeMeterTable(const Options& o, const RunSettings& run,
                                           const std::string& file, MeterFileSummary* summary,
                                           const JobShare& share) {
    FileSamples samples;
    if (const auto failure = samples.open(file, meterChannel(o))) {
        return failureText(*failure);
    }
    const double rate = samples.sampleRate();
    const std::optional<RecordingTime>& start = samples.info().recorded;
    if (o.absoluteTime && (!start || start->dateOnly)) {
        return std::string(kNoRecordingTime);
    }
    if (!(rate >= meter::kLowestMeterRate)) {
        return "Sample Rate Out of Range (the meter takes " +
               std::to_string(int(meter::kLowestMeterRate)) + " Hz and above)";
    }
    meter::SoundLevelMeter levelMeter(settingsFor(o, run, rate), share.twoCores
                                                                     ? meter::MeterCores::Two
                                                                     : meter::MeterCores::One);
    OutputFile out(outputPath(o, file));
    if (auto failed = out.openFailure()) {
        return failed;
    }
    std::string& text = out.text();
    const MeterTableNames names = namesOf(o, run);
    text = meterTableHeader(names, levelMeter.bands());
    bool outOfRange = false;
    const auto row = [&](const meter::IntervalLevels& levels) {
        std::optional<std::string> time;
        if (o.absoluteTime) {
            time = isoTimeText(*start, levels.startFrame, samples.info().sampleRate);
            outOfRange = outOfRange || !time;
        }
        appendMeterRow(text, names, levels, rate, time.value_or(""));
        out.maybeFlush();
    };
    // Counted in blocks: a file of any length fits a long.
    const auto blockFrames = static_cast<std::int64_t>(kFileSampleBlockFrames);
    const long blocks = static_cast<long>(std::min<std::int64_t>(
        (std::max<std::int64_t>(samples.frames(), 0) + blockFrames - 1) / blockFrames,
        std::numeric_limits<long>::max()));
    ProgressSteps steps(share.progress, blocks);
    long fed = 0;
    for (auto block = samples.next(); !block.empty(); block = samples.next()) {
        levelMeter.feed(block, row);
        steps.at(++fed);
    }
    if (samples.failed()) {
        return failureText(kErrorReadingFile); // the table is not put in place
    }
    levelMeter.finish(row);
    if (outOfRange) {
        return std::string(kNoRecordingTime);
    }
    if (auto failed = out.finish()) {
        return failed;
    }
    if (summary != nullptr) {
        *summary = {levelMeter.summary(), rate};
    }
    return std::nullopt;
}

std::string summaryRefusal(const Options& o, const std::vector<std::string>& files) {
    const std::string& path = o.meter.summaryFile;
    if (path.empty()) {
        return {};
    }
    struct stat summaryInfo {};
    const bool exists = ::stat(path.c_str(), &summaryInfo) == 0;
    for (const std::string& file : files) {
        struct stat info {};
        if (exists && ::stat(file.c_str(), &info) == 0 && info.st_dev == summaryInfo.st_dev &&
            info.st_ino == summaryInfo.st_ino) {
            return "--summary " + path + " is the input file " + file + "; not replaced";
        }
        std::error_code ec;
        const auto table = std::filesystem::weakly_canonical(outputPath(o, file), ec);
        if (!ec && table == std::filesystem::weakly_canonical(path, ec) && !ec) {
            return "--summary " + path + " is the table of " + file;
        }
    }
    return {};
}

SummaryLock::~SummaryLock() {
    if (fd_ >= 0) {
        // Removed while still held: a run that opened it meanwhile finds it gone and retries.
        ::unlink(path_.c_str());
        ::close(fd_);
    }
}

std::string SummaryLock::take(const std::string& summaryFile) {
    if (summaryFile.empty()) {
        return {};
    }
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(summaryFile, ec);
    const std::string lock = (ec ? std::filesystem::path(summaryFile) : real).string() + ".lock";
    // A few rounds at most: each is lost only to a run that removed the file as it ended.
    for (int round = 0; round < 16; ++round) {
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            return "--summary " + summaryFile + ": cannot make its lock file " + lock + " (" +
                   systemReason(errno) + ")";
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK) {
                return "--summary " + summaryFile + " is being written by another run of the " +
                       "tool (it holds " + lock + "); not replaced";
            }
            return "--summary " + summaryFile + ": cannot lock " + lock + " (" +
                   systemReason(error) + ")";
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(lock.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd_ = fd;
            path_ = lock;
            return {};
        }
        ::close(fd); // the file locked was removed by the run before: take the new one
    }
    return "--summary " + summaryFile + ": cannot lock " + lock + " (it keeps being replaced)";
}

JobsReport runMeter(const Options& o, const RunSettings& run, const std::vector<std::string>& files,
                    std::ostream* progress, std::ostream& errors) {
    std::map<std::string, std::size_t> places;
    for (std::size_t i = 0; i < files.size(); ++i) {
        places.emplace(files[i], i);
    }
    std::vector<std::optional<MeterFileSummary>> summaries(files.size());
    std::mutex taken;
    const bool summarised = !o.meter.summaryFile.empty();
    JobsReport report = runJobs(
        files, o.jobs, kMeterFileMemoryBytes * static_cast<std::int64_t>(files.size() + 1),
        [&](const std::string& file) {
            return FileJob{
                kMeterFileMemoryBytes, [&, file](const JobShare& share, std::vector<std::string>&) {
                    MeterFileSummary summary;
                    auto failure =
                        writeMeterTable(o, run, file, summarised ? &summary : nullptr, share);
                    if (!failure && summarised) {
                        const std::lock_guard lock(taken);
                        summaries[places.at(file)] = summary;
                    }
                    return failure;
                }};
        },
        progress, errors);
    if (!summarised) {
        return report;
    }
    OutputFile out(o.meter.summaryFile);
    std::optional<std::string> failure = out.openFailure();
    if (!failure) {
        std::string& text = out.text();
        const MeterTableNames names = namesOf(o, run);
        text = summaryHeader(names);
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (!summaries[i]) {
                continue; // its failure is named already
            }
            const meter::MeterSummary& s = summaries[i]->levels;
            appendCsvField(text, files[i]);
            text += ',';
            appendMeterSeconds(text, s.frames, summaries[i]->sampleRate);
            for (const double level :
                 {s.leq, s.le, s.lmax, s.lmin, s.lcpeak, s.l5, s.l10, s.l50, s.l90, s.l95}) {
                appendMeterLevel(text, names, level);
            }
            text += '\n';
            out.maybeFlush();
        }
        failure = out.finish();
    }
    if (failure) {
        ++report.failed;
        errors << *failure << '\n';
    }
    return report;
}

} // namespace korv::cli
