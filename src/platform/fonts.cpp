#include "platform/fonts.h"

#include <algorithm>

namespace korv {

QFont programFont(int pixelHeight) {
    QFont font(QString::fromLatin1(kProgramFontFamily));
    font.setPixelSize(std::max(pixelHeight, 1));
    // Crisp glyphs, as on the palette display the program was drawn for: the window and the
    // indexed pictures then show the same pixels for the same text.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

} // namespace korv
