#include "modes/image_writing.h"

#include "output/atomic_file.h"
#include "output/image_encoding.h"
#include "platform/palette_display.h"

namespace korv {

ColourTable displayColours(const PaletteDisplay& display) {
    ColourTable table{};
    for (int i = 0; i < kDisplayColours; ++i) {
        table[i] = display.rgb(static_cast<std::uint8_t>(i));
    }
    return table;
}

std::optional<UserMessage> writeImageFile(const std::string& path, const PictureArea& picture,
                                          const ImageChoices& choices, const ColourTable& colours) {
    const EncodedImage encoded =
        encodeImageFile(picture, colours, choices.format, choices.jpegQuality);
    if (encoded.failure) {
        return encoded.failure;
    }
    return writeFileWholeOrSay(path, encoded.bytes);
}

} // namespace korv
