#include "meter/biquad.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

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

template <std::size_t N>
void BiquadCascade::run(std::span<double> samples, double* tap, std::size_t tapAfter) {
    // Scalars in registers and the sections written out one after the other, so each
    // sample's sections overlap with the next sample's in the processor.
    std::array<Biquad, N> c{};
    std::array<double, N> s1{};
    std::array<double, N> s2{};
    for (std::size_t i = 0; i < N; ++i) {
        c[i] = sections_[i];
        s1[i] = s1_[i];
        s2[i] = s2_[i];
    }
    const auto section = [&]<std::size_t I>(double in, std::integral_constant<std::size_t, I>) {
        const double y = c[I].b0 * in + s1[I];
        s1[I] = c[I].b1 * in - c[I].a1 * y + s2[I];
        s2[I] = c[I].b2 * in - c[I].a2 * y;
        return y;
    };
    const auto step = [&]<std::size_t... I>(double x, std::size_t n, std::index_sequence<I...>) {
        ((x = section(x, std::integral_constant<std::size_t, I>{}),
          tap && I + 1 == tapAfter ? void(tap[n] = x) : void()),
         ...);
        return x;
    };
    for (std::size_t n = 0; n < samples.size(); ++n)
        samples[n] = step(samples[n], n, std::make_index_sequence<N>{});
    for (std::size_t i = 0; i < N; ++i) {
        s1_[i] = s1[i];
        s2_[i] = s2[i];
    }
}

void BiquadCascade::process(std::span<double> samples) {
    dispatch(samples, nullptr, 0);
}

void BiquadCascade::process(std::span<double> samples, std::span<double> tap,
                            std::size_t tapAfter) {
    if (tapAfter == 0)
        std::ranges::copy(samples, tap.begin());
    dispatch(samples, tapAfter > 0 ? tap.data() : nullptr, tapAfter);
}

void BiquadCascade::dispatch(std::span<double> samples, double* tap, std::size_t tapAfter) {
    switch (count_) {
    case 0:
        return;
    case 1:
        return run<1>(samples, tap, tapAfter);
    case 2:
        return run<2>(samples, tap, tapAfter);
    case 3:
        return run<3>(samples, tap, tapAfter);
    case 4:
        return run<4>(samples, tap, tapAfter);
    case 5:
        return run<5>(samples, tap, tapAfter);
    case 6:
        return run<6>(samples, tap, tapAfter);
    case 7:
        return run<7>(samples, tap, tapAfter);
    default:
        return run<kMaxSections>(samples, tap, tapAfter);
    }
}

} // namespace korv::meter
