#include "display/indexed_surface.h"

#include "display/memory_budget.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace korv {

namespace {

// Pictures from this size on are placed on large-page boundaries and offered large pages.
constexpr std::size_t LARGE_PAGE_BYTES = std::size_t{2} << 20;

// From this size on the fill is shared with a second thread: the system clears each fresh
// page on its first touch, which for a long recording's picture takes longer than the fill.
constexpr std::size_t SHARED_FILL_BYTES = std::size_t{16} << 20;

void fillPixels(std::span<std::uint8_t> pixels, std::uint8_t fill) {
    if (pixels.size() < SHARED_FILL_BYTES) {
        std::fill(pixels.begin(), pixels.end(), fill); // an empty surface has no pixels at all
        return;
    }
    const std::size_t half = pixels.size() / 2 / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
    std::thread other;
    try {
        other = std::thread([&] { std::memset(pixels.data() + half, fill, pixels.size() - half); });
    } catch (const std::system_error&) {
        std::memset(pixels.data() + half, fill, pixels.size() - half);
    }
    std::memset(pixels.data(), fill, half);
    if (other.joinable()) {
        other.join();
    }
}

} // namespace

std::uint8_t* PixelAllocator::allocate(std::size_t bytes) {
    if (bytes < LARGE_PAGE_BYTES) {
        return std::allocator<std::uint8_t>().allocate(bytes);
    }
    const std::size_t rounded =
        (bytes + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
    void* pixels = std::aligned_alloc(LARGE_PAGE_BYTES, rounded);
    if (pixels == nullptr) {
        throw std::bad_alloc();
    }
#ifdef MADV_HUGEPAGE
    (void)madvise(pixels, rounded, MADV_HUGEPAGE); // only advice: small pages work as well
#endif
    return static_cast<std::uint8_t*>(pixels);
}

void PixelAllocator::deallocate(std::uint8_t* pixels, std::size_t bytes) noexcept {
    if (bytes < LARGE_PAGE_BYTES) {
        std::allocator<std::uint8_t>().deallocate(pixels, bytes);
    } else {
        std::free(pixels);
    }
}

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
    const long long left = std::max<long long>(a.x, b.x);
    const long long top = std::max<long long>(a.y, b.y);
    const long long right = std::min<long long>(static_cast<long long>(a.x) + a.width,
                                                static_cast<long long>(b.x) + b.width);
    const long long bottom = std::min<long long>(static_cast<long long>(a.y) + a.height,
                                                 static_cast<long long>(b.y) + b.height);
    if (a.empty() || b.empty() || right <= left || bottom <= top) {
        return {};
    }
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

IndexedSurface::IndexedSurface(int width, int height, std::uint8_t fill)
    : width_(width > 0 && height > 0 ? width : 0), height_(width > 0 && height > 0 ? height : 0),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {
    fillPixels(pixels_, fill);
}

std::optional<IndexedSurface> IndexedSurface::create(int width, int height, std::uint8_t fill) {
    if (static_cast<long long>(std::max(width, 0)) * std::max(height, 0) >
        surfacePixelLimit(availableMemoryBytes())) {
        return std::nullopt;
    }
    try {
        return IndexedSurface(width, height, fill);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::uint8_t> IndexedSurface::pixel(int x, int y) const {
    if (!contains(x, y)) {
        return std::nullopt;
    }
    return pixels_[offset(x, y)];
}

void IndexedSurface::setPixel(int x, int y, std::uint8_t index) {
    if (contains(x, y)) {
        pixels_[offset(x, y)] = index;
    }
}

void IndexedSurface::setColumnUpwards(int x, int bottom, std::span<const std::uint8_t> indices) {
    if (x < 0 || x >= width_ || bottom < 0) {
        return;
    }
    // Rows below the surface are skipped; the column stops at the top row.
    const long skip = std::max(0L, static_cast<long>(bottom) - (height_ - 1));
    const long count = std::min(static_cast<long>(indices.size()), static_cast<long>(bottom) + 1);
    std::uint8_t* p = pixels_.data() + offset(x, static_cast<int>(bottom - skip));
    const auto stride = static_cast<std::ptrdiff_t>(width_);
    for (long i = skip; i < count; ++i, p -= stride) {
        *p = indices[static_cast<std::size_t>(i)];
    }
}

std::span<const std::uint8_t> IndexedSurface::row(int y) const {
    if (y < 0 || y >= height_) {
        return {};
    }
    return std::span<const std::uint8_t>(pixels_).subspan(offset(0, y),
                                                          static_cast<std::size_t>(width_));
}

void IndexedSurface::fill(std::uint8_t index) {
    std::fill(pixels_.begin(), pixels_.end(), index);
}

void IndexedSurface::fillRect(const PixelRect& rect, std::uint8_t index) {
    const PixelRect r = intersect(rect, bounds());
    for (int y = r.y; y < r.bottom(); ++y) {
        std::memset(&pixels_[offset(r.x, y)], index, static_cast<std::size_t>(r.width));
    }
}

void IndexedSurface::drawLine(PixelPoint from, PixelPoint to, Pen pen) {
    const int reach = std::max(pen.width, 1);
    // A line wholly beyond one edge (pen included) cannot touch the surface.
    if ((from.x + reach < 0 && to.x + reach < 0) || (from.y + reach < 0 && to.y + reach < 0) ||
        (from.x - reach >= width_ && to.x - reach >= width_) ||
        (from.y - reach >= height_ && to.y - reach >= height_)) {
        return;
    }
    forEachLinePixel(from, to, pen.width, [&](long long x, long long y) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) {
            pixels_[offset(static_cast<int>(x), static_cast<int>(y))] = pen.index;
        }
    });
}

void IndexedSurface::lineTo(PixelPoint to, Pen pen) {
    drawLine(position_, to, pen);
    position_ = to;
}

void IndexedSurface::copyFrom(const IndexedSurface& source, const PixelRect& srcRect,
                              PixelPoint dest) {
    // Clip the source rectangle to the source, shift the destination alike, then clip that.
    const PixelRect src = intersect(srcRect, source.bounds());
    if (src.empty()) {
        return;
    }
    const long long shiftX = static_cast<long long>(dest.x) - srcRect.x;
    const long long shiftY = static_cast<long long>(dest.y) - srcRect.y;
    const long long dx0 = src.x + shiftX;
    const long long dy0 = src.y + shiftY;
    const long long left = std::max<long long>(dx0, 0);
    const long long top = std::max<long long>(dy0, 0);
    const long long right = std::min<long long>(dx0 + src.width, width_);
    const long long bottom = std::min<long long>(dy0 + src.height, height_);
    if (right <= left || bottom <= top) {
        return;
    }
    const auto w = static_cast<std::size_t>(right - left);
    const auto sx = static_cast<int>(left - shiftX);
    const bool upwards = &source == this && shiftY > 0;
    const long long rows = bottom - top;
    for (long long i = 0; i < rows; ++i) {
        // Copy bottom-up when moving down within one surface, so rows are read before overwritten.
        const long long k = upwards ? rows - 1 - i : i;
        const auto dy = static_cast<int>(top + k);
        const auto sy = static_cast<int>(top + k - shiftY);
        std::memmove(&pixels_[offset(static_cast<int>(left), dy)],
                     &source.pixels_[source.offset(sx, sy)], w);
    }
}

void IndexedSurface::stretchFrom(const IndexedSurface& source, const PixelRect& srcRect,
                                 const PixelRect& destRect) {
    if (srcRect.empty() || destRect.empty()) {
        return;
    }
    const PixelRect d = intersect(destRect, bounds());
    if (d.empty()) {
        return;
    }
    // Sampling the source of a copy onto itself would read pixels already written.
    const IndexedSurface copy = &source == this ? source : IndexedSurface();
    const IndexedSurface& from = &source == this ? copy : source;
    const long long sw = srcRect.width;
    const long long sh = srcRect.height;
    const long long dw = destRect.width;
    const long long dh = destRect.height;
    for (int y = d.y; y < d.bottom(); ++y) {
        const long long sy =
            srcRect.y + ((2 * (static_cast<long long>(y) - destRect.y) + 1) * sh) / (2 * dh);
        if (sy < 0 || sy >= from.height_) {
            continue;
        }
        for (int x = d.x; x < d.right(); ++x) {
            const long long sx =
                srcRect.x + ((2 * (static_cast<long long>(x) - destRect.x) + 1) * sw) / (2 * dw);
            if (sx < 0 || sx >= from.width_) {
                continue;
            }
            pixels_[offset(x, y)] =
                from.pixels_[from.offset(static_cast<int>(sx), static_cast<int>(sy))];
        }
    }
}

void IndexedSurface::scrollHorizontally(const PixelRect& area, int dx,
                                        std::optional<std::uint8_t> exposed) {
    const PixelRect a = intersect(area, bounds());
    if (a.empty() || dx == 0) {
        return;
    }
    const long long shift = std::clamp<long long>(dx, -static_cast<long long>(a.width), a.width);
    const auto moved = static_cast<std::size_t>(a.width - (shift < 0 ? -shift : shift));
    const auto gap = static_cast<std::size_t>(shift < 0 ? -shift : shift);
    for (int y = a.y; y < a.bottom(); ++y) {
        std::uint8_t* line = &pixels_[offset(a.x, y)];
        if (shift < 0) {
            std::memmove(line, line + gap, moved);
            if (exposed) {
                std::memset(line + moved, *exposed, gap);
            }
        } else {
            std::memmove(line + gap, line, moved);
            if (exposed) {
                std::memset(line, *exposed, gap);
            }
        }
    }
}

} // namespace korv
