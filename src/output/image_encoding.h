#pragma once
// An exported picture as the bytes of its file in the chosen format: the 8-bit bitmap with its
// colour table, baseline JPEG, or an 8-bit palette PNG (the command-line tool's default: the
// pictures are palette indices, so the file is small and quick to write), with the messages
// of a failure. The one table of the formats: what each is called where the user picks it
// (the window's dialog and save prompt, the batch, the command-line tool) and its encoder.

#include "output/image_files.h"

#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace korv {

// A picture of more rows' bytes than this is deflated in stripes of about this size, in
// parallel.
inline constexpr std::size_t PNG_STRIPE_BYTES = std::size_t{4} << 20;

// Nothing when the memory for the file cannot be had or libpng fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> encodePng8(const PictureArea& picture,
                                                                  const ColourTable& colours);

// Takes a file's bytes in order, a piece at a time, from any thread (one at a time); false
// stops the writing.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;
// The same file handed to `sink` as it is made, so a long picture's file is written while its
// later stripes are still being deflated. False when memory, libpng or the sink failed.
[[nodiscard]] bool writePng8(const PictureArea& picture, const ColourTable& colours,
                             const ByteSink& sink);

struct EncodedImage {
    std::vector<std::uint8_t> bytes;
    std::optional<UserMessage> failure; // the bytes are meaningless when set
};

// jpegQuality is read by JPEG only.
using ImageEncoder = EncodedImage (*)(const PictureArea& picture, const ColourTable& colours,
                                      int jpegQuality);
// A format written as it is made; false when it could not be made or the sink failed.
using ImageStreamer = bool (*)(const PictureArea& picture, const ColourTable& colours,
                               const ByteSink& sink);

struct ImageFormatInfo {
    ImageFormat format;
    std::string_view name;      // the command-line tool's --format word
    std::string_view extension; // of the file, with its dot
    // The window's: the Image Characteristics radio button (its control id and text) and the
    // save prompt's title and filter. Button 0: the window does not offer the format.
    int buttonId;
    std::string_view buttonText;
    std::string_view saveTitle;
    std::string_view saveFilter;
    ImageEncoder encode;
    ImageStreamer stream; // nullptr: encoded whole, then handed on
};
[[nodiscard]] std::span<const ImageFormatInfo> imageFormats();
[[nodiscard]] const ImageFormatInfo& imageFormatInfo(ImageFormat format);
// The format of a --format word or a dialog button; nothing for another.
[[nodiscard]] std::optional<ImageFormat> imageFormatNamed(std::string_view name);
[[nodiscard]] std::optional<ImageFormat> imageFormatOfButton(int buttonId);

// JPEG refuses a picture over its side limit in the program's words.
[[nodiscard]] EncodedImage encodeImageFile(const PictureArea& picture, const ColourTable& colours,
                                           ImageFormat format, int jpegQuality);

// The same file handed to `sink`, as it is made where the format allows. The failure in the
// program's words; after a failed sink the writer's own failure is the one to tell.
[[nodiscard]] std::optional<UserMessage> writeImageFile(const PictureArea& picture,
                                                        const ColourTable& colours,
                                                        ImageFormat format, int jpegQuality,
                                                        const ByteSink& sink);

} // namespace korv
