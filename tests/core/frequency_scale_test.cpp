#include "analysis/frequency_scale.h"

#include "analysis/calibration_edit.h"
#include "analysis/fft.h"
#include "analysis/level_corrections.h"
#include "analysis/parameters.h"
#include "settings/default_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <numeric>
#include <vector>

namespace korv {
namespace {

// Levels equal to their bin index make a row's result tell which bins it read.
std::vector<std::int16_t> rampLevels(int count) {
    std::vector<std::int16_t> levels(static_cast<std::size_t>(count));
    std::iota(levels.begin(), levels.end(), std::int16_t{0});
    return levels;
}

std::vector<std::int16_t> gather(const RowMap& map, const std::vector<std::int16_t>& levels) {
    std::vector<std::int16_t> rows(map.rows.size(), std::int16_t{-32768});
    gatherRows(map, levels, rows);
    return rows;
}

// How rows gather their bins (the bins of the rows: FrequencyAxis, the gathering: gatherRows).
TEST(RowMap, RowsGatherTheirBinsAsTheBandAsksMeansTruncatedAndShortInputSafe) {
    // 100 bins of 8 Hz under 800 rows repeat bins; the band goes past the Nyquist frequency too.
    const auto repeated = FrequencyAxis(FrequencyScale::Linear, 0, 6000, 800).rowMap(8192, 1024);
    ASSERT_TRUE(repeated.has_value());
    EXPECT_EQ(repeated->combine, RowCombine::Single);
    // A guard value just past the N/2 levels must never be read.
    std::vector<std::int16_t> storage = rampLevels(513);
    storage[512] = 9999;
    std::vector<std::int16_t> rows(800);
    gatherRows(*repeated, std::span<const std::int16_t>(storage.data(), 512), rows);
    int repeats = 0;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_GE(rows[r], rows[r - 1]);
        EXPECT_LE(rows[r] - rows[r - 1], 1);
        repeats += rows[r] == rows[r - 1] ? 1 : 0;
    }
    EXPECT_GT(repeats, 0);
    EXPECT_EQ(rows.back(), 511);

    // Two bins a row: every bin of the band exactly once, a row shows the larger of its two,
    // below level 0 too (a quiet row of a plot reads its own level, not the floor).
    const auto whole = FrequencyAxis(FrequencyScale::Linear, 0, 4096, 256).rowMap(8192, 1024);
    const auto single = FrequencyAxis(FrequencyScale::Linear, 0, 4096, 512).rowMap(8192, 1024);
    ASSERT_TRUE(whole && single);
    EXPECT_EQ(whole->combine, RowCombine::Maximum);
    for (int r = 0; r < 256; ++r) {
        EXPECT_EQ(whole->rows.at(static_cast<std::size_t>(r)), (RowBins{2 * r, 2})) << r;
    }
    const auto maxima = gather(*whole, rampLevels(512));
    for (std::size_t r = 0; r < maxima.size(); ++r) {
        EXPECT_EQ(maxima[r], static_cast<std::int16_t>(2 * r + 1));
    }
    std::vector<std::int16_t> negative(512, std::int16_t{-40});
    negative[1] = -25;
    EXPECT_EQ(gather(*whole, negative).front(), -25);
    EXPECT_EQ(gather(*whole, negative)[1], -40);
    EXPECT_EQ(gather(*single, negative).front(), -40);

    // Log rows take the mean of their bins; above the Nyquist frequency every missing bin reads
    // the last one.
    const auto high = FrequencyAxis(FrequencyScale::Log, 3000, 16000, 8).rowMap(8000, 512);
    ASSERT_TRUE(high.has_value());
    EXPECT_EQ(high->combine, RowCombine::Mean);
    std::vector<std::int16_t> levels(256, std::int16_t{10});
    levels[255] = 70;
    const auto gathered = gather(*high, levels);
    EXPECT_EQ(gathered.back(), 70);
    EXPECT_EQ(gathered.front(), 10);

    // A mean truncates toward zero.
    RowMap map;
    map.combine = RowCombine::Mean;
    map.binLimit = 4;
    map.rows = {RowBins{0, 2}, RowBins{2, 5}};
    std::vector<std::int16_t> means(2);
    gatherRows(map, std::vector<std::int16_t>{-3, -2, 7, 9}, means);
    EXPECT_EQ(means[0], -2);              // -2.5
    EXPECT_EQ(means[1], (7 + 9 * 4) / 5); // 9 stands in for bins 4, 5, 6

    // Fewer levels than the map expects: the last one given stands in.
    gatherRows(map, std::vector<std::int16_t>{4, 6}, means);
    EXPECT_EQ(means[1], 6);
    std::vector<std::int16_t> none(2, 5);
    gatherRows(map, std::span<const std::int16_t>(), none);
    EXPECT_EQ(none[0], 0);
}

// Nominal third-octave centre frequencies from 10 Hz (ISO 266).
constexpr double NOMINAL_CENTRES[] = {10,   12.5, 16,   20,    25,    31.5,  40,   50,   63,
                                      80,   100,  125,  160,   200,   250,   315,  400,  500,
                                      630,  800,  1000, 1250,  1600,  2000,  2500, 3150, 4000,
                                      5000, 6300, 8000, 10000, 12500, 16000, 20000};

TEST(ThirdOctave, EdgesMatchTheNominalBands) {
    const auto& edges = thirdOctaveEdges();
    EXPECT_EQ(std::vector(edges.begin(), edges.begin() + 4), (std::vector{1, 1, 1, 2}));
    EXPECT_EQ(edges[30], 1122);
    EXPECT_EQ(edges[43], 22396);
    EXPECT_TRUE(std::is_sorted(edges.begin(), edges.end()));
    // Band i + 10 is centred on the nominal frequency; its upper edge a sixth octave above.
    for (std::size_t b = 0; b < std::size(NOMINAL_CENTRES); ++b) {
        const double upper = NOMINAL_CENTRES[b] * std::pow(2.0, 1.0 / 6.0);
        EXPECT_NEAR(edges[b + 10], upper, 0.02 * upper + 1.0) << NOMINAL_CENTRES[b] << " Hz";
    }
}

TEST(ThirdOctave, BinsAtNominalCentresFallInTheirBand) {
    const std::int32_t rate = 44100;
    const int n = 16384;
    const auto bands = buildBandMap(rate, n);
    ASSERT_EQ(bands.size(), 8192u);
    const double binWidth = static_cast<double>(rate) / n;
    for (std::size_t b = 4; b < std::size(NOMINAL_CENTRES); ++b) { // from 25 Hz: bins narrow enough
        const auto bin = static_cast<std::size_t>(std::lround(NOMINAL_CENTRES[b] / binWidth));
        EXPECT_EQ(bands[bin], b + 10) << NOMINAL_CENTRES[b] << " Hz";
    }
    EXPECT_EQ(bands[0], 0);
    EXPECT_TRUE(std::is_sorted(bands.begin(), bands.end()));
    // 48 kHz with 512 points: the top bins lie above the last edge and stay in the last band.
    const auto coarse = buildBandMap(48000, 512);
    ASSERT_EQ(coarse.size(), 256u);
    EXPECT_EQ(coarse.back(), 43);
    EXPECT_TRUE(buildBandMap(0, 512).empty());
    // Higher rates go on to the last band whose centre (1000 x 2^(n/3), band n + 30) lies
    // within half the rate: 40 kHz at 96 kHz, 160 kHz at 384 kHz; the bins above its upper edge
    // stay in it.
    for (const auto& [highRate, last] : {std::pair{96000, 46}, std::pair{384000, 52}}) {
        const auto map = buildBandMap(highRate, 16384);
        EXPECT_EQ(thirdOctaveLastBand(highRate), last);
        EXPECT_EQ(map.back(), last);
        EXPECT_LE(1000.0 * std::pow(2.0, (last - 30) / 3.0), highRate / 2);
        EXPECT_GT(1000.0 * std::pow(2.0, (last - 29) / 3.0), highRate / 2);
        const auto bin40k = static_cast<std::size_t>(std::lround(40000.0 * 16384 / highRate));
        EXPECT_EQ(map[bin40k], 46);
    }
    EXPECT_EQ(thirdOctaveLastBand(48000), 43);
    EXPECT_EQ(thirdOctaveLastBand(44100), 43);
}

// A sine through the engine in magnitude mode, summed into the plot's third-octave points:
// the loudest point shows the band that holds the tone, and that band's calibration point
// lifts it by whole decibels.
TEST(ThirdOctave, ASineLandsInTheBandHoldingIt) {
    const std::int32_t rate = 44100;
    const int n = 4096;
    const int points = 240;
    const auto layout = thirdOctavePoints(rate, n, points);
    ASSERT_TRUE(layout);
    // Bands under 8 bins wide are left out; the top point shows the band of rate / 2.
    EXPECT_GE(thirdOctaveEdges()[static_cast<std::size_t>(layout->firstBand)] -
                  thirdOctaveEdges()[static_cast<std::size_t>(layout->firstBand - 1)],
              8.0 * rate / n);
    EXPECT_EQ(layout->lastBand, thirdOctaveBand(rate / 2));
    EXPECT_EQ(layout->pointBands.back(), layout->lastBand);
    EXPECT_GE(layout->pointBands.front(), THIRD_OCTAVE_FIRST_PLOTTED_BAND);
    EXPECT_TRUE(std::is_sorted(layout->pointBands.begin(), layout->pointBands.end()));
    EXPECT_DOUBLE_EQ(layout->highHz, std::pow(10.0, layout->lastBand / 10.0));

    FftEngine fft;
    ASSERT_EQ(fft.setupFft(12, FFT_FULL_WINDOW_RATE, FFT_FULL_WINDOW_MSEC), 0);
    CalibrationCurve curve = defaultCalibrationCurve();
    zeroCalibrationCurve(curve);
    const auto sine = [&](double hz, std::int32_t at) {
        std::vector<std::int16_t> frame(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<std::int16_t>(
                8000.0 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / at));
        }
        return frame;
    };
    // Tones at 44.1 kHz, and a 40 kHz call at 384 kHz.
    for (const auto& [at, hz] :
         {std::pair{rate, 500.0}, std::pair{rate, 1000.0}, std::pair{rate, 3150.0},
          std::pair{rate, 9000.0}, std::pair{384000, 40000.0}}) {
        const auto plot = thirdOctavePoints(at, n, points);
        ASSERT_TRUE(plot);
        const auto bands = buildBandMap(at, n);
        auto frame = sine(hz, at);
        fft.transformFrame(frame, FftOutput::Magnitudes);
        const std::span<const std::int16_t> magnitudes(frame.data(), frame.size() / 2);
        std::vector<std::int16_t> rows(points, -1);
        thirdOctaveRows(*plot, bands, magnitudes, LevelCorrections(curve, 0).bandTable(), rows);
        const auto loudest =
            static_cast<std::size_t>(std::max_element(rows.begin(), rows.end()) - rows.begin());
        const int band = plot->pointBands[loudest];
        EXPECT_EQ(band, thirdOctaveBand(static_cast<std::int64_t>(hz))) << hz << " Hz";
        // Band b is centred on 10^(b / 10) Hz: within a sixth of an octave of the tone.
        EXPECT_LE(std::abs(std::log2(std::pow(10.0, band / 10.0) / hz)), 1.0 / 6.0 + 0.01) << hz;

        CalibrationCurve lift = curve;
        lift[static_cast<std::size_t>(band - THIRD_OCTAVE_FIRST_PLOTTED_BAND)].correctionDb = 5.7f;
        std::vector<std::int16_t> lifted(points, -1);
        thirdOctaveRows(*plot, bands, magnitudes, LevelCorrections(lift, 0).bandTable(), lifted);
        EXPECT_EQ(lifted[loudest], rows[loudest] + 20) << hz;
    }
    // Silence: every band empty reads 0; no layout without two points.
    std::vector<std::int16_t> silent(static_cast<std::size_t>(n / 2), 0);
    std::vector<std::int16_t> rows(points, -1);
    thirdOctaveRows(*layout, buildBandMap(rate, n), silent, LevelCorrections(curve, 0).bandTable(),
                    rows);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), 0), points);
    EXPECT_FALSE(thirdOctavePoints(rate, n, 1));
    // At 384 kHz the plot reaches the 160 kHz band.
    const auto bat = thirdOctavePoints(384000, n, points);
    ASSERT_TRUE(bat);
    EXPECT_NEAR(bat->highHz, 1000.0 * std::pow(2.0, 22.0 / 3.0), 0.025 * bat->highHz);
}

} // namespace
} // namespace korv
