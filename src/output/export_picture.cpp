#include "output/export_picture.h"

#include "display/palette.h"
#include "display/view_geometry.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace korv {

std::vector<ViewPane> viewPanes(const SpectralImage& image, ViewBand band, long scrollPos,
                                long rightPaneScroll, int width, int height) {
    const auto x = [](long pos) {
        return static_cast<int>(std::clamp<long>(pos, 0, std::numeric_limits<int>::max()));
    };
    const int half = image.channels() == 2 ? image.plotHeight() : 0;
    switch (band) {
    case ViewBand::Mono:
    case ViewBand::Right:
        return {{{x(scrollPos), 0, width, height}, {0, 0}}};
    case ViewBand::Left:
        return {{{x(scrollPos), half, width, height}, {0, 0}}};
    case ViewBand::Dual:
        // The panes as the window places them, the divider between them left as Background.
        return {{{x(scrollPos), half, width / 2 - DUAL_LEFT_PANE_GAP, height}, {0, 0}},
                {{x(rightPaneScroll), 0, width / 2 - DUAL_RIGHT_PANE_GAP, height},
                 {dualRightPaneX(width), 0}}};
    }
    return {};
}

std::optional<IndexedSurface> composeViewPicture(const SpectralImage& image, ViewBand band,
                                                 long scrollPos, long rightPaneScroll, int width,
                                                 int height) {
    auto picture = IndexedSurface::create(exportWidth(width), height, kBackgroundIndex);
    if (!picture) {
        return std::nullopt;
    }
    // The copies may reach past the picture's (rounded) width; copyFrom clips.
    for (const ViewPane& pane : viewPanes(image, band, scrollPos, rightPaneScroll, width, height)) {
        picture->copyFrom(image.surface(), pane.source, pane.dest);
    }
    return picture;
}

std::optional<std::uint8_t> viewImageIndex(const SpectralImage& image, ViewBand band,
                                           long scrollPos, long rightPaneScroll, int width,
                                           int height, PixelPoint at) {
    for (const ViewPane& pane : viewPanes(image, band, scrollPos, rightPaneScroll, width, height)) {
        const int dx = at.x - pane.dest.x;
        const int dy = at.y - pane.dest.y;
        if (dx >= 0 && dx < pane.source.width && dy >= 0 && dy < pane.source.height) {
            return image.surface().pixel(pane.source.x + dx, pane.source.y + dy);
        }
    }
    return std::nullopt;
}

std::optional<IndexedSurface> composeEntirePicture(const SpectralImage& image, ViewBand band,
                                                   int width) {
    auto picture = IndexedSurface::create(exportWidth(std::min(width, image.width())),
                                          image.plotHeight(), kBackgroundIndex);
    if (!picture) {
        return std::nullopt;
    }
    const int top = band == ViewBand::Left && image.channels() == 2 ? image.plotHeight() : 0;
    picture->copyFrom(image.surface(), {0, top, picture->width(), picture->height()}, {0, 0});
    drawStripLines(*picture, image.stripHeight());
    return picture;
}

PictureArea entireImageArea(const SpectralImage& image, ViewBand band, int width) {
    const int top = band == ViewBand::Left ? image.bandTop(SPECTRAL_LEFT_CHANNEL) : 0;
    return PictureArea(image.surface(), {0, top, width, image.plotHeight()});
}

void drawStripLines(IndexedSurface& picture, int stripHeight) {
    picture.drawLine({0, stripHeight}, {picture.width(), stripHeight},
                     {static_cast<std::uint8_t>(kSignal2Index), 1});
    picture.drawLine({0, stripHeight / 2}, {picture.width(), stripHeight / 2},
                     {static_cast<std::uint8_t>(kSignal1Index), 1});
}

ExportSize scaledExportSize(int width, int height, int percent) {
    const long long p = percent < 100 ? 100 : percent;
    const auto scale = [p](int v) {
        return static_cast<int>(std::min<long long>(static_cast<long long>(v) * p / 100,
                                                    std::numeric_limits<int>::max()));
    };
    return {exportWidth(scale(width)), scale(height)};
}

std::optional<IndexedSurface> scaleForExport(IndexedSurface picture, int percent) {
    const ExportSize size = scaledExportSize(picture.width(), picture.height(), percent);
    if (size.width == picture.width() && size.height == picture.height()) {
        return picture;
    }
    auto scaled = IndexedSurface::create(size.width, size.height, kBackgroundIndex);
    if (!scaled) {
        return std::nullopt;
    }
    scaled->stretchFrom(picture, picture.bounds(), scaled->bounds());
    return scaled;
}

void drawFrame(IndexedSurface& picture, std::uint8_t index) {
    const int right = picture.width() - 1;
    const int bottom = picture.height() - 1;
    const Pen pen{index, 1};
    picture.moveTo({0, 0});
    picture.lineTo({right, 0}, pen);
    picture.lineTo({right, bottom}, pen);
    picture.lineTo({0, bottom}, pen);
    picture.lineTo({0, 0}, pen);
}

PixelRect printPlacement(int width, int height, double screenDpiX, double screenDpiY,
                         double printerDpiX, double printerDpiY, int pageWidth, int pageHeight) {
    const auto factor = [](double screen, double printer) {
        if (screen <= 0.0 || printer <= 0.0) {
            return PRINT_SIZE_FACTOR;
        }
        return (printer >= screen ? printer / screen : screen / printer) * PRINT_SIZE_FACTOR;
    };
    double fx = factor(screenDpiX, printerDpiX);
    double fy = factor(screenDpiY, printerDpiY);
    // A picture wider or taller than the page is shrunk to fit it, keeping its proportions,
    // rather than cut off at the page's edges.
    if (width > 0 && height > 0) {
        const double fit = std::min({1.0, pageWidth / (width * fx), pageHeight / (height * fy)});
        fx *= fit;
        fy *= fit;
    }
    const int w = static_cast<int>(width * fx);
    const int h = static_cast<int>(height * fy);
    return {pageWidth / 2 - w / 2, pageHeight / 2 - h / 2, w, h};
}

} // namespace korv
