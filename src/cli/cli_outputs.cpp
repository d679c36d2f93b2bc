#include "cli/cli_outputs.h"

#include "analysis/band_levels.h"
#include "analysis/column_levels.h"
#include "cli/cli_grid.h"
#include "display/parallel_column_loop.h"
#include "output/atomic_file.h"
#include "output/data_log.h"
#include "output/export_picture.h"
#include "output/image_encoding.h"
#include "settings/option_ids.h"

#include <filesystem>
#include <map>

namespace korv::cli {

namespace {

// Text gathered for the writer in pieces of about this size.
constexpr std::size_t kWriteChunk = 1 << 16;

std::string failureText(const UserMessage& m) {
    return m.text;
}

const char* extensionFor(const Options& o) {
    switch (o.command) {
    case Command::Image:
        return o.format == "bmp" ? ".bmp" : o.format == "jpg" ? ".jpg" : ".png";
    case Command::Levels:
        return o.csv ? ".levels.csv" : ".txt";
    case Command::Bands:
        break;
    }
    return ".bands.csv";
}

int imageFormat(const Options& o) {
    return o.format == "bmp"   ? IMAGE_FORMAT_BITMAP
           : o.format == "jpg" ? IMAGE_FORMAT_JPEG
                               : IMAGE_FORMAT_PNG;
}

// The writer of a text output: pieces gathered, then written; the file put in place at the end.
class TextOutput {
  public:
    explicit TextOutput(const std::string& path) : opened_(writer_.open(path)) {}
    [[nodiscard]] std::optional<UserMessage> openFailure() const {
        return fileWriteMessage(opened_);
    }
    std::string& text() { return text_; }
    void maybeFlush() {
        if (text_.size() >= kWriteChunk) {
            writer_.write(std::string_view(text_));
            text_.clear();
        }
    }
    [[nodiscard]] std::optional<UserMessage> finish() {
        writer_.write(std::string_view(text_));
        return fileWriteMessage(writer_.commit());
    }

  private:
    WholeFileWriter writer_;
    FileWriteResult opened_;
    std::string text_;
};

std::optional<std::string> writeImage(const Options& o, const RunSettings& run,
                                      const std::string& file, std::int64_t memoryBytes) {
    const WholeFilePlan plan = planWholeFile(file, run.settings, fileChannelOption(o));
    if (plan.failure) {
        return failureText(*plan.failure);
    }
    const AppSettings settings = settingsForFile(run.settings, plan);
    const WholeFileAnalysis analysis =
        analyseWholeFile(file, settings, o.layout, memoryBytes, {}, fileChannelOption(o));
    if (analysis.failure) {
        return failureText(*analysis.failure);
    }
    const SpectralImage& image = *analysis.image;
    const ViewBand band = entireImageBand(viewBandOf(settings));
    const int width = exportWidth(image.width());
    const ColourTable colours = displayColourTable(run.palette);
    const int format = imageFormat(o);
    EncodedImage encoded;
    // As Entire Image: the band where it is, unless the grid or a magnification needs a copy.
    if (!o.grid && settings.imageScalePercent <= 100) {
        encoded = encodeImageFile(entireImageArea(image, band, width), colours, format,
                                  JPEG_DEFAULT_QUALITY);
    } else {
        auto picture = composeEntirePicture(image, band, width);
        if (picture && o.grid) {
            drawEntireGrid(*picture, plan, settings, image.plotHeight(), image.stripHeight());
        }
        if (picture) {
            picture = scaleForExport(std::move(*picture), settings.imageScalePercent);
        }
        if (!picture) {
            return failureText(kNotEnoughMemoryForBitmap);
        }
        encoded = encodeImageFile(*picture, colours, format, JPEG_DEFAULT_QUALITY);
    }
    if (encoded.failure) {
        return failureText(*encoded.failure);
    }
    if (const auto failed = writeFileWholeOrSay(outputPath(o, file), encoded.bytes)) {
        return failureText(*failed);
    }
    return std::nullopt;
}

std::optional<std::string> writeLevels(const Options& o, const RunSettings& run,
                                       const std::string& file, std::int64_t memoryBytes) {
    const WholeFilePlan plan = planWholeFile(file, run.settings, fileChannelOption(o));
    if (plan.failure) {
        return failureText(*plan.failure);
    }
    const AppSettings settings = settingsForFile(run.settings, plan);
    const int channel =
        settings.typeChoice == TYPE_STEREO && settings.channelChoice == CHANNEL_RIGHT ? 1 : 0;
    LogSource source;
    source.wavePath = file;
    source.sampleRate = plan.format.sampleRate;
    source.fftSize = plan.params.fftSize;
    source.timeScaleMsec = settings.timeScaleMsec;
    source.columnMsec = plan.params.columnMsec;
    source.lowBandHz = settings.lowBandHz;
    source.highBandHz = settings.highBandHz;
    source.levelScaleCode = settings.levelScaleCode;
    const int rows = o.layout.plotHeight - o.layout.stripHeight;
    const ImageLogFormat log(source, rows);
    TextOutput out(outputPath(o, file));
    if (const auto failed = out.openFailure()) {
        return failureText(*failed);
    }
    out.text() = o.csv ? log.csvHeader() : log.header();
    const ColumnSink sink = [&](long x, const ParallelColumnLoop& loop) {
        if (o.csv) {
            log.appendCsvColumn(out.text(), x, loop.averagedLevels(channel));
        } else {
            log.appendColumn(out.text(), x, loop.averagedLevels(channel));
        }
        out.maybeFlush();
    };
    const WholeFileAnalysis analysis =
        analyseWholeFile(file, settings, o.layout, memoryBytes, sink, fileChannelOption(o));
    if (analysis.failure) {
        return failureText(*analysis.failure);
    }
    if (const auto failed = out.finish()) {
        return failureText(*failed);
    }
    return std::nullopt;
}

std::optional<std::string> writeBands(const Options& o, const RunSettings& run,
                                      const std::string& file, std::int64_t memoryBytes) {
    const WholeFilePlan plan = planWholeFile(file, run.settings, fileChannelOption(o));
    if (plan.failure) {
        return failureText(*plan.failure);
    }
    if (heldSampleBytes(plan) > memoryBytes) {
        return failureText(kNotEnoughMemory);
    }
    WholeFileSamples samples = loadWholeFile(file, plan);
    if (!samples.store) {
        return failureText(samples.failure.value_or(kNotEnoughMemory));
    }
    BandLevels bands;
    const int setup = bands.setup(columnAnalysisInputsFrom(run.settings, plan.format, plan.params,
                                                           heldSamples(*samples.store, plan),
                                                           heldPrecise(*samples.store, plan)));
    if (setup != 0) {
        return failureText(setup == ANALYZER_NO_MEMORY ? kNotEnoughMemory : kAnalysisNotPossible);
    }
    TextOutput out(outputPath(o, file));
    if (const auto failed = out.openFailure()) {
        return failureText(*failed);
    }
    // Header: the time, then per channel each band by its nominal centre frequency.
    std::string& text = out.text();
    text = "time_ms";
    const std::vector<int>& bandList = bands.layout().pointBands;
    for (int ch = 0; ch < bands.channels(); ++ch) {
        for (const int b : bandList) {
            text += ',';
            if (bands.channels() == 2) {
                text += ch == 0 ? "L" : "R";
            }
            appendInteger(text, thirdOctaveCentreHz(b));
        }
    }
    text += '\n';
    for (long x = 0; x < bands.steps(); ++x) {
        bands.compute(x);
        appendCsvNumber(text, plan.params.columnMsec * static_cast<double>(x), 1);
        for (int ch = 0; ch < bands.channels(); ++ch) {
            for (const std::int16_t level : bands.levels(ch)) {
                text += ',';
                // Quarter-dB to dB: 10 log10 of the band's summed squared magnitudes.
                appendCsvNumber(text, level / 4.0, 2);
            }
        }
        text += '\n';
        out.maybeFlush();
    }
    if (const auto failed = out.finish()) {
        return failureText(*failed);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> processFile(const Options& o, const RunSettings& run,
                                       const std::string& file, std::int64_t memoryBytes) {
    switch (o.command) {
    case Command::Image:
        return writeImage(o, run, file, memoryBytes);
    case Command::Levels:
        return writeLevels(o, run, file, memoryBytes);
    case Command::Bands:
        break;
    }
    return writeBands(o, run, file, memoryBytes);
}

AppSettings settingsForFile(const AppSettings& settings, const WholeFilePlan& plan) {
    AppSettings s = settings;
    s.typeChoice = plan.format.channels == 2 ? TYPE_STEREO : TYPE_MONO;
    return s;
}

std::vector<OutputClash> outputClashes(const Options& o, std::vector<std::string>& files) {
    std::map<std::string, std::string> taken;
    std::vector<OutputClash> clashes;
    std::vector<std::string> kept;
    for (std::string& file : files) {
        const auto [at, fresh] = taken.emplace(outputPath(o, file), file);
        if (fresh) {
            kept.push_back(std::move(file));
        } else {
            clashes.push_back({std::move(file), at->second});
        }
    }
    files = std::move(kept);
    return clashes;
}

std::string outputPath(const Options& o, const std::string& file) {
    const std::filesystem::path in(file);
    std::filesystem::path out =
        o.outDir.empty() ? in.parent_path() : std::filesystem::path(o.outDir);
    out /= in.stem().string() + extensionFor(o);
    return out.string();
}

} // namespace korv::cli
