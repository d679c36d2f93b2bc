#include "pipeline/file_analysis.h"

#include "analysis/analyze_segment.h"
#include "analysis/column_levels.h"
#include "audio/sound_file.h"
#include "audio/wave_file.h"
#include "display/memory_budget.h"
#include "display/parallel_column_loop.h"
#include "settings/settings_inputs.h"

namespace korv {

AppSettings wholeFileSettings(AppSettings settings) {
    settings.timeScaleMsec =
        settings.timeScaleMsecSaved == 0.0f ? kDefaultTimeScaleMsec : settings.timeScaleMsecSaved;
    useAnalyzeFileScale(settings);
    return settings;
}

std::int64_t waveDataMsec(const WaveFileInfo& info) {
    const std::int64_t byteRate =
        static_cast<std::int64_t>(info.sampleRate) * info.channels * info.bitsPerSample / 8;
    if (byteRate <= 0) {
        return 0;
    }
    // Whole seconds first: the byte count times 1000 may not fit.
    return info.dataLength / byteRate * 1000 + info.dataLength % byteRate * 1000 / byteRate;
}

SegmentRangeInputs segmentRangeInputs(const WaveFileInfo& info, const RunFormat& format,
                                      int fftSize, std::int64_t beginMsec, std::int64_t endMsec) {
    SegmentRangeInputs in;
    in.beginMsec = beginMsec;
    in.endMsec = endMsec;
    in.sampleRate = format.sampleRate;
    in.channels = format.channels;
    in.bytesPerSample = format.bytesPerSample;
    in.fftSize = fftSize;
    in.dataBytes = info.dataLength;
    in.dataOffset = info.dataOffset;
    return in;
}

ColumnPlan planColumns(const AppSettings& settings, const RunFormat& format,
                       std::int64_t segmentBytes) {
    ColumnPlan plan;
    plan.params = deriveRunParameters(analysisInputsFrom(settings), format, segmentBytes);
    plan.check = checkAnalyzeFileColumns(plan.params.hop, plan.params.columns);
    return plan;
}

OpenedSoundFile openWholeFile(const std::string& path, int fileChannel) {
    OpenedSoundFile file;
    file.path = path;
    const WaveParseResult parsed = openSoundFile(path);
    if (parsed.status == WaveParseStatus::CannotOpenFile) {
        file.failure = cannotOpenSoundFile(path);
        return file;
    }
    if (parsed.status != WaveParseStatus::Header) {
        file.failure = parsed.message.value_or(kCannotOpenFile);
        return file;
    }
    file.info = parsed.info;
    if ((fileChannel > 0 && file.info.fileChannels > 2 &&
         !holdOneChannel(file.info, fileChannel)) ||
        fileChannel > file.info.fileChannels) {
        file.failure = kNoSuchChannel;
    }
    return file;
}

WholeFilePlan planOpenedFile(const OpenedSoundFile& file, const AppSettings& settings) {
    WholeFilePlan plan;
    plan.path = file.path;
    plan.info = file.info;
    if (file.failure) {
        plan.failure = file.failure;
        return plan;
    }
    const WaveFileInfo& info = plan.info;
    plan.format = file.format();
    const int fftSize = settings.fftSize();
    const SegmentRangeInputs range =
        segmentRangeInputs(info, plan.format, fftSize, 0, waveDataMsec(info));
    const SegmentPlan segment = planAnalyzeSegment(
        range, analysisWindowMsec(plan.format.sampleRate, fftSize, settings.resolutionFactor),
        settings.frequencyScale, settings.lowBandHz, settings.highBandHz);
    if (!segment.check.proceeds()) {
        plan.failure =
            segment.check.messages.empty() ? kAnalysisNotPossible : segment.check.messages.front();
        return plan;
    }
    plan.segmentStartByte = segment.range.fileOffset;
    plan.segmentBytes = segment.range.lengthBytes();
    const ColumnPlan columns = planColumns(settings, plan.format, plan.segmentBytes);
    plan.params = columns.params;
    if (!columns.check.proceeds()) {
        plan.failure =
            columns.check.messages.empty() ? kAnalysisNotPossible : columns.check.messages.front();
    }
    return plan;
}

WholeFilePlan planWholeFile(const std::string& path, const AppSettings& settings, int fileChannel) {
    return planOpenedFile(openWholeFile(path, fileChannel), settings);
}

FileSegment fileSegment(const WholeFilePlan& plan) {
    return {plan.path, plan.waveFormat(), plan.info.source(), plan.segmentStartByte,
            plan.segmentBytes};
}

std::int64_t columnWindowsMemory(const WholeFilePlan& plan) {
    return 2 * columnWindowMemory(plan.info.source()); // the caller's and the worker's
}

namespace {

SpectralImageGeometry imageGeometry(const WholeFilePlan& plan, const ImageLayout& layout) {
    return {plan.params.columns, layout.minWidth, layout.plotHeight, layout.stripHeight,
            plan.format.channels};
}

} // namespace

std::int64_t wholeFileMemory(const WholeFilePlan& plan, const ImageLayout& layout) {
    return spectralImageBytes(imageGeometry(plan, layout)) + columnWindowsMemory(plan);
}

WholeFileAnalysis analyseWholeFile(const WholeFilePlan& plan, const AppSettings& settings,
                                   const ImageLayout& layout, std::int64_t memoryBytes,
                                   const ColumnSink& sink, bool useWorker) {
    WholeFileAnalysis result;
    if (plan.failure) {
        result.failure = plan.failure;
        return result;
    }
    const SpectralImageGeometry geometry = imageGeometry(plan, layout);
    if (spectralImageBytes(geometry) > surfacePixelLimit(memoryBytes) ||
        wholeFileMemory(plan, layout) > memoryBytes) {
        result.failure = kNotEnoughMemory;
        return result;
    }
    FileFrameWindows windows;
    if (const auto failure = windows.open(fileSegment(plan), plan.params.hop)) {
        result.failure = failure;
        return result;
    }
    result.image = SpectralImage::create(geometry);
    if (!result.image) {
        result.failure = kNotEnoughMemory;
        return result;
    }
    ColumnAnalysisInputs inputs =
        columnAnalysisInputsFrom(settings, plan.format, plan.params, {}, {});
    inputs.windows = windows.windows();
    // The sink writes the levels log: each bin's own level.
    inputs.binLevels = static_cast<bool>(sink);
    ParallelColumnLoop loop;
    const SetupResult setup = loop.setup(inputs, *result.image, useWorker);
    if (setup != SetupResult::Ok) {
        result.failure = setup == SetupResult::NoMemory ? kNotEnoughMemory : kAnalysisNotPossible;
        result.image.reset();
        return result;
    }
    for (long x = 0; x < plan.params.columns && !windows.readFailed(); ++x) {
        loop.analyzeColumn(x, *result.image);
        if (sink) {
            sink(x, loop);
        }
    }
    loop.release();
    if (windows.readFailed()) {
        // The file changed or could not be read after its check: no picture of half of it.
        result.failure = kErrorReadingFile;
        result.image.reset();
    }
    return result;
}

} // namespace korv
