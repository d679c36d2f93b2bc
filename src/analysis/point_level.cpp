#include "analysis/point_level.h"

#include "analysis/levels.h"
#include "analysis/rounding.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace korv {

namespace {

constexpr double kLevelOffsetDb = 90.0;
constexpr long kMinLevelDb = -90;

// The sample at `byte`, or its exact value where the file's samples were wider.
float sampleAt(std::span<const std::uint8_t> samples, std::span<const float> precise,
               std::int64_t byte, int bytes) {
    if (byte < 0 ||
        static_cast<std::uint64_t>(byte) + static_cast<std::uint64_t>(bytes) > samples.size()) {
        return 0.0f;
    }
    const auto at = static_cast<std::size_t>(byte);
    if (bytes == 2 && precise.size() == samples.size() / 2) {
        return precise[at / 2];
    }
    if (bytes == 1) {
        return toAnalysisSample(samples[at]);
    }
    return toAnalysisSample(static_cast<std::int16_t>(samples[at] | (samples[at + 1] << 8)));
}

} // namespace

std::optional<long> pointLevelDb(const ColumnAnalysisInputs& in, int channel,
                                 std::int64_t startFrame, double frequencyHz) {
    const int bytes = in.bitsPerSample / 8;
    if ((in.channels != 1 && in.channels != 2) || channel < 0 || channel >= in.channels ||
        (bytes != 1 && bytes != 2) || in.sampleRate <= 0 || in.run.hop <= 0 ||
        in.run.log2FftSize < MIN_LOG2_FFT_SIZE || in.run.log2FftSize > MAX_LOG2_FFT_SIZE) {
        return std::nullopt;
    }
    FftEngine fft;
    if (fft.setupFftWindow(in.run.log2FftSize, in.run.windowSamples) != 0) {
        return std::nullopt;
    }
    const int n = fft.fftSize();
    const long bin = std::clamp(roundHalfUp(n * frequencyHz / in.sampleRate), 0L, n / 2L - 1);
    const int frames = std::clamp(in.averageCountScroll, MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT);
    const std::int64_t frameBytes = static_cast<std::int64_t>(in.channels) * bytes;
    const std::int64_t hopFrames = in.run.hop / in.channels;
    std::vector<float> frame;
    std::vector<std::int16_t> levels;
    std::vector<std::int16_t> offsets;
    try {
        frame.assign(static_cast<std::size_t>(n), 0.0f);
        levels.assign(static_cast<std::size_t>(n / 2), 0);
        offsets = in.corrections.binOffsets(in.sampleRate, n);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    double sum = 0.0;
    for (int f = 0; f < frames; ++f) {
        const std::int64_t first = startFrame - f * hopFrames;
        for (int i = 0; i < n; ++i) {
            frame[static_cast<std::size_t>(i)] =
                sampleAt(in.samples, in.precise, (first + i) * frameBytes + channel * bytes, bytes);
        }
        fft.transformSamples(frame, levels, FftOutput::Levels);
        in.corrections.applyToBins(levels, offsets);
        sum += levels[static_cast<std::size_t>(bin)];
    }
    const double db = sum / frames / 4.0 - kLevelOffsetDb;
    return std::max(kMinLevelDb, static_cast<long>(std::trunc(db)));
}

} // namespace korv
