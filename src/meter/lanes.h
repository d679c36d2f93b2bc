#pragma once
// Four doubles worked on at once: the filters' inner loops are written once on this type and
// compiled twice, for AVX2 (chosen at run time) and for the plain instruction set, which
// splits each operation in two. Neither path contracts a multiply and an add, so both give
// the same values to the bit.

#include <cstring>

namespace korv::meter {

inline constexpr int kLanes = 4;

#if defined(__GNUC__)
using Lanes = double __attribute__((vector_size(kLanes * sizeof(double))));
#endif

// Always inlined, so the vector type never crosses a real call: GCC's warning that such a
// call's ABI differs between the two instruction sets is off in the files that include this.
#if defined(__GNUC__) && !defined(__clang__)
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

// Whether this processor runs the AVX2 copies.
[[nodiscard]] bool useAvx2Lanes();

} // namespace korv::meter
