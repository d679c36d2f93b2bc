#include "display/spectral_image.h"

#include "display/palette.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace korv {

namespace {

constexpr auto kBackground = static_cast<std::uint8_t>(kBackgroundIndex);
constexpr auto kSignal1 = static_cast<std::uint8_t>(kSignal1Index);
constexpr auto kSignal2 = static_cast<std::uint8_t>(kSignal2Index);
// Samples per strip pixel of the min/max bar.
constexpr int kSamplesPerStripPixel = 1500;

} // namespace

std::int64_t spectralImageBytes(const SpectralImageGeometry& g) {
    return std::max<std::int64_t>(g.columns, g.screenWidth) * std::max(g.plotHeight, 0) *
           std::max(g.channels, 0);
}

std::optional<SpectralImage> SpectralImage::create(const SpectralImageGeometry& g) {
    if ((g.channels != 1 && g.channels != 2) || g.stripHeight < 1 ||
        g.plotHeight <= g.stripHeight || g.columns < 0 || g.columns > INT_MAX) {
        return std::nullopt;
    }
    const long long height = static_cast<long long>(g.plotHeight) * g.channels;
    if (height > INT_MAX) {
        return std::nullopt;
    }
    const int width = std::max(static_cast<int>(g.columns), g.screenWidth);
    auto surface = IndexedSurface::create(width, static_cast<int>(height), kBackground);
    if (!surface || surface->empty()) {
        return std::nullopt;
    }
    SpectralImage image(std::move(*surface), g.plotHeight, g.stripHeight, g.channels);
    image.drawStripLines(0, image.width());
    return image;
}

SpectralImage::SpectralImage(IndexedSurface surface, int plotHeight, int stripHeight, int channels)
    : surface_(std::move(surface)), plotHeight_(plotHeight), stripHeight_(stripHeight),
      channels_(channels) {}

int SpectralImage::bandTop(int channel) const {
    return channels_ == 2 && channel == SPECTRAL_LEFT_CHANNEL ? plotHeight_ : 0;
}

void SpectralImage::clear() {
    clearColumns(0, surface_.width());
}

void SpectralImage::clearColumns(int from, int to) {
    const int first = std::clamp(from, 0, surface_.width());
    const int last = std::clamp(to, first, surface_.width());
    surface_.fillRect({first, 0, last - first, surface_.height()}, kBackground);
    drawStripLines(first, last);
}

void SpectralImage::drawStripLines(int from, int to) {
    for (int channel = 0; channel < channels_; ++channel) {
        const int top = bandTop(channel);
        surface_.fillRect({from, top + stripHeight_, to - from, 1}, kSignal2);
        surface_.fillRect({from, top + stripHeight_ / 2, to - from, 1}, kSignal1);
    }
}

void SpectralImage::drawStripColumn(int x, int channel, int minimum, int maximum) {
    const int top = bandTop(channel);
    const int zero = top + stripHeight_ / 2;
    surface_.fillRect({x, top, 1, stripHeight_}, kBackground);
    surface_.setPixel(x, zero, kSignal1);
    // A one-pixel line covers its start but not its end; the bar stays inside the strip
    // even when a small strip cannot hold a full-scale swing.
    const int from = std::max(zero - maximum / kSamplesPerStripPixel, top);
    const int to = std::min(zero - minimum / kSamplesPerStripPixel, top + stripHeight_);
    if (to > from) {
        surface_.fillRect({x, from, 1, to - from}, kSignal1);
    }
    surface_.setPixel(x, top + stripHeight_, kSignal2);
}

std::optional<SliceCopy> sliceForColumn(long x, int visibleWidth) {
    if (x < 0 || x % SLICE_COLUMNS != 0 || visibleWidth <= 0) {
        return std::nullopt;
    }
    SliceCopy copy;
    if (x < visibleWidth) {
        const long first = std::max(x - (SLICE_COLUMNS - 1), 0L);
        copy.sourceX = static_cast<int>(first);
        copy.destX = copy.sourceX;
        copy.width = static_cast<int>(x - first + 1);
        return copy;
    }
    copy.scrollPos = x - visibleWidth + 1;
    copy.sourceX = static_cast<int>(std::min<long>(copy.scrollPos, INT_MAX));
    copy.width = visibleWidth;
    copy.scrolled = true;
    return copy;
}

} // namespace korv
