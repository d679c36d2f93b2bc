#pragma once
// The off-screen picture of an Analyze File run: one band of plotHeight rows per channel,
// each a waveform strip of stripHeight rows over the spectral rows. Stereo puts the right
// channel in the upper band and the left channel in the lower one, which is where the view
// looks for them (left from half the image height).

#include "display/indexed_surface.h"

#include <cstdint>
#include <optional>

namespace korv {

inline constexpr int SPECTRAL_LEFT_CHANNEL = 0; // also the one channel of mono data
inline constexpr int SPECTRAL_RIGHT_CHANNEL = 1;

struct SpectralImageGeometry {
    long columns = 0;    // the run's columns
    int screenWidth = 0; // the image is at least this wide
    int plotHeight = 0;  // one band
    int stripHeight = 0; // the waveform strip at the top of a band
    int channels = 1;    // 1 or 2
};

// The bytes the image of `g` takes (one per pixel), to ask before anything is read for it.
[[nodiscard]] std::int64_t spectralImageBytes(const SpectralImageGeometry& g);

class SpectralImage {
  public:
    SpectralImage() = default;
    // An existing picture seen as bands of plotHeight rows (the strip lines are not drawn).
    SpectralImage(IndexedSurface surface, int plotHeight, int stripHeight, int channels);

    // Width max(columns, screen width), height plotHeight x channels, filled with the
    // Background colour with each band's strip separator and zero line across the width.
    // Nothing when the memory cannot be had (the caller's "Not enough display memory"), or
    // when the geometry gives no picture: channels not 1 or 2, a strip of no height, a band
    // without a spectral row, or a width beyond the int range.
    [[nodiscard]] static std::optional<SpectralImage> create(const SpectralImageGeometry& geometry);

    [[nodiscard]] const IndexedSurface& surface() const { return surface_; }
    [[nodiscard]] IndexedSurface& surface() { return surface_; }
    [[nodiscard]] int width() const { return surface_.width(); }
    [[nodiscard]] int height() const { return surface_.height(); }
    [[nodiscard]] int plotHeight() const { return plotHeight_; }
    [[nodiscard]] int stripHeight() const { return stripHeight_; }
    [[nodiscard]] int channels() const { return channels_; }
    // Spectral rows of one band: plotHeight - stripHeight.
    [[nodiscard]] int rows() const { return plotHeight_ - stripHeight_; }

    // The top row of a channel's band: 0 for mono and for the right channel of stereo,
    // plotHeight for the left channel of stereo.
    [[nodiscard]] int bandTop(int channel) const;
    // The image row of spectral row r (0 = lowest frequency) of a channel.
    [[nodiscard]] int rowY(int channel, int row) const {
        return bandTop(channel) + plotHeight_ - 1 - row;
    }

    // Background everywhere, then the strip lines of every band.
    void clear();
    // The same for columns from .. to - 1 alone.
    void clearColumns(int from, int to);

    // The waveform strip of one column of a channel's band, from the smallest and largest
    // sample near the column's centre: the zero-line dot, the min/max bar (kept inside the
    // strip) and the separator dot. The strip column is cleared first, so a column can be
    // drawn again.
    void drawStripColumn(int x, int channel, int minimum, int maximum);

  private:
    void drawStripLines(int from, int to);

    IndexedSurface surface_;
    int plotHeight_ = 0;
    int stripHeight_ = 0;
    int channels_ = 1;
};

// The copy to the window after column x (every fourth column): while the image still fits
// the visible width, the four columns drawn since the last copy, at their own place; after
// that the whole visible width ending at x, with the scroll position that shows it.
struct SliceCopy {
    int sourceX = 0; // image column of the copy's left edge
    int width = 0;
    int destX = 0;         // view column it goes to
    long scrollPos = 0;    // the horizontal scroll position while the copy is shown
    bool scrolled = false; // the view follows the run (scrollPos changed)
    friend bool operator==(const SliceCopy&, const SliceCopy&) = default;
};
inline constexpr long SLICE_COLUMNS = 4;
// Nothing for columns not divisible by four or a view of no width.
[[nodiscard]] std::optional<SliceCopy> sliceForColumn(long x, int visibleWidth);

} // namespace korv
