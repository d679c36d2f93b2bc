#include "display/palette.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korv {

const LevelPalette& paletteFor(PaletteName name, const LevelPalette& userPalette) {
    switch (name) {
    case PaletteName::Bw:
        return kBwPalette;
    case PaletteName::User:
        return userPalette;
    case PaletteName::Cb:
        break;
    }
    return kCbPalette;
}

namespace {

std::uint8_t blendComponent(std::uint8_t from, std::uint8_t to, int step) {
    const float start = static_cast<float>(from);
    const float delta = static_cast<float>(to) - start;
    const float value = start + delta * static_cast<float>(step) / 20.0f;
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::array<Rgb, 256> displayColourTable(const LevelPalette& active) {
    std::array<Rgb, 256> table{};
    const LogicalPalette logical = buildLogicalPalette(active);
    std::copy(logical.begin(), logical.end(), table.begin());
    std::copy(kSystemColourRgb.begin(), kSystemColourRgb.end(),
              table.begin() + kLogicalPaletteSize);
    return table;
}

LogicalPalette buildLogicalPalette(const LevelPalette& active) {
    LogicalPalette out{};
    out[kTextIndex] = active[kTextEntry];
    out[kFreqMarkIndex] = active[kFreqMarkEntry];
    out[kSignal2Index] = active[kSignal2Entry];
    out[kSignal1Index] = active[kSignal1Entry];
    out[kBackgroundIndex] = active[kBackgroundEntry];
    for (int s = 0; s < kLevelStops - 1; ++s) {
        const Rgb& from = active[static_cast<std::size_t>(s)];
        const Rgb& to = active[static_cast<std::size_t>(s + 1)];
        for (int j = 0; j < kGradientStepsPerStop; ++j) {
            const int index = kFirstGradientIndex + kGradientStepsPerStop * s + j;
            if (index > kLastGradientIndex) {
                return out;
            }
            out[static_cast<std::size_t>(index)] = {blendComponent(from.r, to.r, j),
                                                    blendComponent(from.g, to.g, j),
                                                    blendComponent(from.b, to.b, j)};
        }
    }
    return out;
}

LevelRange levelRangeFor(DbRange range) {
    switch (range) {
    case DbRange::Db30:
        return {30.0f, 120.0f};
    case DbRange::Db90:
        return {90.0f, 0.0f};
    case DbRange::Db60:
        break;
    }
    return {60.0f, 120.0f};
}

void levelsToClampedPaletteIndices(std::span<const float> levels, const LevelRange& range,
                                   std::span<std::uint8_t> indices) {
    const std::size_t count = std::min(levels.size(), indices.size());
    std::size_t r = 0;
#if defined(__SSE2__)
    // The same single-precision steps; clamping before the truncation gives the clamp after
    // it, and a NaN meets the lower limit first, as the one-level mapping makes it.
    const __m128 bottom = _mm_set1_ps(range.bottomQuarterDb);
    const __m128 span = _mm_set1_ps(static_cast<float>(kGradientSpan));
    const __m128 divisor = _mm_set1_ps(4.0f * range.rangeDb);
    const __m128 lowest = _mm_set1_ps(static_cast<float>(kBackgroundIndex));
    const __m128 highest = _mm_set1_ps(static_cast<float>(kLastGradientIndex));
    for (; r + 4 <= count; r += 4) {
        const __m128 v = _mm_div_ps(
            _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(levels.data() + r), bottom), span), divisor);
        // maxps gives its second operand when the first is a NaN.
        const __m128 clamped = _mm_min_ps(_mm_max_ps(v, lowest), highest);
        const __m128i whole = _mm_cvttps_epi32(clamped);
        const __m128i words = _mm_packs_epi32(whole, whole);
        const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(indices.data() + r, &packed, 4); // the low byte is the first index
    }
#endif
    for (; r < count; ++r) {
        indices[r] = static_cast<std::uint8_t>(levelToClampedPaletteIndex(levels[r], range));
    }
}

} // namespace korv
