#include "display/palette.h"

#include <cmath>
#include <cstddef>

namespace korv {

const LevelPalette* paletteForChoice(std::int32_t paletteChoice, const LevelPalette& userPalette) {
    switch (paletteChoice) {
    case kPaletteChoiceCb:
        return &kCbPalette;
    case kPaletteChoiceBw:
        return &kBwPalette;
    case kPaletteChoiceUser:
        return &userPalette;
    default:
        return nullptr;
    }
}

bool fillActivePalette(std::int32_t paletteChoice, const LevelPalette& userPalette,
                       LevelPalette& active) {
    const LevelPalette* chosen = paletteForChoice(paletteChoice, userPalette);
    if (chosen == nullptr) {
        return false;
    }
    active = *chosen;
    return true;
}

namespace {

std::uint8_t blendComponent(std::uint8_t from, std::uint8_t to, int step) {
    const float start = static_cast<float>(from);
    const float delta = static_cast<float>(to) - start;
    const float value = start + delta * static_cast<float>(step) / 20.0f;
    return static_cast<std::uint8_t>(value);
}

} // namespace

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

LevelRange levelRangeForChoice(std::int32_t dbScaleChoice) {
    switch (dbScaleChoice) {
    case kDbScale30:
        return {30.0f, 120.0f};
    case kDbScale90:
        return {90.0f, 0.0f};
    case kDbScale60:
    default:
        return {60.0f, 120.0f};
    }
}

float stopLevelDb(int stop, const LevelRange& range) {
    const float bottomDb = range.bottomQuarterDb / 4.0f - 90.0f;
    return bottomDb +
           range.rangeDb * static_cast<float>(stop) / static_cast<float>(kLevelStops - 1);
}

} // namespace korv
