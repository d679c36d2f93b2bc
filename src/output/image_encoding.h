#pragma once
// An exported picture as the bytes of its file in the chosen format: the 8-bit bitmap with its
// colour table, baseline JPEG, or an 8-bit palette PNG (the command-line tool's default: the
// pictures are palette indices, so the file is small and quick to write), with the messages
// of a failure.

#include "output/image_files.h"

#include <optional>
#include <vector>

namespace korv {

// The command-line tool's own format (the desktop offers bitmap and JPEG).
inline constexpr int IMAGE_FORMAT_PNG = 1;

// Nothing when the memory for the file cannot be had or libpng fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> encodePng8(const PictureArea& picture,
                                                                  const ColourTable& colours);

struct EncodedImage {
    std::vector<std::uint8_t> bytes;
    std::optional<UserMessage> failure; // the bytes are meaningless when set
};
// IMAGE_FORMAT_BITMAP, IMAGE_FORMAT_JPEG (the side limit said in the program's words) or
// IMAGE_FORMAT_PNG.
[[nodiscard]] EncodedImage encodeImageFile(const PictureArea& picture, const ColourTable& colours,
                                           int format, int jpegQuality);

} // namespace korv
