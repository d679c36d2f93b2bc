#pragma once
// Four doubles worked on at once: the filters' inner loops are written once on this type and
// compiled twice, for AVX2 with FMA (chosen at run time) and for the plain instruction set,
// which splits each operation in two. A loop names its fused multiply-adds through the
// instruction set it is compiled for (AvxFma or PlainFma below): one rounding each, the
// processor's instruction or std::fma, so both copies give the same values to the bit.

#include <cmath>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace korv::meter {

inline constexpr int kLanes = 4;

// GCC's and Clang's vector extension.
using Lanes = double __attribute__((vector_size(kLanes * sizeof(double))));

// Always inlined, so the vector type never crosses a real call: GCC's warning that such a
// call's ABI differs between the two instruction sets is off in the files that include this.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

__attribute__((always_inline)) inline Lanes loadLanes(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void storeLanes(double* p, const Lanes& v) {
    std::memcpy(p, &v, sizeof v);
}

__attribute__((always_inline)) inline Lanes broadcastLanes(double x) {
    return Lanes{x, x, x, x};
}

// a × b + c and c − a × b, each rounded once, on lanes and on single values. The plain
// copies' std::fma is slow where the processor has no such instruction, but exact.
struct PlainFma {
    __attribute__((always_inline)) static double mulAdd(double a, double b, double c) {
        return std::fma(a, b, c);
    }
    __attribute__((always_inline)) static double negMulAdd(double a, double b, double c) {
        return std::fma(-a, b, c);
    }
    __attribute__((always_inline)) static Lanes mulAdd(const Lanes& a, const Lanes& b,
                                                       const Lanes& c) {
        return Lanes{std::fma(a[0], b[0], c[0]), std::fma(a[1], b[1], c[1]),
                     std::fma(a[2], b[2], c[2]), std::fma(a[3], b[3], c[3])};
    }
    __attribute__((always_inline)) static Lanes negMulAdd(const Lanes& a, const Lanes& b,
                                                          const Lanes& c) {
        return mulAdd(-a, b, c);
    }
    // *p in every lane.
    __attribute__((always_inline)) static Lanes broadcast(const double* p) {
        return broadcastLanes(*p);
    }
};

// GCC only: Clang refuses the AVX2 copies' calls from the generic loops' bodies (their vector
// values cross a call without AVX), so a Clang build (the fuzz targets') runs the plain copies.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KORV_METER_AVX2 1
// Not always_inline: GCC refuses those into the generic loops' own (always inlined) bodies
// before these reach the AVX2 copies; the copies are flattened instead.
struct AvxFma {
    __attribute__((target("avx2,fma"))) static double mulAdd(double a, double b, double c) {
        return _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)));
    }
    __attribute__((target("avx2,fma"))) static double negMulAdd(double a, double b, double c) {
        return _mm_cvtsd_f64(_mm_fnmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)));
    }
    __attribute__((target("avx2,fma"))) static Lanes mulAdd(const Lanes& a, const Lanes& b,
                                                            const Lanes& c) {
        return _mm256_fmadd_pd(a, b, c);
    }
    __attribute__((target("avx2,fma"))) static Lanes negMulAdd(const Lanes& a, const Lanes& b,
                                                               const Lanes& c) {
        return _mm256_fnmadd_pd(a, b, c);
    }
    // One load (GCC builds the vector from a register in two steps otherwise).
    __attribute__((target("avx2,fma"))) static Lanes broadcast(const double* p) {
        return _mm256_broadcast_sd(p);
    }
};
#endif

// Whether this processor runs the AVX2 copies (it has AVX2 and FMA).
[[nodiscard]] bool useAvx2Lanes();
// Whether it runs the band filters' AVX-512 copy too, two packs of four in each vector.
[[nodiscard]] bool useAvx512Lanes();

} // namespace korv::meter
