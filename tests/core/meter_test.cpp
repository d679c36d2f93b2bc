#include "meter/level_statistics.h"
#include "meter/sound_level_meter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace korv::meter {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> sine(double hz, double amplitude, double rate, double seconds) {
    std::vector<double> x(static_cast<std::size_t>(std::llround(seconds * rate)));
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = amplitude * std::sin(2.0 * kPi * hz * double(n) / rate);
    return x;
}

struct Measured {
    std::vector<IntervalLevels> rows;
    MeterSummary summary;
};

// Fed in blocks of the sizes given, in turn.
Measured measureInTurns(const MeterSettings& settings, const std::vector<double>& x,
                        const std::vector<std::size_t>& blocks, MeterCores cores) {
    SoundLevelMeter meter(settings, cores);
    Measured run;
    const auto sink = [&](const IntervalLevels& l) { run.rows.push_back(l); };
    std::size_t at = 0;
    for (std::size_t turn = 0; at < x.size(); ++turn) {
        const std::size_t block = std::min(blocks[turn % blocks.size()], x.size() - at);
        meter.feed(std::span(x).subspan(at, block), sink);
        at += block;
    }
    meter.finish(sink);
    run.summary = meter.summary();
    return run;
}

Measured measure(const MeterSettings& settings, const std::vector<double>& x, std::size_t block) {
    return measureInTurns(settings, x, {block}, MeterCores::One);
}

MeterSettings at(double rate, double interval = 1.0) {
    MeterSettings s;
    s.sampleRate = rate;
    s.intervalSeconds = interval;
    return s;
}

TEST(Meter, SteadySineReadsItsLevelFromTheFirstSampleOverHundredDb) {
    // 1 kHz, where A and C are 0 dB: every level is the sine's own, Lmin included (the
    // time weighting starts from the first τ's mean square, not from silence).
    for (int down = 0; down <= 100; down += 10) {
        const double amplitude = std::pow(10.0, -down / 20.0);
        for (const auto tw : {TimeWeighting::F, TimeWeighting::S, TimeWeighting::I}) {
            MeterSettings s = at(48000.0);
            s.timeWeighting = tw;
            const Measured run = measure(s, sine(1000.0, amplitude, 48000.0, 2.0), 4096);
            ASSERT_EQ(run.rows.size(), 2u);
            for (const auto& row : run.rows) {
                EXPECT_NEAR(row.leq, -down, 0.01) << down;
                EXPECT_NEAR(row.lmax, -down, 0.05) << down;
                EXPECT_NEAR(row.lmin, -down, 0.05) << down;
            }
            // The C filter's own transient at the sudden onset lifts the first row's peak.
            EXPECT_NEAR(run.rows[1].lcpeak, -down + 3.01, 0.02) << down;
            EXPECT_NEAR(run.summary.leq, -down, 0.01);
            EXPECT_NEAR(run.summary.le, -down + 10.0 * std::log10(2.0), 0.01);
            EXPECT_NEAR(run.summary.l50, -down, 0.05);
        }
    }
}

TEST(Meter, IntervalsFallOnWholeSamplesAndFollowASteppedSignal) {
    // 0.3 s at 44.1 kHz is 13230 frames; a step from -20 to -40 dBFS at 1.2 s.
    const double rate = 44100.0;
    std::vector<double> x = sine(1000.0, 0.1, rate, 1.2);
    const auto quiet = sine(1000.0, 0.01, rate, 0.8);
    const std::size_t phase = x.size(); // 1.2 s is a whole number of cycles
    for (std::size_t n = 0; n < quiet.size(); ++n)
        x.push_back(0.01 * std::sin(2.0 * kPi * 1000.0 * double(n + phase) / rate));
    const Measured run = measure(at(rate, 0.3), x, 1000);
    ASSERT_EQ(run.rows.size(), 7u);
    for (std::size_t k = 0; k < run.rows.size(); ++k) {
        EXPECT_EQ(run.rows[k].startFrame, std::int64_t(k) * 13230);
        EXPECT_EQ(run.rows[k].endFrame, std::min<std::int64_t>(88200, (k + 1) * 13230));
    }
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(run.rows[k].leq, -20.0, 0.02) << k;
    // The row after the step holds the filter's ring-down of the loud tone as well.
    EXPECT_NEAR(run.rows[4].leq, -40.0, 0.25);
    for (std::size_t k = 5; k < 7; ++k)
        EXPECT_NEAR(run.rows[k].leq, -40.0, 0.02) << k;
    // Fast weighting falls 34.7 dB/s: the row after the step still holds the decay.
    EXPECT_NEAR(run.rows[4].lmax, -20.0, 0.05);
    EXPECT_GT(run.rows[4].lmin, -40.0 - 0.05);
    // The exponential decay: 0.8 s after the step the mean square is the quiet one plus
    // the loud one's e^(-0.8 / 0.125).
    EXPECT_NEAR(run.rows[6].lmin,
                10.0 * std::log10((0.005 * std::exp(-0.8 / 0.125) + 0.00005) / 0.5), 0.05);

    // One row for the whole signal.
    const Measured whole = measure(at(rate, 0.0), x, 4096);
    ASSERT_EQ(whole.rows.size(), 1u);
    EXPECT_EQ(whole.rows[0].endFrame, 88200);
    EXPECT_NEAR(whole.rows[0].leq, 10.0 * std::log10((1.2 * 0.005 + 0.8 * 0.00005) / 2.0 / 0.5),
                0.02);
}

TEST(Meter, BlockSizesGiveTheSameResultsToTheBit) {
    // Noise, bursts and a gap, through intervals of 0.1 s and the 10 ms statistics.
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> x(48000 * 3);
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double burst =
            (n / 4800) % 3 == 0 ? 0.5 * std::sin(2.0 * kPi * 3000.0 * double(n) / 48000.0) : 0.0;
        x[n] = (n > 60000 && n < 70000) ? 0.0 : noise(gen) + burst;
    }
    for (const auto w : {FrequencyWeighting::A, FrequencyWeighting::C, FrequencyWeighting::Z}) {
        MeterSettings s = at(48000.0, 0.1);
        s.weighting = w;
        s.correction = {{100.0, -1.0}, {2000.0, 0.0}, {10000.0, 3.0}};
        s.bands = BandSpec{3, 25.0, 20000.0};
        const Measured ref = measure(s, x, 4096);
        ASSERT_EQ(ref.rows.size(), 30u);
        // On two cores, blocks long enough for the side thread's bands and, between them,
        // blocks too short for it.
        const std::vector<std::pair<std::vector<std::size_t>, MeterCores>> feeds{
            {{1}, MeterCores::One},
            {{37}, MeterCores::One},
            {{x.size()}, MeterCores::One},
            {{x.size()}, MeterCores::Two},
            {{20000, 37, 9000, 16384, 100}, MeterCores::Two}};
        for (const auto& [blocks, cores] : feeds) {
            const Measured run = measureInTurns(s, x, blocks, cores);
            const std::size_t block = blocks.front();
            ASSERT_EQ(run.rows.size(), ref.rows.size()) << block;
            for (std::size_t k = 0; k < ref.rows.size(); ++k) {
                EXPECT_EQ(run.rows[k].leq, ref.rows[k].leq);
                EXPECT_EQ(run.rows[k].lmax, ref.rows[k].lmax);
                EXPECT_EQ(run.rows[k].lmin, ref.rows[k].lmin);
                EXPECT_EQ(run.rows[k].lcpeak, ref.rows[k].lcpeak);
                EXPECT_EQ(run.rows[k].bandLeq, ref.rows[k].bandLeq);
            }
            EXPECT_EQ(run.summary.leq, ref.summary.leq);
            EXPECT_EQ(run.summary.l10, ref.summary.l10);
            EXPECT_EQ(run.summary.l90, ref.summary.l90);
            EXPECT_EQ(run.summary.lcpeak, ref.summary.lcpeak);
        }
    }
}

TEST(Meter, RowsComeWhileFeedingNotOnlyAtTheEnd) {
    SoundLevelMeter meter(at(48000.0, 0.5));
    int rows = 0;
    const auto x = sine(1000.0, 0.1, 48000.0, 2.0);
    meter.feed(x, [&](const IntervalLevels&) { ++rows; });
    EXPECT_EQ(rows, 3); // the last waits for the peak's look-ahead or the end
    meter.finish([&](const IntervalLevels&) { ++rows; });
    EXPECT_EQ(rows, 4);
}

TEST(Meter, StatisticsOfASignalLoudATenthOfTheTime) {
    // 20 s: -20 dBFS for 2 s from 5 s, -60 dBFS otherwise. With F the rise takes under
    // 0.8 s to come within 0.01 dB, the fall 1.2 s: L5 is the loud level, L50 .. L95 the quiet.
    const double rate = 8000.0;
    std::vector<double> x = sine(1000.0, 0.001, rate, 20.0);
    for (std::size_t n = 5 * 8000; n < 7 * 8000; ++n)
        x[n] *= 100.0;
    const Measured run = measure(at(rate), x, 512);
    EXPECT_NEAR(run.summary.l5, -20.0, 0.02);
    EXPECT_NEAR(run.summary.l50, -60.0, 0.02);
    EXPECT_NEAR(run.summary.l90, -60.0, 0.02);
    EXPECT_NEAR(run.summary.l95, -60.0, 0.02);
    EXPECT_LT(run.summary.l10, -20.0 + 0.02);
    EXPECT_GT(run.summary.l10, -60.0);
    EXPECT_NEAR(run.summary.lmax, -20.0, 0.02);
    EXPECT_NEAR(run.summary.lmin, -60.0, 0.05); // the A filter's tail after the loud part
}

TEST(LevelStatistics, PercentilesMatchSortedSamples) {
    // Against the samples sorted: rank (1 - n/100)(count - 1), interpolated.
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> level(-80.0, -10.0);
    std::vector<double> samples(5001);
    LevelHistogram histogram;
    for (double& v : samples) {
        v = level(gen);
        histogram.add(v);
    }
    std::ranges::sort(samples);
    for (const double n : {5.0, 10.0, 50.0, 90.0, 95.0}) {
        const double position = (1.0 - n / 100.0) * double(samples.size() - 1);
        const auto below = static_cast<std::size_t>(position);
        const double expected =
            samples[below] + (position - double(below)) * (samples[below + 1] - samples[below]);
        EXPECT_NEAR(histogram.exceeded(n), expected, 0.01) << n;
    }
    EXPECT_EQ(LevelHistogram().exceeded(50.0), kSilenceFloorDbFs);
}

TEST(Meter, SilenceGivesTheFloorNeverInfinity) {
    const Measured run = measure(at(48000.0), std::vector<double>(48000 * 2, 0.0), 4096);
    ASSERT_EQ(run.rows.size(), 2u);
    for (const auto& row : run.rows) {
        EXPECT_EQ(row.leq, kSilenceFloorDbFs);
        EXPECT_EQ(row.lmax, kSilenceFloorDbFs);
        EXPECT_EQ(row.lmin, kSilenceFloorDbFs);
        EXPECT_EQ(row.lcpeak, kSilenceFloorDbFs);
    }
    EXPECT_EQ(run.summary.le, kSilenceFloorDbFs);
    EXPECT_EQ(run.summary.l90, kSilenceFloorDbFs);
    // No frame at all: no row, the floor everywhere.
    const Measured none = measure(at(48000.0), {}, 4096);
    EXPECT_TRUE(none.rows.empty());
    EXPECT_EQ(none.summary.leq, kSilenceFloorDbFs);
    EXPECT_EQ(none.summary.lmin, kSilenceFloorDbFs);
}

TEST(Meter, SamplesThatAreNoNumberAreCountedAndDoNotSpoilTheRest) {
    auto x = sine(1000.0, 0.1, 48000.0, 3.0);
    x[1000] = std::nan("");
    x[1001] = std::numeric_limits<double>::infinity();
    const Measured run = measure(at(48000.0), x, 4096);
    ASSERT_EQ(run.rows.size(), 3u);
    EXPECT_EQ(run.summary.nonFiniteSamples, 2);
    EXPECT_NEAR(run.rows[2].leq, -20.0, 0.01);
    EXPECT_NEAR(run.rows[2].lcpeak, -20.0 + 3.01, 0.02);
    EXPECT_TRUE(std::isfinite(run.rows[0].lmax));
}

TEST(Meter, ShorterThanTauStartsFromItsOwnMeanSquare) {
    // 50 ms of a steady tone with S (τ = 1 s): steady all through.
    MeterSettings s = at(48000.0);
    s.timeWeighting = TimeWeighting::S;
    const Measured run = measure(s, sine(1000.0, 0.1, 48000.0, 0.05), 4096);
    ASSERT_EQ(run.rows.size(), 1u);
    EXPECT_NEAR(run.rows[0].lmax, -20.0, 0.05);
    EXPECT_NEAR(run.rows[0].lmin, -20.0, 0.05);
}

TEST(Meter, MicrophoneCorrectionRaisesTheBroadbandLevelsByTheCurve) {
    // +4 dB at 4 kHz on the curve: a Z-weighted 4 kHz tone reads 4 dB higher, 125 Hz not.
    MeterSettings s = at(48000.0, 0.0);
    s.weighting = FrequencyWeighting::Z;
    s.correction = {{20.0, 0.0}, {1000.0, 0.0}, {4000.0, 4.0}, {16000.0, 4.0}};
    EXPECT_NEAR(measure(s, sine(4000.0, 0.1, 48000.0, 1.0), 4096).rows[0].leq, -16.0, 0.1);
    EXPECT_NEAR(measure(s, sine(125.0, 0.1, 48000.0, 1.0), 4096).rows[0].leq, -20.0, 0.1);
    EXPECT_NEAR(correctionDbAt(s.correction, 2000.0), 2.0, 1e-12); // halfway in log-frequency
    EXPECT_EQ(correctionDbAt(s.correction, 10.0), 0.0);
    EXPECT_EQ(correctionDbAt(s.correction, 20000.0), 4.0);
}

TEST(Meter, BandLevelsPerIntervalWithTheCurveAtMidBand) {
    // A 1 kHz tone at -20 dBFS in third-octave bands: its own band reads it, the next ones
    // well below; a curve of +2 dB at 1 kHz raises the band by 2 dB.
    MeterSettings s = at(48000.0, 1.0);
    s.bands = BandSpec{3, 25.0, 20000.0};
    const auto x = sine(1000.0, 0.1, 48000.0, 3.0);
    for (const double curveDb : {0.0, 2.0}) {
        if (curveDb != 0.0)
            s.correction = {{500.0, 0.0}, {1000.0, curveDb}, {2000.0, 0.0}};
        SoundLevelMeter meter(s);
        std::size_t own = 0;
        while (std::abs(meter.bands()[own].midHz - 1000.0) > 1.0)
            ++own;
        EXPECT_EQ(meter.bands()[own].label, "1000");
        std::vector<IntervalLevels> rows;
        const auto sink = [&](const IntervalLevels& l) { rows.push_back(l); };
        meter.feed(x, sink);
        meter.finish(sink);
        ASSERT_EQ(rows.size(), 3u);
        ASSERT_EQ(rows[1].bandLeq.size(), meter.bands().size());
        EXPECT_NEAR(rows[1].bandLeq[own], -20.0 + curveDb, 0.1);
        EXPECT_LT(rows[1].bandLeq[own + 2], -20.0 - 25.0);
        EXPECT_LT(rows[1].bandLeq[own - 2], -20.0 - 25.0);
    }
}

TEST(Meter, RefusesSettingsItCannotMeasureWith) {
    EXPECT_THROW(SoundLevelMeter(at(0.0)), std::invalid_argument);
    EXPECT_THROW(SoundLevelMeter(at(2000.0)), std::invalid_argument);
    EXPECT_NO_THROW(SoundLevelMeter(at(4000.0)));
    EXPECT_THROW(SoundLevelMeter(at(48000.0, -1.0)), std::invalid_argument);
    EXPECT_THROW(SoundLevelMeter(at(48000.0, 1e-6)), std::invalid_argument);
    EXPECT_THROW(SoundLevelMeter(at(48000.0, std::nan(""))), std::invalid_argument);
}

} // namespace
} // namespace korv::meter
