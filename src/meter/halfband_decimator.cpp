#include "meter/halfband_decimator.h"

#include "meter/kaiser_window.h"
#include "meter/lanes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korv::meter {

namespace {

constexpr std::size_t kOddHistory = 2 * HalfbandDecimator::kPairs - 1;
constexpr std::size_t kEvenHistory = HalfbandDecimator::kPairs - 1;
// Inputs taken in one piece, so the buffers stay small whatever the block.
constexpr std::size_t kPieceInputs = 2048;
// Kaiser's window for 100 dB: beta = 0.1102 (A - 8.7).
constexpr double kKaiserBeta = 0.1102 * (100.0 - 8.7);

// Output j of a piece: the middle tap on even[j], the pairs on odd[j + i] and
// odd[j + 2P - 1 - i]. Always summed in this order, each tap's product fused into its sum,
// lane or not.
template <class Fma>
__attribute__((always_inline)) inline void halfbandOutputs(const double* taps, const double* even,
                                                           const double* odd, std::size_t count,
                                                           double* out) {
    constexpr int pairs = HalfbandDecimator::kPairs;
    // The taps in lanes once for all outputs, the pairs' loop unrolled.
    Lanes tapLanes[pairs];
    for (int i = 0; i < pairs; ++i)
        tapLanes[i] = Fma::broadcast(taps + i);
    std::size_t j = 0;
    for (; j + kLanes <= count; j += kLanes) {
        // Two sums, the even pairs' and the odd pairs', so that the additions overlap.
        Lanes even0 = broadcastLanes(0.5) * loadLanes(even + j);
        Lanes odd0 = broadcastLanes(0.0);
#pragma GCC unroll 5
        for (int i = 0; i < pairs; i += 2) {
            const Lanes sum0 = loadLanes(odd + j + i) + loadLanes(odd + j + 2 * pairs - 1 - i);
            const Lanes sum1 = loadLanes(odd + j + i + 1) + loadLanes(odd + j + 2 * pairs - 2 - i);
            even0 = Fma::mulAdd(tapLanes[i], sum0, even0);
            odd0 = Fma::mulAdd(tapLanes[i + 1], sum1, odd0);
        }
        storeLanes(out + j, even0 + odd0);
    }
    for (; j < count; ++j) {
        double even0 = 0.5 * even[j];
        double odd0 = 0.0;
        for (int i = 0; i < pairs; i += 2) {
            even0 = Fma::mulAdd(taps[i], odd[j + i] + odd[j + 2 * pairs - 1 - i], even0);
            odd0 = Fma::mulAdd(taps[i + 1], odd[j + i + 1] + odd[j + 2 * pairs - 2 - i], odd0);
        }
        out[j] = even0 + odd0;
    }
}

#if defined(KORV_METER_AVX2)
__attribute__((target("avx2,fma"), flatten)) void
halfbandOutputsAvx2(const double* taps, const double* even, const double* odd, std::size_t count,
                    double* out) {
    halfbandOutputs<AvxFma>(taps, even, odd, count, out);
}

// Eight outputs at a time, each summed as halfbandOutputs sums it; the rest by that.
__attribute__((target("avx512f,avx2,fma"), flatten)) void
halfbandOutputsAvx512(const double* taps, const double* even, const double* odd, std::size_t count,
                      double* out) {
    constexpr int pairs = HalfbandDecimator::kPairs;
    __m512d tapLanes[pairs];
    for (int i = 0; i < pairs; ++i)
        tapLanes[i] = _mm512_set1_pd(taps[i]);
    std::size_t j = 0;
    for (; j + 8 <= count; j += 8) {
        __m512d even0 = _mm512_mul_pd(_mm512_set1_pd(0.5), _mm512_loadu_pd(even + j));
        __m512d odd0 = _mm512_setzero_pd();
#pragma GCC unroll 5
        for (int i = 0; i < pairs; i += 2) {
            const __m512d sum0 = _mm512_add_pd(_mm512_loadu_pd(odd + j + i),
                                               _mm512_loadu_pd(odd + j + 2 * pairs - 1 - i));
            const __m512d sum1 = _mm512_add_pd(_mm512_loadu_pd(odd + j + i + 1),
                                               _mm512_loadu_pd(odd + j + 2 * pairs - 2 - i));
            even0 = _mm512_fmadd_pd(tapLanes[i], sum0, even0);
            odd0 = _mm512_fmadd_pd(tapLanes[i + 1], sum1, odd0);
        }
        _mm512_storeu_pd(out + j, _mm512_add_pd(even0, odd0));
    }
    halfbandOutputs<AvxFma>(taps, even + j, odd + j, count - j, out + j);
}
#endif

void halfbandOutputsPlain(const double* taps, const double* even, const double* odd,
                          std::size_t count, double* out) {
    halfbandOutputs<PlainFma>(taps, even, odd, count, out);
}

} // namespace

HalfbandDecimator::HalfbandDecimator()
    : odd_(kOddHistory + kPieceInputs / 2 + 1, 0.0),
      even_(kEvenHistory + kPieceInputs / 2 + 2, 0.0), evenCount_(kEvenHistory) {
    // Tap n (odd) of the windowed ideal half-band sin(pi n / 2) / (pi n); the pairs scaled
    // so that the response is exactly 1 at DC (and so exactly 0 at half the rate).
    const double halfLength = 2.0 * kPairs - 1.0;
    double sum = 0.0;
    for (int i = 0; i < kPairs; ++i) {
        const double n = halfLength - 2.0 * i;
        const double ratio = n / halfLength;
        const double window = kaiserWindow(ratio, kKaiserBeta);
        const double tap = std::sin(std::numbers::pi * n / 2.0) / (std::numbers::pi * n) * window;
        taps_[static_cast<std::size_t>(i)] = tap;
        sum += tap;
    }
    for (double& tap : taps_)
        tap *= 0.25 / sum;
}

std::size_t HalfbandDecimator::process(const double* in, std::size_t count, double* out) {
    std::size_t produced = 0;
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min(kPieceInputs, count - done);
        produced += processPiece(in + done, piece, out + produced);
        done += piece;
    }
    return produced;
}

std::size_t HalfbandDecimator::processPiece(const double* in, std::size_t count, double* out) {
    // even_ holds the last P - 1 even samples before the next output's own, then (when an
    // even sample waits for its odd one) that one; odd_ the last 2P - 1 odd samples.
    std::size_t k = 0;
    std::size_t odds = 0;
    if (nextIsOdd_ && count > 0) {
        odd_[kOddHistory + odds++] = in[k++];
        nextIsOdd_ = false;
    }
    for (; k + 2 <= count; k += 2) {
        even_[evenCount_++] = in[k];
        odd_[kOddHistory + odds++] = in[k + 1];
    }
    if (k < count) {
        even_[evenCount_++] = in[k];
        nextIsOdd_ = true;
    }
    if (odds > 0) {
#if defined(KORV_METER_AVX2)
        if (useAvx512Lanes())
            halfbandOutputsAvx512(taps_.data(), even_.data(), odd_.data(), odds, out);
        else if (useAvx2Lanes())
            halfbandOutputsAvx2(taps_.data(), even_.data(), odd_.data(), odds, out);
        else
#endif
            halfbandOutputsPlain(taps_.data(), even_.data(), odd_.data(), odds, out);
    }
    std::copy(odd_.begin() + static_cast<std::ptrdiff_t>(odds),
              odd_.begin() + static_cast<std::ptrdiff_t>(odds + kOddHistory), odd_.begin());
    std::copy(even_.begin() + static_cast<std::ptrdiff_t>(odds),
              even_.begin() + static_cast<std::ptrdiff_t>(evenCount_), even_.begin());
    evenCount_ -= odds;
    return odds;
}

} // namespace korv::meter
