#pragma once
// A picture of the window written as an image file, as Save Image and the batch write it.

#include "base/check_result.h"
#include "output/image_files.h"

#include <optional>
#include <string>

namespace korv {

class PaletteDisplay;

// The display's 256 colours.
[[nodiscard]] ColourTable displayColours(const PaletteDisplay& display);

// Encodes and writes `picture` to `path` whole or not at all; the message to show on failure.
// Touches nothing but its arguments, so it may run off the GUI thread.
[[nodiscard]] std::optional<UserMessage> writeImageFile(const std::string& path,
                                                        const PictureArea& picture,
                                                        const ImageChoices& choices,
                                                        const ColourTable& colours);

} // namespace korv
