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

// One section on one sample in direct form II: w[n] = x[n] - a1 w[n-1] - a2 w[n-2], then
// y[n] = b0 w[n] + b1 w[n-1] + b2 w[n-2]. The recursion waits on one multiply-add a sample
// (the a1 term; the a2 term is ready a sample early), the output on none of the others.
template <class Fma, class V, class C>
__attribute__((always_inline)) inline V directSection(const C& c, V in, V& w1, V& w2) {
    const V w = Fma::negMulAdd(c.a1, w1, Fma::negMulAdd(c.a2, w2, in));
    const V y = Fma::mulAdd(c.b0, w, Fma::mulAdd(c.b1, w1, c.b2 * w2));
    w2 = w1;
    w1 = w;
    return y;
}

template <std::size_t N, class Fma>
__attribute__((always_inline)) inline void BiquadCascade::run(const Run& r) {
    // Scalars in registers and the sections written out one after the other, so each
    // sample's sections overlap with the next sample's in the processor.
    std::array<Biquad, N> c{};
    std::array<double, N> w1{};
    std::array<double, N> w2{};
    for (std::size_t i = 0; i < N; ++i) {
        c[i] = sections_[i];
        w1[i] = w1_[i];
        w2[i] = w2_[i];
    }
    const auto section = [&]<std::size_t I>(double in, std::integral_constant<std::size_t, I>) {
        return directSection<Fma>(c[I], in, w1[I], w2[I]);
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
        w1_[i] = w1[i];
        w2_[i] = w2[i];
    }
}

namespace {

// A cascade of at most four sections in the lanes of one vector, section i in lane i working
// on the sample kApart * i steps behind the first's: each step moves the outputs made
// kApart steps before one lane up as the next sections' inputs, so one vector step does all
// the sections at once, each lane computing exactly what the one-sample-at-a-time loop
// computes. A lane's input then comes from a step far enough back that the vector's steps
// wait only on the recursion's one multiply-add, not on the lane before. Step t takes sample t
// into lane 0 and gives section i's output of sample t - kApart * i; the first and last steps
// of a block, where some lanes have no sample of it, keep those lanes' state.
constexpr std::ptrdiff_t kApart = 4;

struct LaneCascade {
    Lanes b0, b1, b2, a1, a2, w1, w2;
    Lanes made[kApart]; // the outputs of the last kApart steps, the newest first
};

template <class Fma>
__attribute__((always_inline)) inline void laneStep(LaneCascade& c, Lanes& y, double input) {
    const Lanes x = __builtin_shufflevector(c.made[kApart - 1], broadcastLanes(input), 4, 0, 1, 2);
    y = directSection<Fma>(c, x, c.w1, c.w2);
    for (std::ptrdiff_t k = kApart - 1; k > 0; --k)
        c.made[k] = c.made[k - 1];
    c.made[0] = y;
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
        c.w1[i] = w1_[i];
        c.w2[i] = w2_[i];
    }
    const auto last = static_cast<std::ptrdiff_t>(count_) - 1;
    const auto tapLane = static_cast<std::ptrdiff_t>(r.tapAfter) - 1;
    const auto count = static_cast<std::ptrdiff_t>(r.count);
    const std::ptrdiff_t lagOfLast = kApart * last;
    const std::ptrdiff_t lagOfTap = kApart * tapLane;
    const std::ptrdiff_t steps = count + lagOfLast;
    Lanes y = broadcastLanes(0.0);
    // A step where only the lanes with a sample of this block change. Always inlined, as
    // everything between the AVX2 copy and its multiply-adds: a lambda does not take the copy's
    // instruction set, and a call from it would pass the lanes as the plain set does.
    const auto partialStep = [&](std::ptrdiff_t t) __attribute__((always_inline)) {
        const Lanes w1 = c.w1;
        const Lanes w2 = c.w2;
        laneStep<Fma>(c, y, t < count ? r.in[t] : 0.0);
        using Mask = long long __attribute__((vector_size(kLanes * sizeof(long long))));
        const Mask lag{0, kApart, 2 * kApart, 3 * kApart};
        const Mask active = (lag <= t) & (lag > t - count);
        c.w1 = active ? c.w1 : w1;
        c.w2 = active ? c.w2 : w2;
        if (t - lagOfLast >= 0 && t - lagOfLast < count)
            r.out[t - lagOfLast] = y[last];
        if (r.tap && tapLane >= 0 && t - lagOfTap >= 0 && t - lagOfTap < count)
            r.tap[t - lagOfTap] = y[tapLane];
    };
    std::ptrdiff_t t = 0;
    for (; t < std::min(lagOfLast, steps); ++t)
        partialStep(t);
    if (r.tap && tapLane >= 0) {
        for (; t < count; ++t) {
            laneStep<Fma>(c, y, r.in[t]);
            r.out[t - lagOfLast] = y[last];
            r.tap[t - lagOfTap] = y[tapLane];
        }
    } else {
        for (; t < count; ++t) {
            laneStep<Fma>(c, y, r.in[t]);
            r.out[t - lagOfLast] = y[last];
        }
    }
    for (; t < steps; ++t)
        partialStep(t);
    for (std::size_t i = 0; i < count_; ++i) {
        w1_[i] = c.w1[i];
        w2_[i] = c.w2[i];
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
