#include "meter/biquad.h"

#include <algorithm>
#include <stdexcept>

namespace korv::meter {

BiquadCascade::BiquadCascade(std::span<const Biquad> sections) : count_(sections.size()) {
    if (sections.size() > kMaxSections)
        throw std::invalid_argument("too many filter sections");
    std::ranges::copy(sections, sections_.begin());
}

std::complex<double> BiquadCascade::response(double omega) const {
    std::complex<double> h = 1.0;
    for (std::size_t i = 0; i < count_; ++i)
        h *= sections_[i].response(omega);
    return h;
}

template <std::size_t N> void BiquadCascade::run(std::span<double> samples) {
    // Local copies keep the state in registers across the loop.
    std::array<Biquad, N> c{};
    std::array<double, N> s1{};
    std::array<double, N> s2{};
    for (std::size_t i = 0; i < N; ++i) {
        c[i] = sections_[i];
        s1[i] = s1_[i];
        s2[i] = s2_[i];
    }
    for (double& sample : samples) {
        double x = sample;
        for (std::size_t i = 0; i < N; ++i) {
            const double y = c[i].b0 * x + s1[i];
            s1[i] = c[i].b1 * x - c[i].a1 * y + s2[i];
            s2[i] = c[i].b2 * x - c[i].a2 * y;
            x = y;
        }
        sample = x;
    }
    for (std::size_t i = 0; i < N; ++i) {
        s1_[i] = s1[i];
        s2_[i] = s2[i];
    }
}

void BiquadCascade::process(std::span<double> samples) {
    switch (count_) {
    case 0:
        return;
    case 1:
        return run<1>(samples);
    case 2:
        return run<2>(samples);
    case 3:
        return run<3>(samples);
    case 4:
        return run<4>(samples);
    case 5:
        return run<5>(samples);
    case 6:
        return run<6>(samples);
    case 7:
        return run<7>(samples);
    default:
        return run<kMaxSections>(samples);
    }
}

} // namespace korv::meter
