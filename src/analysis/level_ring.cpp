#include "analysis/level_ring.h"

#if defined(__SSE2__)
#include "analysis/sse_words.h"
#endif

namespace korv {

void updateLevelRing(std::span<const std::int16_t> rowLevels, std::span<std::int16_t> slot,
                     std::span<std::int32_t> sums, std::span<float> averaged, int divisor) {
    const std::size_t rows = rowLevels.size();
    const float count = static_cast<float>(divisor);
    // Dividing by one changes nothing; the division is the dearest step here.
    const bool divide = divisor != 1;
    std::size_t r = 0;
#if defined(__SSE2__)
    const __m128 counts = _mm_set1_ps(count);
    for (; r + 8 <= rows; r += 8) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rowLevels.data() + r));
        const __m128i out = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slot.data() + r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(slot.data() + r), in);
        const __m128i lowDelta = _mm_sub_epi32(widenLowWords(in), widenLowWords(out));
        const __m128i highDelta = _mm_sub_epi32(widenHighWords(in), widenHighWords(out));
        auto* sum = reinterpret_cast<__m128i*>(sums.data() + r);
        const __m128i low = _mm_add_epi32(_mm_loadu_si128(sum), lowDelta);
        const __m128i high = _mm_add_epi32(_mm_loadu_si128(sum + 1), highDelta);
        _mm_storeu_si128(sum, low);
        _mm_storeu_si128(sum + 1, high);
        __m128 lowAverage = _mm_cvtepi32_ps(low);
        __m128 highAverage = _mm_cvtepi32_ps(high);
        if (divide) {
            lowAverage = _mm_div_ps(lowAverage, counts);
            highAverage = _mm_div_ps(highAverage, counts);
        }
        _mm_storeu_ps(averaged.data() + r, lowAverage);
        _mm_storeu_ps(averaged.data() + r + 4, highAverage);
    }
#endif
    for (; r < rows; ++r) {
        sums[r] += rowLevels[r] - slot[r];
        slot[r] = rowLevels[r];
        averaged[r] = divide ? static_cast<float>(sums[r]) / count : static_cast<float>(sums[r]);
    }
}

} // namespace korv
