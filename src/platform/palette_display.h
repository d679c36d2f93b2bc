#pragma once
// The software palette display: 256 colours, of which 0..235 are the program's logical
// palette and 236..255 the fixed colours of the desktop. Pictures hold indices and are turned
// into RGB only when they reach the window or a file, so rebuilding the logical palette
// recolours every picture at once.
//
// Recolouring contract: setLogicalPalette() advances generation(). A WindowSurface compares
// that generation before it next presents and, when it changed, runs the program's paint
// handler into its store (as after an invalidate), so everything the store got from indexed
// surfaces is converted anew. Anything drawn on the window outside the paint handler is redrawn
// only if the paint handler draws it.

#include "display/indexed_surface.h"
#include "settings/app_settings.h"

#include <QImage>
#include <QVector>
#include <QtGui/qrgb.h>
#include <array>
#include <cstdint>
#include <span>

namespace korv {

// The first index that is not part of the logical palette (the logical palette's size).
inline constexpr int kSystemColourBase = 236;
inline constexpr int kDisplayColours = 256;

// The twenty static colours the desktop reserves on a palette display, in their usual order.
enum SystemColour : std::uint8_t {
    kSysBlack = 236, // 0, 0, 0
    kSysDarkRed,     // 128, 0, 0
    kSysDarkGreen,   // 0, 128, 0
    kSysDarkYellow,  // 128, 128, 0
    kSysDarkBlue,    // 0, 0, 128
    kSysDarkMagenta, // 128, 0, 128
    kSysDarkCyan,    // 0, 128, 128
    kSysLightGrey,   // 192, 192, 192
    kSysMoneyGreen,  // 192, 220, 192
    kSysSkyBlue,     // 166, 202, 240
    kSysCream,       // 255, 251, 240
    kSysMediumGrey,  // 160, 160, 164
    kSysGrey,        // 128, 128, 128
    kSysRed,         // 255, 0, 0
    kSysGreen,       // 0, 255, 0
    kSysYellow,      // 255, 255, 0
    kSysBlue,        // 0, 0, 255
    kSysMagenta,     // 255, 0, 255
    kSysCyan,        // 0, 255, 255
    kSysWhite,       // 255, 255, 255
};

// The desktop's element colours, as in its classic scheme.
inline constexpr std::uint8_t kSys3dFace = kSysLightGrey;
inline constexpr std::uint8_t kSys3dShadow = kSysGrey;
inline constexpr std::uint8_t kSys3dHighlight = kSysWhite;
inline constexpr std::uint8_t kSysActiveCaption = kSysDarkBlue;
inline constexpr std::uint8_t kSysWindowText = kSysBlack;

class PaletteDisplay {
  public:
    // The logical entries start black until the first setLogicalPalette().
    PaletteDisplay();

    // Installs the logical palette: entries beyond the span stay as they were, entries of the
    // span beyond 236 are ignored. Advances generation().
    void setLogicalPalette(std::span<const Rgb> colours);

    [[nodiscard]] QRgb colour(std::uint8_t index) const { return table_[index]; }
    [[nodiscard]] Rgb rgb(std::uint8_t index) const;
    [[nodiscard]] const std::array<QRgb, kDisplayColours>& table() const { return table_; }
    // The 256 colours as an 8-bit image's colour table (for exports of indexed pictures).
    [[nodiscard]] QVector<QRgb> colourTable() const;
    [[nodiscard]] unsigned generation() const { return generation_; }

    // Converts srcRect of `source` into `dest` at `destPos` (its top-left), clipped against
    // both. `dest` must be an RGB32 or ARGB32 image; other formats are left untouched.
    void convert(const IndexedSurface& source, const PixelRect& srcRect, QImage& dest,
                 PixelPoint destPos) const;
    // The whole surface as a new RGB32 image.
    [[nodiscard]] QImage toImage(const IndexedSurface& source) const;

  private:
    std::array<QRgb, kDisplayColours> table_{};
    unsigned generation_ = 0;
};

} // namespace korv
