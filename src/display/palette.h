#pragma once
// The level palette: 13 level stops and five named colours, the 236-entry logical
// palette built from it, and the mapping of a level to a palette index.
// Pure values; the desktop side turns the logical palette into a colour table.

#include "base/settings_types.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

namespace korv {

// 13 level stops (lowest level first), then Background, Signal 1, Signal 2, Freq Mark, Text.
using LevelPalette = PaletteTable;

inline constexpr int kLevelStops = 13;
inline constexpr int kBackgroundEntry = 13;
inline constexpr int kSignal1Entry = 14;
inline constexpr int kSignal2Entry = 15;
inline constexpr int kFreqMarkEntry = 16;
inline constexpr int kTextEntry = 17;

// Indices of the logical palette.
inline constexpr int kLogicalPaletteSize = 236;
inline constexpr std::int32_t kTextIndex = 0;
inline constexpr std::int32_t kFreqMarkIndex = 1;
// The scope markers are drawn in the Text colour, so that they are not taken for the pitch
// detector's line, which has the Freq Mark colour.
inline constexpr std::int32_t kScopeMarkerIndex = kTextIndex;
inline constexpr std::int32_t kSignal2Index = 2;
inline constexpr std::int32_t kSignal1Index = 3;
inline constexpr std::int32_t kBackgroundIndex = 4;
inline constexpr std::int32_t kFirstGradientIndex = 5;
inline constexpr std::int32_t kLastGradientIndex = 235;
inline constexpr int kGradientStepsPerStop = 20;
// The level mapping spans 240 steps over the range; only 231 of them are in the palette.
inline constexpr int kGradientSpan = 240;

using LogicalPalette = std::array<Rgb, kLogicalPaletteSize>;

inline constexpr LevelPalette kCbPalette{{
    {0, 0, 200},
    {0, 50, 210},
    {0, 100, 220},
    {0, 150, 230},
    {0, 200, 240},
    {2, 252, 251},
    {65, 252, 214},
    {128, 253, 177},
    {191, 254, 140},
    {255, 255, 103},
    {232, 185, 99},
    {210, 115, 95},
    {188, 46, 92},
    {0, 0, 0},
    {255, 255, 200},
    {0, 133, 252},
    {220, 0, 0},
    {255, 255, 255},
}};

inline constexpr LevelPalette kBwPalette{{
    {212, 212, 212},
    {195, 195, 195},
    {178, 178, 178},
    {161, 161, 161},
    {144, 144, 144},
    {127, 127, 127},
    {110, 110, 110},
    {93, 93, 93},
    {76, 76, 76},
    {59, 59, 59},
    {42, 42, 42},
    {25, 25, 25},
    {8, 8, 8},
    {255, 255, 255},
    {0, 0, 0},
    {0, 0, 0},
    {220, 0, 0},
    {0, 0, 0},
}};

// The level palettes a user picks from: the two fixed tables and the user's own.
enum class PaletteName { Cb, Bw, User };

// The table a name stands for (the User table is passed in).
[[nodiscard]] const LevelPalette& paletteFor(PaletteName name, const LevelPalette& userPalette);

// All 236 entries: the five named colours, then stop s blended toward stop s+1 by j/20.
[[nodiscard]] LogicalPalette buildLogicalPalette(const LevelPalette& active);

// The twenty fixed colours of the desktop after the logical palette (indices 236 .. 255), in
// their usual order: black, the dark colours, the greys, the bright colours, white.
inline constexpr std::array<Rgb, 20> kSystemColourRgb{{
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
}};
// All 256 colours a picture's indices stand for: the logical palette of `active`, then the
// fixed colours. What an exported file's colour table holds.
[[nodiscard]] std::array<Rgb, 256> displayColourTable(const LevelPalette& active);

// The signal range of a DbRange, in the level unit (quarter-dB).
struct LevelRange {
    float rangeDb = 60.0f;
    float bottomQuarterDb = 120.0f;
    friend bool operator==(const LevelRange&, const LevelRange&) = default;
};

[[nodiscard]] LevelRange levelRangeFor(DbRange range);

// (level - B) * 240 / (4 * R) in single precision, truncated toward zero; not clamped.
// Non-finite or enormous levels saturate instead of overflowing.
[[nodiscard]] inline std::int32_t levelToPaletteIndex(float level, const LevelRange& range);

// The callers' limit: below the range is Background (4), above it the last gradient entry (235).
[[nodiscard]] inline std::int32_t clampToLevelIndices(std::int32_t index);

// levelToPaletteIndex followed by the clamp, as the drawing code uses it.
[[nodiscard]] inline std::int32_t levelToClampedPaletteIndex(float level, const LevelRange& range);

// Inline: the column loop maps every pixel through them.
inline std::int32_t levelToPaletteIndex(float level, const LevelRange& range) {
    const float index = (level - range.bottomQuarterDb) * static_cast<float>(kGradientSpan) /
                        (4.0f * range.rangeDb);
    // Far outside the palette either way; saturate so the conversion stays defined.
    constexpr float kLimit = 1.0e6f;
    if (std::isnan(index)) {
        return 0;
    }
    if (index >= kLimit) {
        return static_cast<std::int32_t>(kLimit);
    }
    if (index <= -kLimit) {
        return -static_cast<std::int32_t>(kLimit);
    }
    return static_cast<std::int32_t>(index);
}

inline std::int32_t clampToLevelIndices(std::int32_t index) {
    if (index < kBackgroundIndex) {
        return kBackgroundIndex;
    }
    if (index > kLastGradientIndex) {
        return kLastGradientIndex;
    }
    return index;
}

inline std::int32_t levelToClampedPaletteIndex(float level, const LevelRange& range) {
    return clampToLevelIndices(levelToPaletteIndex(level, range));
}

// levelToClampedPaletteIndex for a whole column, four levels at a time: the same indices.
void levelsToClampedPaletteIndices(std::span<const float> levels, const LevelRange& range,
                                   std::span<std::uint8_t> indices);

} // namespace korv
