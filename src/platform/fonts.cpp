#include "platform/fonts.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace korv {

QFont programFont(int pixelHeight) {
    QFont font(QString::fromLatin1(kProgramFontFamily));
    font.setPixelSize(std::max(pixelHeight, 1));
    // Crisp glyphs, as on the palette display the program was drawn for: the window and the
    // indexed pictures then show the same pixels for the same text.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

int averageCharWidth(const QFont& font) {
    // Weights per thousand letters of English text, a to z, then the blank.
    static constexpr int kWeights[27] = {64, 14, 27, 35, 100, 20, 14, 42, 63, 3, 6,  35, 20, 56,
                                         56, 17, 4,  49, 56,  71, 31, 10, 18, 3, 18, 2,  166};
    const QFontMetricsF metrics(font);
    double sum = 0.0;
    for (int i = 0; i < 27; ++i) {
        const QChar c = i < 26 ? QChar(static_cast<char16_t>(u'a' + i)) : QChar(u' ');
        sum += metrics.horizontalAdvance(c) * kWeights[i];
    }
    return std::max(1, static_cast<int>(std::lround(sum / 1000.0)));
}

} // namespace korv
