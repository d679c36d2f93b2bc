#pragma once
// Second-order sections in direct form II, run as a cascade one sample at a time so the
// sections' recursions overlap in the processor rather than wait on each other, with fused
// multiply-adds (meter/lanes.h: the same values on every processor).

#include <array>
#include <complex>
#include <cstddef>
#include <span>

namespace korv::meter {

struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    // The response at `omega` radians per sample.
    [[nodiscard]] std::complex<double> response(double omega) const {
        const std::complex<double> z1 = std::polar(1.0, -omega);
        const std::complex<double> z2 = z1 * z1;
        return (b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
    }
};

// The bilinear transform of (n2 s^2 + n1 s + n0) / (d2 s^2 + d1 s + d0) with s = k (1 - z^-1) /
// (1 + z^-1), k = 2 × rate for the plain transform.
[[nodiscard]] inline Biquad bilinear(std::array<double, 3> n, std::array<double, 3> d, double k) {
    const auto terms = [k](std::array<double, 3> p) {
        const double k2 = k * k;
        return std::array<double, 3>{p[2] * k2 + p[1] * k + p[0], 2.0 * (p[0] - p[2] * k2),
                                     p[2] * k2 - p[1] * k + p[0]};
    };
    const auto num = terms(n);
    const auto den = terms(d);
    return {num[0] / den[0], num[1] / den[0], num[2] / den[0], den[1] / den[0], den[2] / den[0]};
}

// A cascade of at most kMaxSections sections with its running state.
class BiquadCascade {
  public:
    static constexpr std::size_t kMaxSections = 8;

    BiquadCascade() = default;
    explicit BiquadCascade(std::span<const Biquad> sections);

    [[nodiscard]] std::size_t size() const { return count_; }
    [[nodiscard]] std::span<const Biquad> sections() const { return {sections_.data(), count_}; }
    [[nodiscard]] std::complex<double> response(double omega) const;
    // Filters in place, continuing from the previous call.
    void process(std::span<double> samples) { process(samples, samples); }
    // Filters `in` into `out` (as long; it may be `in` itself).
    void process(std::span<const double> in, std::span<double> out);
    // The same, writing into `tap` (as long as `in`) the signal after the first `tapAfter`
    // sections as well.
    void process(std::span<const double> in, std::span<double> out, std::span<double> tap,
                 std::size_t tapAfter);

  private:
    struct Run {
        const double* in;
        double* out;
        std::size_t count;
        double* tap;
        std::size_t tapAfter;
    };
    void dispatch(const Run& run);
    template <std::size_t N, class Fma> void run(const Run& run);
    template <class Fma> void runAny(const Run& run);
    template <class Fma> void runLanes(const Run& run);
    void runAvx2(const Run& run);
    void runPlain(const Run& run);
    std::array<Biquad, kMaxSections> sections_{};
    // Each section's w[n-1] and w[n-2] (direct form II).
    std::array<double, kMaxSections> w1_{};
    std::array<double, kMaxSections> w2_{};
    std::size_t count_ = 0;
};

} // namespace korv::meter
