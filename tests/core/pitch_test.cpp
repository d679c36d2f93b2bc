#include "analysis/pitch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

namespace korv {
namespace {

constexpr PitchEnvelope LOUD{-6000, 6000};
constexpr PitchEnvelope WEAK{-2000, 2999}; // peak to peak 4999

// One period, repeated, so the signal is exactly periodic in whole frames.
std::vector<std::int16_t> tile(const std::vector<double>& period) {
    std::vector<std::int16_t> frames(PITCH_WINDOW_FRAMES);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<std::int16_t>(std::lround(period[i % period.size()]));
    }
    return frames;
}

// Harmonics 1 .. harmonics with amplitudes 1/h, the sum peaking near 8000.
std::vector<std::int16_t> tone(int periodFrames, int harmonics) {
    std::vector<double> period(static_cast<std::size_t>(periodFrames));
    for (int n = 0; n < periodFrames; ++n) {
        double value = 0.0;
        for (int h = 1; h <= harmonics; ++h) {
            value += std::sin(2.0 * std::numbers::pi * h * n / periodFrames) / h;
        }
        period[static_cast<std::size_t>(n)] = 5000.0 * value;
    }
    return tile(period);
}

// Noise repeated every periodFrames: it correlates with itself only at multiples of the period.
std::vector<std::int16_t> repeatedNoise(int periodFrames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> noise(-8000.0, 8000.0);
    std::vector<double> period(static_cast<std::size_t>(periodFrames));
    std::ranges::generate(period, [&] { return noise(generator); });
    return tile(period);
}

TEST(LagTable, QuarterTonePeriodsFrom55Hz) {
    // Each the period of its quarter tone rounded: 100 frames for 440 Hz at 44.1 kHz. Whole
    // frames within half a frame of periods 2.9 % apart can only fall or stay with k.
    for (const std::int32_t rate : {5513, 11025, 22050, 44100, 48000}) {
        const LagTable table = buildLagTable(rate);
        for (int k = 0; k < PITCH_LAG_COUNT; ++k) {
            const double period = rate / (55.0 * std::pow(2.0, k / 24.0));
            EXPECT_LE(std::abs(table[static_cast<std::size_t>(k)] - period), 0.5 + 1e-3)
                << rate << " Hz, k " << k;
        }
    }
    EXPECT_EQ(std::tuple(pitchCorrelationSpan(22050), pitchCorrelationSpan(44100),
                         pitchCorrelationSpan(48000), pitchCorrelationSpan(5513)),
              std::tuple(1000, 2000, 2176, 250));
}

// Scientific pitch notation: A4 is 440 Hz, and the octave number rises at C (C5 is 523.25 Hz;
// Bb4 466.16, Eb5 622.25, Ab5 830.61, Gb4 369.99). A2, A4 and A4 ^ are named by the tests of
// the detector and of the plot.
TEST(PitchLabel, QuarterToneNotesFromAWithTheirOctave) {
    const std::pair<int, const char*> labels[] = {
        {0, "55 Hz  A1"},    {48, "220 Hz  A3"},   {96, "880 Hz  A5"},    {74, "466 Hz  Bb4"},
        {78, "523 Hz  C5"},  {84, "622 Hz  Eb5"},  {87, "678 Hz  E5  ^"}, {94, "830 Hz  Ab5"},
        {66, "369 Hz  Gb4"}, {69, "403 Hz  G4  ^"}};
    for (const auto& [index, label] : labels) {
        EXPECT_EQ(pitchLabel(index), label);
    }
    EXPECT_NEAR(pitchIndexHz(72), 440.0f, 1e-3f);
}

TEST(DetectPitch, PureAndHarmonicTonesOfKnownPeriod) {
    // 22050 Hz: a period of 200 frames is 110.25 Hz; lag 200 is candidate 24 (110 Hz) and no
    // other candidate is a multiple of it.
    for (const int harmonics : {1, 6}) {
        PitchState state = startPitchDetector(22050);
        const auto frames = tone(200, harmonics);
        const PitchResult first = detectPitch(state, frames, LOUD);
        // {voiced, best, mark, shown}: shown 24 quarter tones from where tracking starts
        EXPECT_EQ(std::tuple(first.voiced, first.bestIndex, first.markHz, first.shownIndex),
                  std::tuple(true, 24, 110, 0))
            << harmonics << " harmonics";
        PitchResult last = first;
        for (int step = 1; step < 22; ++step) {
            last = detectPitch(state, frames, LOUD);
        }
        EXPECT_EQ(last.shownIndex, 24);
        EXPECT_NEAR(last.shownHz, 110.0f, 1e-3f);
        EXPECT_EQ(pitchLabel(last.shownIndex), "110 Hz  A2");
    }
}

// A sine of any frequency, 16384 frames of it.
std::vector<std::int16_t> sineFrames(double hz, int rate) {
    std::vector<std::int16_t> frames(static_cast<std::size_t>(pitchWindowFrames(rate)));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<std::int16_t>(std::lround(
            8000.0 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
    }
    return frames;
}

// The quarter tone nearest a frequency, counted from 55 Hz.
double nearestQuarterTone(double hz) {
    return std::round(24.0 * std::log2(hz / 55.0));
}

TEST(DetectPitch, ATonesOwnPeriodNamesItNotAMultipleOfIt) {
    // A tone repeating every P frames correlates as well at every multiple of P: the note is
    // the one of P itself. {rate, period, harmonics}
    for (const auto& [rate, period, harmonics] :
         {std::tuple{44100, 100, 1}, std::tuple{22050, 100, 3}, std::tuple{22050, 50, 2},
          std::tuple{11025, 100, 4}}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, period " << period);
        PitchState state = startPitchDetector(rate);
        EXPECT_EQ(detectPitch(state, tone(period, harmonics), LOUD).bestIndex,
                  nearestQuarterTone(static_cast<double>(rate) / period));
    }
    // 441 Hz at 44100 Hz is an A, not the D of three of its periods.
    PitchState state = startPitchDetector(44100);
    EXPECT_EQ(pitchLabel(detectPitch(state, tone(100, 1), LOUD).bestIndex), "440 Hz  A4");

    // Noise repeated at a candidate's lag: that candidate, its note and its mark frequency.
    const LagTable lags44k = buildLagTable(44100);
    for (const auto& [index, label] : {std::pair{5, "63 Hz  B1  ^"}, std::pair{10, "73 Hz  D2"},
                                       std::pair{16, "87 Hz  F2"}, std::pair{22, "103 Hz  Ab2"}}) {
        PitchState fresh = startPitchDetector(44100);
        const PitchResult result =
            detectPitch(fresh, repeatedNoise(lags44k[static_cast<std::size_t>(index)], 7u), LOUD);
        EXPECT_EQ(std::tuple(result.bestIndex, pitchLabel(result.bestIndex), result.markHz),
                  std::tuple(index, label, static_cast<int>(55.0 * std::pow(2.0, index / 24.0))));
    }
}

// Sines across the range take their nearest quarter tone, also at the top where the
// candidates' whole-frame lags are a quarter tone or more apart; above the range (2 kHz, 5 kHz)
// no note is named, and what was shown stays.
TEST(DetectPitch, SinesTakeTheirNearestNoteAndToneAboveTheRangeNone) {
    for (const int rate : {5513, 11025, 22050, 44100, 48000, 96000, 384000}) {
        for (double hz = 58.0; hz < 1270.0; hz *= 1.037) {
            const double quarter = 24.0 * std::log2(hz / 55.0);
            if (std::abs(quarter - std::floor(quarter) - 0.5) < 0.1) {
                continue; // halfway between two quarter tones either is right
            }
            if (rate > 96000 && hz < 80.0) {
                continue; // the frames a step correlates hold less than a period
            }
            PitchState state = startPitchDetector(rate);
            const PitchResult r = detectPitch(state, sineFrames(hz, rate), LOUD);
            EXPECT_TRUE(r.voiced) << hz << " Hz at " << rate;
            EXPECT_EQ(r.bestIndex, nearestQuarterTone(hz)) << hz << " Hz at " << rate;
        }
        // Above the highest note, up to near half the rate: none.
        for (double hz = 1350.0; hz < 0.45 * rate; hz *= 1.1) {
            PitchState state = startPitchDetector(rate);
            const PitchResult r = detectPitch(state, sineFrames(hz, rate), LOUD);
            EXPECT_TRUE(r.outOfRange && !r.voiced) << hz << " Hz at " << rate;
        }
    }
    PitchState state = startPitchDetector(44100);
    EXPECT_EQ(pitchLabel(detectPitch(state, sineFrames(1234.0, 44100), LOUD).bestIndex),
              "1244 Hz  Eb6");
    for (int step = 0; step < 30; ++step) {
        static_cast<void>(detectPitch(state, sineFrames(1234.0, 44100), LOUD));
    }
    for (const double hz : {2000.0, 5000.0}) {
        const PitchResult above = detectPitch(state, sineFrames(hz, 44100), LOUD);
        EXPECT_EQ(std::tuple(above.voiced, above.outOfRange, above.bestIndex, above.shownIndex),
                  std::tuple(false, true, 108, 108))
            << hz;
    }
}

class PitchTracking : public ::testing::Test {
  protected:
    PitchState state = startPitchDetector(44100);
    const LagTable lags = buildLagTable(44100);
    const std::vector<std::int16_t> near = repeatedNoise(lags[10], 11u); // index 10
    const std::vector<std::int16_t> far = repeatedNoise(lags[22], 12u);  // 12 quarter tones up

    PitchResult run(const std::vector<std::int16_t>& frames, int steps,
                    PitchEnvelope envelope = LOUD) {
        PitchResult result;
        for (int i = 0; i < steps; ++i) {
            result = detectPitch(state, frames, envelope);
        }
        return result;
    }
};

// A new pitch is shown on the twenty-second loud step away from the tracked one; weak steps
// between them change only the best index and leave the count of outliers.
TEST_F(PitchTracking, NewPitchShownOnTheTwentySecondLoudStep) {
    EXPECT_EQ(run(far, 21).shownIndex, 0);
    EXPECT_EQ(state.outlierCount, 21);
    const PitchResult weak = run(near, 5, WEAK);
    EXPECT_EQ(std::tuple(weak.voiced, weak.bestIndex, weak.shownIndex), std::tuple(false, 10, 0));
    EXPECT_EQ(state.outlierCount, 21);
    const PitchResult jump = run(far, 1);
    EXPECT_EQ(std::pair(jump.shownIndex, jump.bestIndex), std::pair(22, 22));
    // The tracked index restarts from the raw history: 22 steps of 22 among 50.
    EXPECT_EQ(state.trackIndex, 22 * 22 / 50);
    EXPECT_EQ(run(far, 5).shownIndex, 22);
    EXPECT_TRUE(run(far, 1, PitchEnvelope{-2500, 2500}).voiced); // peak to peak 5000
}

// A step within 10 quarter tones of the tracked one is accepted and restarts the count of
// outliers; a steady pitch fills the history, and excursions shorter than 22 steps are ignored.
TEST_F(PitchTracking, SteadyPitchIsTrackedAndShortExcursionsIgnored) {
    run(far, 15);
    EXPECT_EQ(run(near, 1).shownIndex, 10); // within 10 of the tracked 0
    EXPECT_EQ(state.outlierCount, 0);
    EXPECT_EQ(run(near, 59).shownIndex, 10);
    EXPECT_EQ(state.trackIndex, 10); // the accepted history is full of 10
    const PitchResult excursion = run(far, 21);
    EXPECT_EQ(excursion.bestIndex, 22);
    EXPECT_EQ(excursion.shownIndex, 10);
    EXPECT_EQ(excursion.shownHz, pitchIndexHz(10));
    EXPECT_EQ(run(near, 1).shownIndex, 10);
    EXPECT_EQ(state.outlierCount, 0);
}

TEST_F(PitchTracking, SilenceKeepsThePreviousBest) {
    const std::vector<std::int16_t> silence(PITCH_WINDOW_FRAMES, 0);
    const PitchResult fresh = run(silence, 1, PitchEnvelope{0, 0});
    EXPECT_EQ(std::tuple(fresh.voiced, fresh.bestIndex, fresh.markHz), std::tuple(false, 0, 55));

    run(near, 3);
    const PitchResult quiet = run(silence, 4, PitchEnvelope{0, 0});
    EXPECT_EQ(std::tuple(quiet.voiced, quiet.bestIndex, quiet.shownIndex),
              std::tuple(false, 10, 10));

    // Fewer frames than the correlation span: nothing is correlated.
    const std::vector<std::int16_t> shortInput(far.begin(), far.begin() + 1999);
    EXPECT_EQ(detectPitch(state, shortInput, LOUD).bestIndex, 10);
    PitchState broken = startPitchDetector(0);
    EXPECT_EQ(detectPitch(broken, far, LOUD).bestIndex, 0);
}

} // namespace
} // namespace korv
