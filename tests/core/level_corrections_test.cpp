// A frequency weighting reaches every analyser at the frequency each level stands for: the
// picture's bins, a logged point, the tool's bands and the live plots' third-octave points.
// The weighting 20 lg(f / 1 kHz) adds nothing at 1 kHz and 12.04 dB at 4 kHz (exactly 12 dB
// at the 4 kHz band's mid-band frequency 10^3.6 Hz), so each level of a two-tone signal must
// move by that much over the same analysis without it.

#include "analysis/band_levels.h"
#include "analysis/column_levels.h"
#include "analysis/column_pipeline.h"
#include "analysis/level_corrections.h"
#include "analysis/point_level.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace korv {
namespace {

constexpr std::int32_t kRate = 16000;
constexpr int kLog2N = 10; // bins 15.625 Hz apart: 1 kHz is bin 64, 4 kHz bin 256
constexpr long kFrames = 8000;
constexpr std::int32_t kGainCode = -9;

double weighting(double hz) {
    return 20.0 * std::log10(hz / 1000.0);
}

double twoTones(long n) {
    const double t = static_cast<double>(n) / kRate;
    return 8000.0 * (std::sin(2.0 * std::numbers::pi * 1000.0 * t) +
                     std::sin(2.0 * std::numbers::pi * 4000.0 * t));
}

std::vector<std::uint8_t> samples() {
    std::vector<std::uint8_t> bytes;
    for (long n = 0; n < kFrames; ++n) {
        test::putLe16(
            bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(twoTones(n)))));
    }
    return bytes;
}

ColumnAnalysisInputs inputs(const std::vector<std::uint8_t>& bytes, bool weighted) {
    ColumnAnalysisInputs in;
    in.samples = bytes;
    in.sampleRate = kRate;
    in.run = {.log2FftSize = kLog2N, .windowSamples = 1 << kLog2N, .hop = 800, .columns = 8};
    in.highBandHz = kRate / 2;
    in.binLevels = true;
    in.corrections = LevelCorrections(CalibrationCurve{}, kGainCode,
                                      weighted ? weighting : FrequencyWeighting{});
    return in;
}

TEST(LevelCorrections, AFrequencyWeightingReachesEveryAnalyser) {
    const std::vector<std::uint8_t> bytes = samples();
    const ColumnAnalysisInputs plain = inputs(bytes, false);
    const ColumnAnalysisInputs weighted = inputs(bytes, true);
    const long quarterDbAt4k = std::lround(4.0 * weighting(4000.0)); // 48

    // The picture's and the level logs' bins.
    ColumnLevels a;
    ColumnLevels b;
    ASSERT_EQ(a.setup(plain, 64, 8), SetupResult::Ok);
    ASSERT_EQ(b.setup(weighted, 64, 8), SetupResult::Ok);
    ASSERT_TRUE(a.compute(3) && b.compute(3));
    EXPECT_EQ(b.averagedBins(0)[64], a.averagedBins(0)[64]);
    EXPECT_EQ(std::lround(b.averagedBins(0)[256] - a.averagedBins(0)[256]), quarterDbAt4k);

    // A clicked point, in whole dB.
    const auto point = [&](const ColumnAnalysisInputs& in, double hz) {
        return pointLevelDb(in, 0, 2400, hz).value_or(-1000);
    };
    EXPECT_EQ(point(weighted, 1000.0), point(plain, 1000.0));
    EXPECT_EQ(point(weighted, 4000.0), point(plain, 4000.0) + quarterDbAt4k / 4);

    // The tool's bands: on the window's scale and as calibrated powers.
    BandLevels plainBands;
    BandLevels weightedBands;
    ASSERT_EQ(plainBands.setup(plain), SetupResult::Ok);
    ASSERT_EQ(weightedBands.setup(weighted), SetupResult::Ok);
    plainBands.compute(0);
    weightedBands.compute(0);
    const std::vector<int>& bands = plainBands.layout().pointBands;
    const auto at = [&](int band) { return static_cast<std::size_t>(band - bands.front()); };
    EXPECT_DOUBLE_EQ(weightedBands.levels(0)[at(30)], plainBands.levels(0)[at(30)]);
    EXPECT_NEAR(weightedBands.levels(0)[at(36)], plainBands.levels(0)[at(36)] + 12.0, 1e-9);
    EXPECT_NEAR(weightedBands.powers(0)[at(36)] / plainBands.powers(0)[at(36)], std::pow(10.0, 1.2),
                1e-9);

    // The live plots' third-octave points: the band's weighting, still no gain.
    const auto thirdOctave = [&](const LevelCorrections& corrections) {
        ColumnPipelineInputs p;
        p.sampleRate = kRate;
        p.log2FftSize = kLog2N;
        p.windowSamples = 1 << kLog2N;
        p.frequencyScale = FrequencyScale::ThirdOctave;
        p.rows = 80;
        p.corrections = corrections;
        ColumnPipeline pipeline;
        EXPECT_EQ(pipeline.setup(p), SetupResult::Ok);
        const std::span<std::int16_t> frame = pipeline.frame16(0);
        for (std::size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<std::int16_t>(std::lround(twoTones(static_cast<long>(i))));
        }
        pipeline.analyseColumn(1);
        const auto layout = thirdOctavePoints(kRate, 1 << kLog2N, p.rows);
        std::vector<float> byBand(THIRD_OCTAVE_TABLE_BANDS, 0.0f);
        for (std::size_t r = 0; r < layout->pointBands.size(); ++r) {
            byBand[static_cast<std::size_t>(layout->pointBands[r])] = pipeline.averaged(0)[r];
        }
        return byBand;
    };
    const std::vector<float> plainPoints = thirdOctave(plain.corrections);
    const std::vector<float> weightedPoints = thirdOctave(weighted.corrections);
    EXPECT_EQ(weightedPoints[30], plainPoints[30]);
    EXPECT_EQ(weightedPoints[36], plainPoints[36] + 48.0f);
}

} // namespace
} // namespace korv
