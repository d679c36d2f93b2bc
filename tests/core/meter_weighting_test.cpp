#include "meter/weighting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace korv::meter {
namespace {

constexpr double kPi = std::numbers::pi;

// The weightings written out from their poles, normalised at 1 kHz, independently of the
// code under test.
double referenceDb(FrequencyWeighting w, double f) {
    const auto raw = [w](double hz) {
        const double f2 = hz * hz;
        const double p1 = 20.598997 * 20.598997;
        const double p2 = 107.65265 * 107.65265;
        const double p3 = 737.86223 * 737.86223;
        const double p4 = 12194.217 * 12194.217;
        if (w == FrequencyWeighting::A)
            return 20.0 * std::log10(p4 * f2 * f2 /
                                     ((f2 + p1) * std::sqrt((f2 + p2) * (f2 + p3)) * (f2 + p4)));
        return 20.0 * std::log10(p4 * f2 / ((f2 + p1) * (f2 + p4)));
    };
    return raw(f) - raw(1000.0);
}

// A sine of amplitude 1 through the filter, its level in dB re its own after the filter has
// settled (from whatever it held before), measured over whole cycles.
double measuredDb(WeightingFilter& filter, double rate, double hz) {
    const auto settle = static_cast<std::size_t>(rate * 0.4);
    const double cycles = std::max(4.0, std::ceil(hz * 0.2));
    const auto span = static_cast<std::size_t>(std::llround(cycles * rate / hz));
    std::vector<double> x(settle + span);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = std::sin(2.0 * kPi * hz * double(n) / rate);
    // Blocks of odd lengths, as a live input gives them.
    for (std::size_t at = 0; at < x.size(); at += 1009)
        filter.process(std::span(x).subspan(at, std::min<std::size_t>(1009, x.size() - at)));
    double sum = 0.0;
    for (std::size_t n = settle; n < x.size(); ++n)
        sum += x[n] * x[n];
    return 10.0 * std::log10(sum / double(span) / 0.5);
}

// The exact frequencies 1000 × 10^((n - 30) / 10), 10 Hz to 20 kHz, up to 0.45 × the rate.
std::vector<double> exactFrequencies(double rate) {
    std::vector<double> f;
    for (int n = 10; n <= 43; ++n) {
        const double hz = 1000.0 * std::pow(10.0, (n - 30) / 10.0);
        if (hz <= std::min(20000.0, 0.45 * rate) + 1e-9)
            f.push_back(hz);
    }
    return f;
}

TEST(Weighting, TonesFollowTheAnalyticCurveAtEveryRate) {
    // Near half the rate a plain bilinear transform reads several dB low; tones, not
    // coefficients, show whether the design holds there.
    for (const double rate : {8000.0, 44100.0, 48000.0, 96000.0, 384000.0}) {
        for (const auto w : {FrequencyWeighting::A, FrequencyWeighting::C}) {
            WeightingFilter filter(w, rate);
            auto freqs = exactFrequencies(rate);
            freqs.push_back(0.45 * rate < 20000.0 ? 0.45 * rate : 20000.0);
            for (const double hz : freqs) {
                EXPECT_NEAR(measuredDb(filter, rate, hz), referenceDb(w, hz), 0.1)
                    << (w == FrequencyWeighting::A ? "A" : "C") << " at " << hz << " Hz, rate "
                    << rate;
            }
        }
    }
}

TEST(Weighting, DesignedResponseOnAFineGridAtAllRates) {
    // Between the tones too, at the rates files come in.
    for (const double rate : {8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 48000.0, 88200.0,
                              96000.0, 176400.0, 192000.0, 384000.0}) {
        for (const auto w : {FrequencyWeighting::A, FrequencyWeighting::C}) {
            const WeightingFilter filter(w, rate);
            const double top = std::min(20000.0, 0.45 * rate);
            for (double hz = 10.0; hz <= top; hz *= 1.005)
                ASSERT_NEAR(filter.responseDb(hz), referenceDb(w, hz), 0.05)
                    << hz << " Hz at " << rate;
            // Above the range the response falls, never rising far above the curve.
            for (double hz = top; hz < rate / 2.0; hz += rate / 400.0)
                EXPECT_LT(filter.responseDb(hz), referenceDb(w, hz) + 1.5)
                    << hz << " Hz at " << rate;
        }
    }
}

TEST(Weighting, ReferenceValuesAndZ) {
    // The standard's rounded design values.
    EXPECT_NEAR(analyticWeightingDb(FrequencyWeighting::A, 1000.0), 0.0, 1e-12);
    EXPECT_NEAR(analyticWeightingDb(FrequencyWeighting::A, 100.0), -19.1, 0.05);
    EXPECT_NEAR(analyticWeightingDb(FrequencyWeighting::A, 10000.0), -2.5, 0.05);
    EXPECT_NEAR(analyticWeightingDb(FrequencyWeighting::C, 31.622776601683793), -3.0, 0.05);
    EXPECT_NEAR(analyticWeightingDb(FrequencyWeighting::C, 10000.0), -4.4, 0.05);
    EXPECT_EQ(analyticWeightingDb(FrequencyWeighting::Z, 20.0), 0.0);

    WeightingFilter z(FrequencyWeighting::Z, 48000.0);
    std::vector<double> x{0.5, -0.25, 1.0};
    z.process(x);
    EXPECT_EQ(x, (std::vector<double>{0.5, -0.25, 1.0}));
}

TEST(Weighting, BlockLengthsGiveTheSameOutputToTheBit) {
    std::vector<double> signal(20000);
    unsigned seed = 12345;
    for (double& s : signal) {
        seed = seed * 1103515245u + 12345u;
        s = double(seed >> 8) / double(1u << 24) - 0.5;
    }
    std::vector<double> whole = signal;
    WeightingFilter a(FrequencyWeighting::A, 44100.0);
    a.process(whole);
    for (const std::size_t block : {std::size_t{1}, std::size_t{37}, std::size_t{4096}}) {
        std::vector<double> pieces = signal;
        WeightingFilter b(FrequencyWeighting::A, 44100.0);
        for (std::size_t at = 0; at < pieces.size(); at += block)
            b.process(std::span(pieces).subspan(at, std::min(block, pieces.size() - at)));
        EXPECT_EQ(pieces, whole) << block;
    }
}

} // namespace
} // namespace korv::meter
