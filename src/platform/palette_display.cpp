#include "platform/palette_display.h"

#include "display/palette.h"

#include <algorithm>

namespace korv {

PaletteDisplay::PaletteDisplay() {
    std::fill(table_.begin(), table_.begin() + kSystemColourBase, qRgb(0, 0, 0));
    std::transform(kSystemColourRgb.begin(), kSystemColourRgb.end(),
                   table_.begin() + kSystemColourBase,
                   [](const Rgb& c) { return qRgb(c.r, c.g, c.b); });
}

void PaletteDisplay::setLogicalPalette(std::span<const Rgb> colours) {
    const std::size_t n = std::min<std::size_t>(colours.size(), kSystemColourBase);
    for (std::size_t i = 0; i < n; ++i) {
        table_[i] = qRgb(colours[i].r, colours[i].g, colours[i].b);
    }
    ++generation_;
}

Rgb PaletteDisplay::rgb(std::uint8_t index) const {
    const QRgb c = table_[index];
    return {static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
            static_cast<std::uint8_t>(qBlue(c))};
}

QVector<QRgb> PaletteDisplay::colourTable() const {
    return QVector<QRgb>(table_.begin(), table_.end());
}

void PaletteDisplay::convert(const IndexedSurface& source, const PixelRect& srcRect, QImage& dest,
                             PixelPoint destPos) const {
    if (dest.format() != QImage::Format_RGB32 && dest.format() != QImage::Format_ARGB32) {
        return;
    }
    const PixelRect src = intersect(srcRect, source.bounds());
    if (src.empty()) {
        return;
    }
    const long long shiftX = static_cast<long long>(destPos.x) - srcRect.x;
    const long long shiftY = static_cast<long long>(destPos.y) - srcRect.y;
    const long long left = std::max<long long>(src.x + shiftX, 0);
    const long long top = std::max<long long>(src.y + shiftY, 0);
    const long long right = std::min<long long>(src.x + shiftX + src.width, dest.width());
    const long long bottom = std::min<long long>(src.y + shiftY + src.height, dest.height());
    for (long long y = top; y < bottom; ++y) {
        const auto from = source.row(static_cast<int>(y - shiftY));
        auto* to = reinterpret_cast<QRgb*>(dest.scanLine(static_cast<int>(y)));
        for (long long x = left; x < right; ++x) {
            to[x] = table_[from[static_cast<std::size_t>(x - shiftX)]];
        }
    }
}

QImage PaletteDisplay::toImage(const IndexedSurface& source) const {
    QImage image(std::max(source.width(), 1), std::max(source.height(), 1), QImage::Format_RGB32);
    if (source.empty()) {
        return QImage(0, 0, QImage::Format_RGB32);
    }
    convert(source, source.bounds(), image, {0, 0});
    return image;
}

} // namespace korv
