#pragma once
// An off-screen picture drawn with palette indices: one byte per pixel, rows top-down.
// Every operation clips, so no caller can write outside the pixels, whatever it asks for.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korv {

struct PixelPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// A rectangle from (x, y) covering width x height pixels; right() and bottom() are exclusive.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    [[nodiscard]] bool empty() const { return width <= 0 || height <= 0; }
    [[nodiscard]] int right() const { return x + width; }
    [[nodiscard]] int bottom() const { return y + height; }
    [[nodiscard]] bool contains(int px, int py) const {
        return px >= x && py >= y && px < right() && py < bottom();
    }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The common part of two rectangles (empty, with zero size, when they do not meet).
// Computed in 64 bits, so rectangles near the int limits do not overflow.
[[nodiscard]] PixelRect intersect(const PixelRect& a, const PixelRect& b);

// A pen: the palette index it draws with and its width in pixels (below 1 counts as 1).
struct Pen {
    std::uint8_t index = 0;
    int width = 1;
};

// The pixels a line covers, in drawing order, as the desktop's line drawing sets them:
// a one-pixel pen covers the start point but not the end point (so polylines do not set
// their joints twice); a wider pen covers a width x width square centred on every point
// of the line, end point included. Unclipped: callers clip.
template <class Plot>
void forEachLinePixel(PixelPoint from, PixelPoint to, int penWidth, Plot&& plot);

// The pixels' memory. A long recording's picture is tens of megabytes written a column at a
// time, each column touching every row; on the system's large pages the whole picture takes a
// few address-translation entries instead of one per 4 KiB row stretch, and is set up with a
// few page faults instead of thousands.
struct PixelAllocator {
    using value_type = std::uint8_t;
    template <class U> struct rebind {
        using other = PixelAllocator; // only ever asked for bytes
    };
    PixelAllocator() = default;
    [[nodiscard]] std::uint8_t* allocate(std::size_t bytes);
    void deallocate(std::uint8_t* pixels, std::size_t bytes) noexcept;
    // Pixels are left unset when made, so a large picture's pages are first touched by its
    // fill, which the surface spreads over two cores.
    void construct(std::uint8_t* pixel) noexcept { ::new (static_cast<void*>(pixel)) std::uint8_t; }
    void construct(std::uint8_t* pixel, std::uint8_t value) noexcept {
        ::new (static_cast<void*>(pixel)) std::uint8_t(value);
    }
    friend bool operator==(const PixelAllocator&, const PixelAllocator&) { return true; }
};

class IndexedSurface {
  public:
    IndexedSurface() = default;
    // A width x height surface filled with `fill`; negative sizes give an empty surface.
    // Throws std::bad_alloc when the memory cannot be had; see create().
    IndexedSurface(int width, int height, std::uint8_t fill = 0);

    // A surface, or nothing when it is larger than the machine's memory allows
    // (surfacePixelLimit) or the memory cannot be had (the program's "Not enough memory" path).
    [[nodiscard]] static std::optional<IndexedSurface> create(int width, int height,
                                                              std::uint8_t fill = 0);

    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] int height() const { return height_; }
    [[nodiscard]] bool empty() const { return width_ == 0 || height_ == 0; }
    [[nodiscard]] PixelRect bounds() const { return {0, 0, width_, height_}; }
    [[nodiscard]] bool contains(int x, int y) const { return bounds().contains(x, y); }

    // The index at (x, y), or nothing outside the surface.
    [[nodiscard]] std::optional<std::uint8_t> pixel(int x, int y) const;
    void setPixel(int x, int y, std::uint8_t index);
    // Column x from row `bottom` upwards: indices[0] at bottom, indices[1] above it, ...;
    // what falls outside the surface is left out.
    void setColumnUpwards(int x, int bottom, std::span<const std::uint8_t> indices);

    // One row, for readers that walk the pixels (image export, tests). y must be inside.
    [[nodiscard]] std::span<const std::uint8_t> row(int y) const;
    [[nodiscard]] std::span<const std::uint8_t> pixels() const { return pixels_; }

    void fill(std::uint8_t index);
    void fillRect(const PixelRect& rect, std::uint8_t index);

    void drawLine(PixelPoint from, PixelPoint to, Pen pen);
    // The current position of the move-to / line-to drawing style; lineTo moves it to `to`.
    void moveTo(PixelPoint p) { position_ = p; }
    void lineTo(PixelPoint to, Pen pen);
    [[nodiscard]] PixelPoint position() const { return position_; }

    // Copies srcRect of `source` to `dest` (its top-left), clipped against both surfaces.
    // The source may be this surface; overlapping areas copy as if through a temporary.
    void copyFrom(const IndexedSurface& source, const PixelRect& srcRect, PixelPoint dest);

    // Stretches (or shrinks) srcRect of `source` onto destRect, nearest pixel, sampling at the
    // centre of each destination pixel. Destination pixels outside this surface, and those whose
    // sample falls outside the source, are left as they are.
    void stretchFrom(const IndexedSurface& source, const PixelRect& srcRect,
                     const PixelRect& destRect);

    // Moves the pixels inside `area` horizontally by dx (negative: to the left). Pixels moved
    // out of the area are lost; the columns uncovered are filled with `exposed`, or keep
    // their old contents when it is empty.
    void scrollHorizontally(const PixelRect& area, int dx,
                            std::optional<std::uint8_t> exposed = std::nullopt);

  private:
    [[nodiscard]] std::size_t offset(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t, PixelAllocator> pixels_;
    PixelPoint position_;
};

template <class Plot>
void forEachLinePixel(PixelPoint from, PixelPoint to, int penWidth, Plot&& plot) {
    const int width = penWidth < 1 ? 1 : penWidth;
    // 64-bit arithmetic: coordinates come from callers' geometry and may be far off-surface.
    long long x = from.x;
    long long y = from.y;
    const long long x1 = to.x;
    const long long y1 = to.y;
    const long long dx = x1 > x ? x1 - x : x - x1;
    const long long dy = y1 > y ? y1 - y : y - y1;
    const int sx = x < x1 ? 1 : -1;
    const int sy = y < y1 ? 1 : -1;
    long long err = dx - dy;
    const long long low = -(width / 2);
    auto put = [&](long long px, long long py) {
        if (width == 1) {
            plot(px, py);
            return;
        }
        for (long long oy = low; oy < low + width; ++oy) {
            for (long long ox = low; ox < low + width; ++ox) {
                plot(px + ox, py + oy);
            }
        }
    };
    while (true) {
        const bool atEnd = x == x1 && y == y1;
        if (atEnd) {
            if (width > 1) {
                put(x, y);
            }
            return;
        }
        put(x, y);
        const long long e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
}

} // namespace korv
