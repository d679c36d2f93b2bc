#pragma once
// The pictures the exports and the printout are made of, composed on indexed surfaces from
// the spectral image: the window's view at its scroll position, or the whole image of one
// channel. Text (grid labels) is painted on them afterwards by the desktop side.

#include "display/indexed_surface.h"
#include "display/spectral_image.h"
#include "output/image_files.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace korv {

// Exported pictures are a multiple of 4 pixels wide, so bitmap rows need no padding.
[[nodiscard]] inline int exportWidth(int width) {
    return width < 0 ? 0 : width - width % 4;
}

// Which band of the spectral image a picture shows.
enum class ViewBand {
    Mono,
    Right, // the upper band of stereo data
    Left,  // the lower band
    Dual,  // both panes side by side, left channel first, as the window shows them
};

// Where the view's panes come from: a band's columns from the scroll position (the left
// pane's and, for scrolled-memory scans, `rightPaneScroll` for the right pane of Dual).
struct ViewPane {
    PixelRect source; // in the spectral image
    PixelPoint dest;  // its top left in the view
};
[[nodiscard]] std::vector<ViewPane> viewPanes(const SpectralImage& image, ViewBand band,
                                              long scrollPos, long rightPaneScroll, int width,
                                              int height);

// The view's width x height as the panes place the image, on the Background. Nothing without
// the memory for it.
[[nodiscard]] std::optional<IndexedSurface> composeViewPicture(const SpectralImage& image,
                                                               ViewBand band, long scrollPos,
                                                               long rightPaneScroll, int width,
                                                               int height);

// The image's own palette index the view shows at `at`, whatever is drawn over the window
// there (grid, outlines); nothing on the divider, past the image or outside the view.
[[nodiscard]] std::optional<std::uint8_t> viewImageIndex(const SpectralImage& image, ViewBand band,
                                                         long scrollPos, long rightPaneScroll,
                                                         int width, int height, PixelPoint at);

// The first `width` columns of one band (at most the image's width, rounded down to a multiple
// of 4), one band high.
[[nodiscard]] std::optional<IndexedSurface> composeEntirePicture(const SpectralImage& image,
                                                                 ViewBand band, int width);

// The band Entire Image saves of a view band: Dual is not offered, its lower band if asked.
[[nodiscard]] inline ViewBand entireImageBand(ViewBand band) {
    return band == ViewBand::Dual ? ViewBand::Left : band;
}
// Entire Image without the grid at its own size: the band's first `width` columns where they
// are in the image (which holds its strip lines), so a long analysis needs no second copy.
[[nodiscard]] PictureArea entireImageArea(const SpectralImage& image, ViewBand band, int width);

// The waveform strip's separator (row stripHeight, Signal 2) and zero line (row
// stripHeight / 2, Signal 1) across the picture.
void drawStripLines(IndexedSurface& picture, int stripHeight);

// The size a picture is saved at: percent of its own (below 100 counts as 100), the width
// again a multiple of 4.
struct ExportSize {
    int width = 0;
    int height = 0;
};
[[nodiscard]] ExportSize scaledExportSize(int width, int height, int percent);
// The picture stretched to its scaled size (nearest pixel); unchanged at 100 percent. Nothing
// without the memory for it.
[[nodiscard]] std::optional<IndexedSurface> scaleForExport(IndexedSurface picture, int percent);

// A one-pixel frame round the edge of the picture, as the printout shows it.
void drawFrame(IndexedSurface& picture, std::uint8_t index);

// Where a picture lands on the printed page: at 90 per cent of its size on the screen (each
// axis scaled by the larger of the two resolutions over the smaller), centred on the
// printable area of pageWidth x pageHeight printer pixels; shrunk to fit when that is larger.
inline constexpr double PRINT_SIZE_FACTOR = 0.9;
[[nodiscard]] PixelRect printPlacement(int width, int height, double screenDpiX, double screenDpiY,
                                       double printerDpiX, double printerDpiY, int pageWidth,
                                       int pageHeight);

} // namespace korv
