// The logical palette and the level-to-index mapping, checked against the rules written
// out independently here.

#include "display/palette.h"
#include "settings/settings_inputs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

using namespace korv;

namespace {

// c_s + (c_{s+1} - c_s) * j / 20 in single precision, truncated.
std::uint8_t blend(std::uint8_t from, std::uint8_t to, int j) {
    const float v = static_cast<float>(from) +
                    static_cast<float>(static_cast<int>(to) - static_cast<int>(from)) *
                        static_cast<float>(j) / 20.0f;
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

} // namespace

// Of either table and of one with a stop changed, which so touches only its two segments.
TEST(LogicalPalette, NamedColoursThenTheGradient) {
    LevelPalette edited = kCbPalette;
    edited[6] = {1, 2, 3};
    for (const LevelPalette* table :
         {&kCbPalette, &kBwPalette, static_cast<const LevelPalette*>(&edited)}) {
        const LogicalPalette p = buildLogicalPalette(*table);
        // Text, Freq Mark, Signal 2, Signal 1 and Background: the table's last five, backwards.
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(p[i], (*table)[17 - i]) << "index " << i;
        }
        for (int i = 5; i < 236; ++i) {
            const int s = (i - 5) / 20;
            const int j = (i - 5) % 20;
            const Rgb& a = (*table)[s];
            const Rgb& b = (*table)[s + 1];
            const Rgb want{blend(a.r, b.r, j), blend(a.g, b.g, j), blend(a.b, b.b, j)};
            ASSERT_EQ(p[i], want) << "index " << i; // 235: halfway between stops 11 and 12
        }
    }
}

TEST(LogicalPalette, BwIsLightGreyLowDarkHighOnWhite) {
    const LogicalPalette p = buildLogicalPalette(kBwPalette);
    EXPECT_EQ(p[kBackgroundIndex], (Rgb{255, 255, 255}));
    EXPECT_GT(p[5].r, 200);
    EXPECT_LT(p[235].r, 20);
}

TEST(LevelMapping, MatchesTheSinglePrecisionFormulaEverywhere) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> level(-200.0f, 600.0f);
    // {range, its width in dB, its bottom in quarter-dB}
    for (const auto& [choice, width, bottom] :
         {std::tuple{DbRange::Db30, 30.0f, 120.0f}, std::tuple{DbRange::Db60, 60.0f, 120.0f},
          std::tuple{DbRange::Db90, 90.0f, 0.0f}}) {
        const LevelRange range = levelRangeFor(choice);
        // Every whole level about the range, truncation toward zero just below its bottom,
        // the extremes of a level, and random ones.
        std::vector<float> levels{119.5f, -5000.0f, 32767.0f};
        for (int i = 0; i < 20000; ++i) {
            levels.push_back(i < 800 ? static_cast<float>(i - 200) : level(rng));
        }
        for (const float l : levels) {
            const float v = (l - bottom) * 240.0f / (4.0f * width);
            const auto want = static_cast<std::int32_t>(v);
            ASSERT_EQ(levelToPaletteIndex(l, range), want) << l << " range " << width;
            const std::int32_t clamped = want < 4 ? 4 : (want > 235 ? 235 : want);
            ASSERT_EQ(levelToClampedPaletteIndex(l, range), clamped);
        }
        // A whole column at once gives the same indices, its tail included.
        levels.push_back(std::numeric_limits<float>::quiet_NaN());
        levels.push_back(std::numeric_limits<float>::infinity());
        levels.push_back(-std::numeric_limits<float>::infinity());
        std::vector<std::uint8_t> indices(levels.size());
        levelsToClampedPaletteIndices(levels, range, indices);
        for (std::size_t i = 0; i < levels.size(); ++i) {
            ASSERT_EQ(indices[i], levelToClampedPaletteIndex(levels[i], range)) << levels[i];
        }
    }
}

TEST(LevelMapping, HostileValuesStayDefined) {
    const LevelRange r = levelRangeFor(DbRange::Db60);
    EXPECT_EQ(levelToClampedPaletteIndex(std::numeric_limits<float>::quiet_NaN(), r),
              kBackgroundIndex);
    EXPECT_EQ(levelToClampedPaletteIndex(std::numeric_limits<float>::infinity(), r),
              kLastGradientIndex);
}

TEST(PaletteChoice, NamesTheTables) {
    LevelPalette user = kCbPalette;
    user[0] = {9, 9, 9};
    // The black and white and the user's tables as the settings file chooses them:
    // SettingsFile.PaletteChoiceSelectsTheActiveTable.
    EXPECT_EQ(&paletteFor(PaletteName::Cb, user), &kCbPalette);
    EXPECT_EQ(&paletteFor(PaletteName::Bw, user), &kBwPalette);
    EXPECT_EQ(&paletteFor(PaletteName::User, user), &user);
}
