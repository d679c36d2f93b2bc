#pragma once

// Sign-extending eight 16-bit lanes into two vectors of 32-bit lanes (SSE2 has no single
// instruction for it): each word is moved to the high half of a doubleword and shifted back.

#if defined(__SSE2__)
#include <emmintrin.h>

namespace korv {

[[nodiscard]] inline __m128i widenLowWords(__m128i words) {
    return _mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16);
}

[[nodiscard]] inline __m128i widenHighWords(__m128i words) {
    return _mm_srai_epi32(_mm_unpackhi_epi16(words, words), 16);
}

} // namespace korv
#endif
