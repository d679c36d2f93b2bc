#include "display/palette_edit.h"

#include <algorithm>
#include <array>

namespace korv {

namespace {

constexpr std::array<const char*, kLevelStops> kCaptions30{
    "-60 dB",   "-57.5 dB", "-55.0 dB", "-52.5 dB", "-50.0 dB", "-47.5 dB", "-45.0 dB",
    "-42.5 dB", "-40.0 dB", "-37.5 dB", "-35.0 dB", "-32.5 dB", "-30.0 dB"};
constexpr std::array<const char*, kLevelStops> kCaptions60{
    "-60 dB", "-55 dB", "-50 dB", "-45 dB", "-40 dB", "-35 dB", "-30 dB",
    "-25 dB", "-20 dB", "-15 dB", "-10 dB", "-5 dB",  "0 dB"};
constexpr std::array<const char*, kLevelStops> kCaptions90{
    "-90.0 dB", "-82.5 dB", "-75.0 dB", "-67.5 dB", "-60.0 dB", "-52.5 dB", "-45.0 dB",
    "-37.5 dB", "-30.0 dB", "-22.5 dB", "-15.0 dB", "-7.5 dB",  "0 dB"};

// The gain codes the Scroll display takes with each range.
constexpr std::int32_t kScrollGain30 = 9;
constexpr std::int32_t kScrollGain60 = -9;
constexpr std::int32_t kScrollGain90 = 12;

} // namespace

std::int32_t levelScaleForRange(DbRange range, bool scrollDisplay) {
    if (!scrollDisplay) {
        return 0;
    }
    switch (range) {
    case DbRange::Db30:
        return kScrollGain30;
    case DbRange::Db90:
        return kScrollGain90;
    case DbRange::Db60:
        break;
    }
    return kScrollGain60;
}

std::string stopCaption(int stop, DbRange range) {
    const auto i = static_cast<std::size_t>(std::clamp(stop, 0, kLevelStops - 1));
    switch (range) {
    case DbRange::Db30:
        return kCaptions30[i];
    case DbRange::Db90:
        return kCaptions90[i];
    case DbRange::Db60:
        break;
    }
    return kCaptions60[i];
}

void spreadPaletteEntries(LevelPalette& palette, int a, int b) {
    const int last = static_cast<int>(palette.size()) - 1;
    const int lo = std::clamp(std::min(a, b), 0, last);
    const int hi = std::clamp(std::max(a, b), 0, last);
    if (lo == hi) {
        return;
    }
    const Rgb from = palette[static_cast<std::size_t>(lo)];
    const Rgb to = palette[static_cast<std::size_t>(hi)];
    const auto ramp = [&](std::uint8_t c0, std::uint8_t c1, int i) {
        const float step = static_cast<float>(c1 - c0) / static_cast<float>(hi - lo);
        const int v = static_cast<int>(static_cast<float>(c0) + static_cast<float>(i) * step);
        return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    };
    for (int i = 1; i < hi - lo; ++i) {
        palette[static_cast<std::size_t>(lo + i)] = {ramp(from.r, to.r, i), ramp(from.g, to.g, i),
                                                     ramp(from.b, to.b, i)};
    }
}

} // namespace korv
