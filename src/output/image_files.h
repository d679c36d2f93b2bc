#pragma once
// The image files of the exports, built whole in memory from an indexed picture and its
// 256-colour table: Windows bitmaps (8-bit with the colour table, or 24-bit) and baseline JPEG.
// Pictures are exported with widths that are multiples of 4, so no bitmap row needs padding;
// other widths are padded to whole 4-byte rows as the format requires.

#include "base/check_result.h"
#include "base/settings_types.h"
#include "display/indexed_surface.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korv {

using ColourTable = std::array<Rgb, 256>;

inline constexpr std::uint32_t BMP_INFO_HEADER_SIZE = 40;
inline constexpr std::uint32_t BMP8_PIXEL_OFFSET = 1078; // 14 + 40 + 256 x 4
inline constexpr std::uint32_t BMP24_PIXEL_OFFSET = 58;  // 14 + 40 + four zero bytes

// A part of a surface to encode, so a large picture need not be copied first (clipped to the
// surface).
struct PictureArea {
    const IndexedSurface& surface;
    PixelRect rect;
    PictureArea(const IndexedSurface& s) : surface(s), rect(s.bounds()) {} // NOLINT: whole
    PictureArea(const IndexedSurface& s, const PixelRect& r)
        : surface(s), rect(intersect(r, s.bounds())) {}
    [[nodiscard]] int width() const { return rect.width; }
    [[nodiscard]] int height() const { return rect.height; }
    [[nodiscard]] std::span<const std::uint8_t> row(int y) const {
        return surface.row(rect.y + y)
            .subspan(static_cast<std::size_t>(rect.x), static_cast<std::size_t>(rect.width));
    }
};

// Nothing when the memory for the file cannot be had.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> encodeBmp8(const PictureArea& picture,
                                                                  const ColourTable& colours);
[[nodiscard]] std::optional<std::vector<std::uint8_t>> encodeBmp24(const PictureArea& picture,
                                                                   const ColourTable& colours);

// The longest side a PNG file has room for (libpng stops at a million unless told).
inline constexpr int PNG_MAX_SIDE = 0x7FFFFFFF;
// libjpeg takes no side longer than this.
inline constexpr int JPEG_MAX_SIDE = 65500;
inline constexpr int JPEG_MIN_QUALITY = 25;
inline constexpr int JPEG_MAX_QUALITY = 100;
inline constexpr int JPEG_DEFAULT_QUALITY = 90;

struct JpegResult {
    std::vector<std::uint8_t> bytes; // the whole file; empty on failure
    std::string error;               // libjpeg's own words when it failed
};
// Top row first, quality clamped to 25..100. The picture must fit JPEG_MAX_SIDE (the caller
// says so in its own words first); a larger one fails with libjpeg's message.
[[nodiscard]] JpegResult encodeJpeg(const PictureArea& picture, const ColourTable& colours,
                                    int quality);

} // namespace korv

namespace korv {

inline const UserMessage kNotEnoughMemoryForBitmap{"Not Enough Memory For Bitmap",
                                                   MessageIcon::Stop};
inline const UserMessage kNotEnoughMemoryForImage{"Not Enough Memory", MessageIcon::Warning};
inline const UserMessage kImageTooLargeForJpeg{
    "The image is too large for a JPEG file (at most 65500 pixels each way). Save it as a "
    "bitmap, or analyse with a larger time scale.",
    MessageIcon::Warning};
inline const UserMessage kJpegFailed{"JPEG Error", MessageIcon::Stop};

// The image formats of the exports; their names, extensions and encoders are in the table of
// image_encoding.h.
enum class ImageFormat {
    Bitmap, // 8-bit Windows bitmap with its colour table
    Jpeg,
    Png, // 8-bit palette PNG with its colour table: small, exact and read everywhere
};
// The radio buttons of the Image Characteristics dialog.
inline constexpr int IMAGE_FORMAT_BITMAP = 1158;
inline constexpr int IMAGE_FORMAT_JPEG = 1159;
inline constexpr int IMAGE_FORMAT_PNG = 1162;

// Kept while the program runs, not stored in the settings file.
struct ImageChoices {
    ImageFormat format = ImageFormat::Jpeg;
    int jpegQuality = JPEG_DEFAULT_QUALITY;
};

} // namespace korv
