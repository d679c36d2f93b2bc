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

template <std::size_t N> void BiquadCascade::run(const Run& r) {
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
    double* const tap = r.tap;
    const std::size_t tapAfter = r.tapAfter;
    const auto step = [&]<std::size_t... I>(double x, std::size_t n, std::index_sequence<I...>) {
        ((x = section(x, std::integral_constant<std::size_t, I>{}),
          tap && I + 1 == tapAfter ? void(tap[n] = x) : void()),
         ...);
        return x;
    };
    for (std::size_t n = 0; n < r.count; ++n)
        r.out[n] = step(r.in[n], n, std::make_index_sequence<N>{});
    for (std::size_t i = 0; i < N; ++i) {
        s1_[i] = s1[i];
        s2_[i] = s2[i];
    }
}

void BiquadCascade::process(std::span<const double> in, std::span<double> out) {
    dispatch({in.data(), out.data(), std::min(in.size(), out.size()), nullptr, 0});
}

void BiquadCascade::process(std::span<const double> in, std::span<double> out,
                            std::span<double> tap, std::size_t tapAfter) {
    const std::size_t count = std::min({in.size(), out.size(), tap.size()});
    if (tapAfter == 0)
        std::copy_n(in.begin(), count, tap.begin());
    dispatch({in.data(), out.data(), count, tap.data(), tapAfter});
}

void BiquadCascade::dispatch(const Run& r) {
    if (r.count == 0)
        return;
    switch (count_) {
    case 0:
        if (r.out != r.in)
            std::copy_n(r.in, r.count, r.out);
        return;
    case 1:
        return run<1>(r);
    case 2:
        return run<2>(r);
    case 3:
        return run<3>(r);
    case 4:
        return run<4>(r);
    case 5:
        return run<5>(r);
    case 6:
        return run<6>(r);
    case 7:
        return run<7>(r);
    default:
        return run<kMaxSections>(r);
    }
}

} // namespace korv::meter
