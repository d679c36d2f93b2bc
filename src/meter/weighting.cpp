#include "meter/weighting.h"

#include "meter/biquad.h"
#include "meter/filter_fit.h"
#include "meter/weighting_sections.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace korv::meter {
namespace {

// The poles of the analytic weightings, Hz.
constexpr double kPole1Hz = 20.598997;
constexpr double kPole2Hz = 107.65265;
constexpr double kPole3Hz = 737.86223;
constexpr double kPole4Hz = 12194.217;
constexpr double kReferenceHz = 1000.0;
// The design follows the curve up to the lower of these; above, the response only has to fall.
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// 20 lg |H(f)| of the analytic weighting before normalisation.
double analyticRawDb(FrequencyWeighting weighting, double hz) {
    const double f2 = hz * hz;
    const double p1 = kPole1Hz * kPole1Hz;
    const double p4 = kPole4Hz * kPole4Hz;
    switch (weighting) {
    case FrequencyWeighting::A: {
        const double h = p4 * f2 * f2 /
                         ((f2 + p1) * std::sqrt(f2 + kPole2Hz * kPole2Hz) *
                          std::sqrt(f2 + kPole3Hz * kPole3Hz) * (f2 + p4));
        return 20.0 * std::log10(h);
    }
    case FrequencyWeighting::C:
        return 20.0 * std::log10(p4 * f2 / ((f2 + p1) * (f2 + p4)));
    case FrequencyWeighting::Z:
        break;
    }
    return 0.0;
}

double omegaOf(double hz, double rate) {
    return kTwoPi * hz / rate;
}

double cascadeDb(std::span<const Biquad> sections, double omega) {
    std::complex<double> h = 1.0;
    for (const Biquad& s : sections)
        h *= s.response(omega);
    return 20.0 * std::log10(std::abs(h));
}

// s^2 / ((s + a)(s + b)) through the bilinear transform, each pole pre-warped so its corner
// lands where the curve has it.
Biquad highPassPair(double aHz, double bHz, double rate) {
    const auto warped = [rate](double hz) {
        return 2.0 * rate * std::tan(std::numbers::pi * hz / rate);
    };
    const double a = warped(aHz);
    const double b = warped(bHz);
    return bilinear({0.0, 0.0, 1.0}, {a * b, a + b, 1.0}, 2.0 * rate);
}

// Solves the 3 × 3 system m x = v (Gaussian elimination with pivoting).
std::array<double, 3> solve3(std::array<std::array<double, 3>, 3> m, std::array<double, 3> v) {
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                pivot = r;
        std::swap(m[col], m[pivot]);
        std::swap(v[col], v[pivot]);
        for (int r = col + 1; r < 3; ++r) {
            const double f = m[r][col] / m[col][col];
            for (int c = col; c < 3; ++c)
                m[r][c] -= f * m[col][c];
            v[r] -= f * v[col];
        }
    }
    std::array<double, 3> x{};
    for (int r = 2; r >= 0; --r) {
        double s = v[r];
        for (int c = r + 1; c < 3; ++c)
            s -= m[r][c] * x[c];
        x[r] = s / m[r][r];
    }
    return x;
}

// The zero q of a factor (1 - q z^-1) whose power 1 + q^2 - 2 q cos w vanishes at cos w = c,
// the one inside the unit circle.
std::complex<double> zeroOf(std::complex<double> c) {
    const std::complex<double> root = std::sqrt(c * c - 1.0);
    const std::complex<double> q1 = c - root;
    const std::complex<double> q2 = c + root;
    return std::abs(q1) <= std::abs(q2) ? q1 : q2;
}

// The starting section for the fit: the analytic double pole matched (z = e^(-wT)), and the
// numerator whose power r0 + r1 (2 cos w) + r2 (2 cos 2w) fits the target best in relative
// least squares, factored into its minimum-phase zeros.
Biquad startingSection(const FitGrid& grid, double pole) {
    std::array<std::array<double, 3>, 3> m{};
    std::array<double, 3> v{};
    for (std::size_t i = 0; i < grid.inBand; ++i) {
        const double w = grid.omega[i];
        const double denom = 1.0 + pole * pole - 2.0 * pole * std::cos(w);
        const double target = std::pow(10.0, grid.targetDb[i] / 10.0) * denom * denom;
        const std::array<double, 3> basis{1.0 / target, 2.0 * std::cos(w) / target,
                                          2.0 * std::cos(2.0 * w) / target};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                m[r][c] += basis[r] * basis[c];
            v[r] += basis[r];
        }
    }
    const auto r = solve3(m, v);
    // In c = cos w the power is 4 r2 c^2 + 2 r1 c + (r0 - 2 r2).
    const double qa = 4.0 * r[2];
    const double qb = 2.0 * r[1];
    const double qc = r[0] - 2.0 * r[2];
    std::complex<double> z1 = 0.0;
    std::complex<double> z2 = 0.0;
    if (std::abs(qa) > 1e-12 * (std::abs(qb) + std::abs(qc))) {
        const std::complex<double> disc = std::sqrt(std::complex<double>(qb * qb - 4.0 * qa * qc));
        z1 = zeroOf((-qb - disc) / (2.0 * qa));
        z2 = zeroOf((-qb + disc) / (2.0 * qa));
    } else if (qb != 0.0) {
        z1 = zeroOf(-qc / qb);
    }
    // The gain so the power matches at the first point.
    Biquad s{1.0, -(z1 + z2).real(), (z1 * z2).real(), -2.0 * pole, pole * pole};
    const double w0 = grid.omega.front();
    const double gainDb = grid.targetDb.front() - sectionDb(s, std::cos(w0), std::cos(2.0 * w0));
    const double gain = std::pow(10.0, gainDb / 20.0);
    s.b0 *= gain;
    s.b1 *= gain;
    s.b2 *= gain;
    return s;
}

// The points a design is fitted on: log-spaced from 10 Hz to the top of the range, and above
// it to half the rate only bounding the response. The target is the analytic curve less the
// fixed sections.
FitGrid gridFor(FrequencyWeighting weighting, double rate, std::span<const Biquad> fixed) {
    constexpr int kPoints = 100;
    constexpr int kAbovePoints = 30;
    return fitGridFor(rate, kPoints, kAbovePoints, [&](double hz) {
        return analyticRawDb(weighting, hz) - cascadeDb(fixed, omegaOf(hz, rate));
    });
}

// A fit this close to the curve takes no further section.
constexpr double kCloseEnoughDb = 0.02;

// Scales the last section so the whole reads the curve's value at 1 kHz.
void setGain(FrequencyWeighting weighting, double rate, std::span<const Biquad> before,
             std::vector<Biquad>& sections) {
    std::vector<Biquad> all(before.begin(), before.end());
    all.insert(all.end(), sections.begin(), sections.end());
    const double gainDb =
        analyticWeightingDb(weighting, kReferenceHz) - cascadeDb(all, omegaOf(kReferenceHz, rate));
    const double gain = std::pow(10.0, gainDb / 20.0);
    sections.back().b0 *= gain;
    sections.back().b1 *= gain;
    sections.back().b2 *= gain;
}

} // namespace

// C: the 20.6 Hz pair through the pre-warped bilinear transform, where it is close, and the
// 12194 Hz pair fitted at the rate with what the first leaves of the curve: at low rates that
// pair lies near or above half the rate, where no transform of it can follow the curve. One
// fitted section, or two where one does not come within 0.02 dB.
std::vector<Biquad> cWeightingSections(double rate) {
    const std::vector<Biquad> fixed{highPassPair(kPole1Hz, kPole1Hz, rate)};
    const FitGrid grid = gridFor(FrequencyWeighting::C, rate, fixed);
    const Biquad start = startingSection(grid, std::exp(-kTwoPi * kPole4Hz / rate));
    std::vector<Biquad> fitted{start};
    fitCascade(grid, fitted);
    if (worstFitErrorDb(grid, fitted) > kCloseEnoughDb) {
        fitted = {start, Biquad{}};
        fitCascade(grid, fitted);
    }
    std::vector<Biquad> all = fixed;
    all.insert(all.end(), fitted.begin(), fitted.end());
    setGain(FrequencyWeighting::C, rate, {}, all);
    return all;
}

// A / C is s^2 / ((s + w2)(s + w3)): pre-warped, and at low rates, where its shape departs
// from the curve, one more section fitted to what A still lacks after C.
std::vector<Biquad> aFromCSections(double rate, std::span<const Biquad> c) {
    std::vector<Biquad> fixed(c.begin(), c.end());
    fixed.push_back(highPassPair(kPole2Hz, kPole3Hz, rate));
    const FitGrid grid = gridFor(FrequencyWeighting::A, rate, fixed);
    std::vector<Biquad> sections{fixed.back()};
    // How far the curve departs once the gain is set at 1 kHz.
    const double offset = analyticRawDb(FrequencyWeighting::A, kReferenceHz) -
                          cascadeDb(fixed, omegaOf(kReferenceHz, rate));
    double worst = 0.0;
    for (std::size_t i = 0; i < grid.inBand; ++i)
        worst = std::max(worst, std::abs(grid.targetDb[i] - offset));
    if (worst > kCloseEnoughDb) {
        std::vector<Biquad> fitted{Biquad{}};
        fitCascade(grid, fitted);
        sections.push_back(fitted.front());
    }
    setGain(FrequencyWeighting::A, rate, c, sections);
    return sections;
}

namespace {

std::vector<Biquad> design(FrequencyWeighting weighting, double rate) {
    if (weighting == FrequencyWeighting::Z)
        return {};
    std::vector<Biquad> all = cWeightingSections(rate);
    if (weighting == FrequencyWeighting::A) {
        const auto rest = aFromCSections(rate, all);
        all.insert(all.end(), rest.begin(), rest.end());
    }
    return all;
}

} // namespace

double analyticWeightingDb(FrequencyWeighting weighting, double hz) {
    if (weighting == FrequencyWeighting::Z)
        return 0.0;
    return analyticRawDb(weighting, hz) - analyticRawDb(weighting, kReferenceHz);
}

struct WeightingFilter::Design {
    FrequencyWeighting weighting;
    double rate;
    BiquadCascade cascade;
};

WeightingFilter::WeightingFilter(FrequencyWeighting weighting, double sampleRate)
    : design_(std::make_unique<Design>(Design{weighting, sampleRate, {}})) {
    design_->cascade = BiquadCascade(design(weighting, sampleRate));
}

WeightingFilter::WeightingFilter(WeightingFilter&&) noexcept = default;
WeightingFilter& WeightingFilter::operator=(WeightingFilter&&) noexcept = default;
WeightingFilter::~WeightingFilter() = default;

FrequencyWeighting WeightingFilter::weighting() const {
    return design_->weighting;
}

void WeightingFilter::process(std::span<double> samples) {
    design_->cascade.process(samples);
}

double WeightingFilter::responseDb(double hz) const {
    return 20.0 * std::log10(std::abs(design_->cascade.response(omegaOf(hz, design_->rate))));
}

} // namespace korv::meter
