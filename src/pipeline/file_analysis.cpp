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
    return byteRate > 0 ? static_cast<std::int64_t>(info.dataLength) * 1000 / byteRate : 0;
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

WholeFilePlan planWholeFile(const std::string& path, const AppSettings& settings, int fileChannel) {
    WholeFilePlan plan;
    const WaveParseResult parsed = openSoundFile(path);
    if (parsed.status != WaveParseStatus::Header) {
        plan.failure = parsed.message.value_or(kCannotOpenFile);
        return plan;
    }
    plan.info = parsed.info;
    if (fileChannel > 0 && plan.info.fileChannels > 2 && !holdOneChannel(plan.info, fileChannel)) {
        plan.failure = kNoSuchChannel;
        return plan;
    }
    if (fileChannel > plan.info.fileChannels) {
        plan.failure = kNoSuchChannel;
        return plan;
    }
    const WaveFileInfo& info = plan.info;
    plan.format = {info.sampleRate, info.channels, info.bitsPerSample / 8};
    const int fftSize = fftSizeFromChoice(settings.fftSizeChoice);
    const SegmentRangeInputs range =
        segmentRangeInputs(info, plan.format, fftSize, 0, waveDataMsec(info));
    const SegmentPlan segment = planAnalyzeSegment(
        range, analysisWindowMsec(plan.format.sampleRate, fftSize, settings.resolutionFactor),
        frequencyScaleOf(settings), settings.lowBandHz, settings.highBandHz);
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

std::int64_t heldSampleBytes(const WholeFilePlan& plan) {
    return heldMemoryBytes(plan.segmentBytes, encodingConverted(plan.info.encoding));
}

std::span<const std::uint8_t> heldSamples(const SampleStore& store, const WholeFilePlan& plan) {
    return store.samples().first(static_cast<std::size_t>(plan.segmentBytes));
}

std::span<const float> heldPrecise(const SampleStore& store, const WholeFilePlan& plan) {
    return store.precisePart(static_cast<std::size_t>(plan.segmentBytes));
}

WholeFileSamples loadWholeFile(const std::string& path, const WholeFilePlan& plan) {
    WholeFileSamples held;
    SegmentResult segment = loadSegment(path, plan.segmentStartByte, plan.segmentBytes,
                                        plan.waveFormat(), *held.counter, plan.info.source());
    if (!segment.store) {
        held.failure = segment.message.value_or(kNotEnoughMemory);
    }
    held.store = std::move(segment.store);
    return held;
}

WholeFileAnalysis analyseWholeFile(const std::string& path, const AppSettings& settings,
                                   const ImageLayout& layout, std::int64_t memoryBytes,
                                   const ColumnSink& sink, int fileChannel) {
    WholeFileAnalysis result;
    result.plan = planWholeFile(path, settings, fileChannel);
    const WholeFilePlan& plan = result.plan;
    if (plan.failure) {
        result.failure = plan.failure;
        return result;
    }
    const SpectralImageGeometry geometry{plan.params.columns, layout.minWidth, layout.plotHeight,
                                         layout.stripHeight, plan.format.channels};
    const std::int64_t imageBytes = spectralImageBytes(geometry);
    if (imageBytes > surfacePixelLimit(memoryBytes) ||
        imageBytes + heldSampleBytes(plan) > memoryBytes) {
        result.failure = kNotEnoughDisplayMemory;
        return result;
    }
    WholeFileSamples samples = loadWholeFile(path, plan);
    if (!samples.store) {
        result.failure = samples.failure;
        return result;
    }
    result.image = SpectralImage::create(geometry);
    if (!result.image) {
        result.failure = kNotEnoughDisplayMemory;
        return result;
    }
    ColumnAnalysisInputs inputs = columnAnalysisInputsFrom(settings, plan.format, plan.params,
                                                           heldSamples(*samples.store, plan),
                                                           heldPrecise(*samples.store, plan));
    // The sink writes the levels log: each bin's own level.
    inputs.binLevels = static_cast<bool>(sink);
    ParallelColumnLoop loop;
    const int setup = loop.setup(inputs, *result.image, false);
    if (setup != 0) {
        result.failure = setup == ANALYZER_NO_MEMORY ? kNotEnoughMemory : kAnalysisNotPossible;
        result.image.reset();
        return result;
    }
    for (long x = 0; x < plan.params.columns; ++x) {
        loop.analyzeColumn(x, *result.image);
        if (sink) {
            sink(x, loop);
        }
    }
    loop.release();
    return result;
}

} // namespace korv
