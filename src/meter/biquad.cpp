#include "meter/biquad.h"

#include "meter/lanes.h"

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

template <std::size_t N, class Fma>
__attribute__((always_inline)) inline void BiquadCascade::run(const Run& r) {
    // Scalars in registers and the sections written out one after the other, so each
    // sample's sections overlap with the next sample's in the processor. Each state update
    // fuses its products into one rounding: a sample waits on two multiply-adds per section.
    std::array<Biquad, N> c{};
    std::array<double, N> s1{};
    std::array<double, N> s2{};
    for (std::size_t i = 0; i < N; ++i) {
        c[i] = sections_[i];
        s1[i] = s1_[i];
        s2[i] = s2_[i];
    }
    const auto section = [&]<std::size_t I>(double in, std::integral_constant<std::size_t, I>) {
        const double y = Fma::mulAdd(c[I].b0, in, s1[I]);
        s1[I] = Fma::negMulAdd(c[I].a1, y, Fma::mulAdd(c[I].b1, in, s2[I]));
        s2[I] = Fma::negMulAdd(c[I].a2, y, c[I].b2 * in);
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

namespace {

// A cascade of at most four sections in the lanes of one vector, section i in lane i working
// on the sample i steps behind the first's: each step moves every section's output one lane
// up as the next one's input, so one vector step does all the sections at once, each lane
// computing exactly what the one-sample-at-a-time loop computes. Step t takes sample t into
// lane 0 and gives section i's output of sample t - i; the first and last steps of a block,
// where some lanes have no sample of it, keep those lanes' state.
struct LaneCascade {
    Lanes b0, b1, b2, a1, a2, s1, s2;
};

template <class Fma>
__attribute__((always_inline)) inline void laneStep(LaneCascade& c, Lanes& y, double input) {
    Lanes x = __builtin_shufflevector(y, broadcastLanes(input), 4, 0, 1, 2);
    y = Fma::mulAdd(c.b0, x, c.s1);
    c.s1 = Fma::negMulAdd(c.a1, y, Fma::mulAdd(c.b1, x, c.s2));
    c.s2 = Fma::negMulAdd(c.a2, y, c.b2 * x);
}

} // namespace

template <class Fma>
__attribute__((always_inline)) inline void BiquadCascade::runLanes(const Run& r) {
    LaneCascade c{};
    for (std::size_t i = 0; i < count_; ++i) {
        c.b0[i] = sections_[i].b0;
        c.b1[i] = sections_[i].b1;
        c.b2[i] = sections_[i].b2;
        c.a1[i] = sections_[i].a1;
        c.a2[i] = sections_[i].a2;
        c.s1[i] = s1_[i];
        c.s2[i] = s2_[i];
    }
    const auto last = static_cast<std::ptrdiff_t>(count_) - 1;
    const auto tapLane = static_cast<std::ptrdiff_t>(r.tapAfter) - 1;
    const auto count = static_cast<std::ptrdiff_t>(r.count);
    const std::ptrdiff_t steps = count + last;
    Lanes y = broadcastLanes(0.0);
    // A step where only the lanes with a sample of this block change. Always inlined, as
    // everything between the AVX2 copy and its multiply-adds: a lambda does not take the copy's
    // instruction set, and a call from it would pass the lanes as the plain set does.
    const auto partialStep = [&](std::ptrdiff_t t) __attribute__((always_inline)) {
        const LaneCascade before = c;
        const Lanes old = y;
        laneStep<Fma>(c, y, t < count ? r.in[t] : 0.0);
        using Mask = long long __attribute__((vector_size(kLanes * sizeof(long long))));
        const Mask lane{0, 1, 2, 3};
        const Mask active = (lane <= t) & (lane > t - count);
        c.s1 = active ? c.s1 : before.s1;
        c.s2 = active ? c.s2 : before.s2;
        y = active ? y : old;
        if (t - last >= 0 && t - last < count)
            r.out[t - last] = y[last];
        if (r.tap && tapLane >= 0 && t - tapLane >= 0 && t - tapLane < count)
            r.tap[t - tapLane] = y[tapLane];
    };
    std::ptrdiff_t t = 0;
    for (; t < std::min(last, steps); ++t)
        partialStep(t);
    if (r.tap && tapLane >= 0) {
        for (; t < count; ++t) {
            laneStep<Fma>(c, y, r.in[t]);
            r.out[t - last] = y[last];
            r.tap[t - tapLane] = y[tapLane];
        }
    } else {
        for (; t < count; ++t) {
            laneStep<Fma>(c, y, r.in[t]);
            r.out[t - last] = y[last];
        }
    }
    for (; t < steps; ++t)
        partialStep(t);
    for (std::size_t i = 0; i < count_; ++i) {
        s1_[i] = c.s1[i];
        s2_[i] = c.s2[i];
    }
}

template <class Fma>
__attribute__((always_inline)) inline void BiquadCascade::runAny(const Run& r) {
    switch (count_) {
    case 1:
        return run<1, Fma>(r);
    case 2:
        return run<2, Fma>(r);
    case 3:
        return run<3, Fma>(r);
    case 4:
        return run<4, Fma>(r);
    case 5:
        return run<5, Fma>(r);
    case 6:
        return run<6, Fma>(r);
    case 7:
        return run<7, Fma>(r);
    default:
        return run<kMaxSections, Fma>(r);
    }
}

#if defined(KORV_METER_AVX2)
__attribute__((target("avx2,fma"), flatten)) void BiquadCascade::runAvx2(const Run& r) {
    if (count_ <= static_cast<std::size_t>(kLanes))
        runLanes<AvxFma>(r);
    else
        runAny<AvxFma>(r);
}
#endif

void BiquadCascade::runPlain(const Run& r) {
    runAny<PlainFma>(r);
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
    if (count_ == 0) {
        if (r.out != r.in)
            std::copy_n(r.in, r.count, r.out);
        return;
    }
#if defined(KORV_METER_AVX2)
    if (useAvx2Lanes())
        return runAvx2(r);
#endif
    runPlain(r);
}

} // namespace korv::meter
