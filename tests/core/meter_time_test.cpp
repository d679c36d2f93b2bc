#include "meter/peak_detector.h"
#include "meter/sound_level_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace korv::meter {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRate = 48000.0;

// Whole cycles of a tone, `burst` seconds long from 1.5 s (after the first τ, which sets the
// starting value, even for S), in a signal of `total` seconds; 0 = steady for the whole signal.
std::vector<double> toneburst(double hz, double burst, double total, double amplitude = 0.5) {
    std::vector<double> x(static_cast<std::size_t>(total * kRate), 0.0);
    const std::size_t from = burst > 0.0 ? std::size_t(kRate * 1.5) : 0;
    const std::size_t frames =
        burst > 0.0 ? static_cast<std::size_t>(std::llround(burst * kRate)) : x.size();
    for (std::size_t n = 0; n < frames; ++n)
        x[from + n] = amplitude * std::sin(2.0 * kPi * hz * double(n) / kRate);
    return x;
}

MeterSummary summaryOf(const std::vector<double>& x, TimeWeighting tw,
                       FrequencyWeighting w = FrequencyWeighting::A) {
    MeterSettings s;
    s.sampleRate = kRate;
    s.weighting = w;
    s.timeWeighting = tw;
    s.intervalSeconds = 0.0;
    SoundLevelMeter meter(s);
    meter.feed(x, {});
    meter.finish({});
    return meter.summary();
}

TEST(Toneburst, MaximaFollowTheExponentialResponse) {
    // The burst's Lmax re the steady tone's level against 10 lg(1 - e^(-Tb/tau)): within
    // 0.2 dB from 10 ms, far inside the class 1 limits below (-3 dB at 0.25 ms).
    for (const auto tw : {TimeWeighting::F, TimeWeighting::S}) {
        const double tau = tw == TimeWeighting::F ? 0.125 : 1.0;
        const double steady = summaryOf(toneburst(4000.0, 0.0, 2.0), tw).leq;
        for (const double ms :
             {1000.0, 500.0, 200.0, 100.0, 50.0, 20.0, 10.0, 5.0, 2.0, 1.0, 0.5, 0.25}) {
            const double tb = ms / 1000.0;
            const double expected = 10.0 * std::log10(1.0 - std::exp(-tb / tau));
            const double got = summaryOf(toneburst(4000.0, tb, 4.0), tw).lmax - steady;
            const double tolerance = ms >= 10.0 ? 0.2 : 0.5;
            EXPECT_NEAR(got, expected, tolerance) << ms << " ms, tau " << tau;
        }
    }
}

TEST(Toneburst, ExposureIsTheBurstsEnergy) {
    // LAE re the steady level: 10 lg(Tb / 1 s).
    const double steady = summaryOf(toneburst(4000.0, 0.0, 2.0), TimeWeighting::F).leq;
    for (const double ms : {1000.0, 100.0, 10.0, 1.0, 0.25}) {
        const double got = summaryOf(toneburst(4000.0, ms / 1000.0, 4.0), TimeWeighting::F).le;
        // The shortest bursts' spectra spread over the weighting's slope.
        EXPECT_NEAR(got - steady, 10.0 * std::log10(ms / 1000.0), ms >= 10.0 ? 0.1 : 0.3) << ms;
    }
}

TEST(Toneburst, ImpulseRisesFastAndFallsSlowly) {
    // I: a 20 ms burst reaches 10 lg(1 - e^(-20/35)) and the level falls 2.9 dB/s after.
    const double steady = summaryOf(toneburst(4000.0, 0.0, 2.0), TimeWeighting::I).leq;
    const auto burst = toneburst(4000.0, 0.02, 3.0);
    EXPECT_NEAR(summaryOf(burst, TimeWeighting::I).lmax - steady,
                10.0 * std::log10(1.0 - std::exp(-0.02 / 0.035)), 0.2);
    MeterSettings s;
    s.sampleRate = kRate;
    s.timeWeighting = TimeWeighting::I;
    SoundLevelMeter meter(s);
    meter.feed(std::span(burst).first(std::size_t(kRate * 1.52)), {});
    const double atEnd = meter.levelNow();
    meter.feed(std::span(burst).subspan(std::size_t(kRate * 1.52), std::size_t(kRate)), {});
    EXPECT_NEAR(atEnd - meter.levelNow(), 10.0 * std::log10(std::exp(1.0 / 1.5)), 0.05);
}

TEST(Peak, CPeakOfOneCycleAndHalfCycles) {
    // LCpeak - LC: 3.4 dB for one cycle of 8 kHz, 2.4 dB for a positive or negative half
    // cycle of 500 Hz (class 1: +-2.0 and +-1.0 dB).
    const auto steadyC = [](double hz) {
        return summaryOf(toneburst(hz, 0.0, 1.0), TimeWeighting::F, FrequencyWeighting::C).leq;
    };
    const double eight =
        summaryOf(toneburst(8000.0, 1.0 / 8000.0, 2.0), TimeWeighting::F, FrequencyWeighting::C)
            .lcpeak;
    EXPECT_NEAR(eight - steadyC(8000.0), 3.4, 0.15);
    for (const double sign : {1.0, -1.0}) {
        const double half = summaryOf(toneburst(500.0, 1.0 / 1000.0, 2.0, 0.5 * sign),
                                      TimeWeighting::F, FrequencyWeighting::C)
                                .lcpeak;
        EXPECT_NEAR(half - steadyC(500.0), 2.4, 0.15) << sign;
    }
}

TEST(Peak, CaughtBetweenSamples) {
    // A sine up to 0.4 × the rate, its crests between samples: the sampled peak alone reads
    // up to 3 dB low at a quarter of the rate.
    for (const double fraction : {0.05, 0.1667, 0.25, 0.3, 0.35, 0.4}) {
        for (const double phase : {0.0, 0.3, kPi / 4.0, 1.1}) {
            PeakDetector detector;
            std::vector<double> x(400);
            for (std::size_t n = 0; n < x.size(); ++n)
                x[n] = std::sin(2.0 * kPi * fraction * double(n) + phase);
            detector.push(x);
            detector.pushEnd();
            // Away from the sudden start and end, whose steps ring.
            (void)detector.scanTo(40, 0.0);
            const double peak = detector.scanTo(360, 0.0);
            EXPECT_NEAR(20.0 * std::log10(peak), 0.0, 0.05) << fraction << " " << phase;
        }
    }
}

} // namespace
} // namespace korv::meter
