#pragma once
// The transform's steps shared by its plain path and its vector one (AVX2 on x86-64, chosen at
// run time); each vector step gives the plain steps' values to the bit.

#include <cstdint>

namespace korv {

// 40 log10(P) truncated, limited to the level range; 0 for no power.
[[nodiscard]] std::int16_t exactLevel(double power);

#if defined(__x86_64__) && defined(__GNUC__)
#define KORV_FFT_AVX2 1

[[nodiscard]] bool cpuHasAvx2();
// The levels of `count` powers, each exactLevel's.
__attribute__((target("avx2"))) void levelsOfPowersAvx2(const double* powers, std::int16_t* levels,
                                                        int count);
// The butterflies of an N-point frame without their halvings (each value of stage s comes out
// 2^s times the plain one). scaledTwiddles holds, per block b: ta/32768, -ta/32768, tb/32768,
// tb/32768.
__attribute__((target("avx2"))) void unhalvedStagesAvx2(double* z, const double* scaledTwiddles,
                                                        int n);
// frame x window for N values.
__attribute__((target("avx2"))) void windowFrameAvx2(const std::int16_t* frame,
                                                     const double* window, double* z, int n);
__attribute__((target("avx2"))) void windowFloatsAvx2(const float* samples, const double* window,
                                                      double* z, int n);
// The split of the N/2 complex values (inScale times their plain size) into the N real
// samples' spectrum, bin k at z + rev[k]; the bins' powers land in bin order at z + N.
// splitTwiddles holds per bin k: tc, -ts, ts, tc (the twiddle divided by 32768).
__attribute__((target("avx2"))) void splitSpectrumAvx2(double* z, const std::int32_t* rev,
                                                       const double* splitTwiddles, int n,
                                                       double inScale);
#endif

} // namespace korv
