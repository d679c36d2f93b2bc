#include "display/indexed_surface.h"
#include "display/memory_budget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>

namespace korv {
namespace {

// A surface with a different index in every pixel (mod 256), so misplaced copies show.
IndexedSurface patterned(int w, int h, int seed = 0) {
    IndexedSurface s(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            s.setPixel(x, y, static_cast<std::uint8_t>((x * 7 + y * 31 + seed) & 0xff));
        }
    }
    return s;
}

void expectSame(const IndexedSurface& actual, const IndexedSurface& expected) {
    ASSERT_EQ(actual.width(), expected.width());
    ASSERT_EQ(actual.height(), expected.height());
    const auto got = actual.pixels();
    const auto at = std::ranges::mismatch(got, expected.pixels()).in1 - got.begin();
    ASSERT_EQ(at, std::ssize(got)) << "at " << at % actual.width() << "," << at / actual.width();
}

std::set<std::pair<int, int>> setPixels(const IndexedSurface& s, std::uint8_t index) {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < s.height(); ++y) {
        for (int x = 0; x < s.width(); ++x) {
            if (*s.pixel(x, y) == index) {
                out.insert({x, y});
            }
        }
    }
    return out;
}

TEST(IndexedSurface, SizeFillAndPixelAccessStayInside) {
    IndexedSurface s(5, 3, 9);
    EXPECT_EQ(s.pixels().size(), 15u);
    EXPECT_EQ(*s.pixel(4, 2), 9);
    for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, -1}, {0, 3}, {-100000, 100000}}) {
        s.setPixel(x, y, 1);
        EXPECT_FALSE(s.pixel(x, y).has_value());
    }
    EXPECT_EQ(setPixels(s, 9).size(), 15u);
    EXPECT_TRUE(s.row(3).empty());
    EXPECT_TRUE(s.row(-1).empty());
    EXPECT_EQ(s.row(2).size(), 5u);

    // A long recording's picture, filled on two cores, and its copy: every byte the fill.
    const IndexedSurface big(150'001, 123, 7);
    const IndexedSurface copy = big;
    EXPECT_TRUE(std::ranges::all_of(big.pixels(), [](std::uint8_t p) { return p == 7; }));
    EXPECT_TRUE(std::ranges::equal(big.pixels(), copy.pixels()));

    const IndexedSurface negative(-4, 10);
    EXPECT_TRUE(negative.empty());
    EXPECT_EQ(negative.width(), 0);
    EXPECT_EQ(negative.height(), 0);
}

TEST(IndexedSurface, CreateRefusesSizesBeyondTheLimit) {
    const auto ok = IndexedSurface::create(640, 480, 4);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(*ok->pixel(639, 479), 4);
    EXPECT_FALSE(IndexedSurface::create(2147483647, 2147483647).has_value());
    // The limit follows the memory available, and never falls below 2^28 pixels.
    setAvailableMemoryForTesting(0);
    EXPECT_FALSE(IndexedSurface::create(1 << 16, 1 << 13).has_value()); // 2^29 pixels
    setAvailableMemoryForTesting(-1);
    // Twenty minutes at 1 msec a column on a 600-row picture, with 19 GiB available.
    EXPECT_GE(surfacePixelLimit(std::int64_t{19} << 30), std::int64_t{1'200'000} * 600);
    const auto none = IndexedSurface::create(-5, 100);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
}

TEST(IndexedSurface, IntersectHandlesDisjointAndExtremeRects) {
    EXPECT_EQ(intersect({0, 0, 10, 10}, {5, 5, 10, 10}), (PixelRect{5, 5, 5, 5}));
    EXPECT_TRUE(intersect({0, 0, 10, 10}, {10, 0, 5, 5}).empty());
    EXPECT_TRUE(intersect({0, 0, 10, 10}, {0, 0, -5, 5}).empty());
    // A rectangle whose right edge would overflow int still clips correctly.
    EXPECT_EQ(intersect({0, 0, 10, 10}, {2, 3, 2147483647, 2147483647}), (PixelRect{2, 3, 8, 7}));
    // One ending exactly at the left edge does not meet it.
    EXPECT_TRUE(intersect({0, 0, 10, 10}, {-2147483647, -5, 2147483647, 8}).empty());
}

TEST(IndexedSurface, FillRectClipsAtEveryEdge) {
    const PixelRect cases[] = {{-3, -3, 5, 5},   {8, -2, 10, 4},       {-5, 4, 7, 20},
                               {6, 5, 100, 100}, {-50, -50, 200, 200}, {3, 2, 0, 4},
                               {3, 2, 4, -1},    {12, 0, 4, 4},        {0, 9, 4, 4}};
    for (const PixelRect& r : cases) {
        IndexedSurface s(12, 9, 0);
        s.fillRect(r, 5);
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 12; ++x) {
                ASSERT_EQ(*s.pixel(x, y), r.contains(x, y) ? 5 : 0)
                    << "rect " << r.x << "," << r.y << " " << r.width << "x" << r.height;
            }
        }
    }
}

TEST(IndexedSurface, PolylineJointsAreSetOnceAndCoverTheWholePath) {
    IndexedSurface s(20, 20, 0);
    s.moveTo({2, 2});
    s.lineTo({10, 2}, {1, 1});
    s.lineTo({10, 9}, {1, 1});
    EXPECT_EQ(s.position(), (PixelPoint{10, 9}));
    const auto pixels = setPixels(s, 1);
    EXPECT_EQ(pixels.size(), 8u + 7u);
    EXPECT_TRUE(pixels.count({10, 2}));
    EXPECT_FALSE(pixels.count({10, 9}));
}

// Any one-pixel line: one pixel per step of the longer axis, each within half a pixel of the
// ideal line, from the start point up to the pixel before the end; a line of no length sets none.
TEST(IndexedSurface, OnePixelLinesFollowTheIdealLine) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(0, 39);
    for (int trial = 0; trial < 300; ++trial) {
        const PixelPoint a{coord(rng), coord(rng)};
        const PixelPoint b = trial == 0 ? a : PixelPoint{coord(rng), coord(rng)};
        IndexedSurface s(40, 40, 0);
        s.drawLine(a, b, {1, 1});
        const auto pixels = setPixels(s, 1);
        const int dx = b.x - a.x;
        const int dy = b.y - a.y;
        const int steps = std::max(std::abs(dx), std::abs(dy));
        ASSERT_EQ(static_cast<int>(pixels.size()), steps);
        if (steps == 0) {
            continue;
        }
        EXPECT_TRUE(pixels.count({a.x, a.y}));
        EXPECT_FALSE(pixels.count({b.x, b.y}));
        const bool xMajor = std::abs(dx) >= std::abs(dy);
        for (auto [x, y] : pixels) {
            // Between the ends along the major axis, and near the ideal line along the minor.
            const int major = xMajor ? x - a.x : y - a.y;
            EXPECT_LE(std::abs(major) + std::abs(major - (xMajor ? dx : dy)), steps);
            const double ideal = xMajor ? a.y + static_cast<double>(x - a.x) * dy / dx
                                        : a.x + static_cast<double>(y - a.y) * dx / dy;
            EXPECT_LE(std::abs((xMajor ? y : x) - ideal), 0.5 + 1e-9);
        }
    }
}

TEST(IndexedSurface, WidePensCoverASquareAroundEveryPointEndIncluded) {
    IndexedSurface s(30, 30, 0);
    s.drawLine({15, 4}, {15, 20}, {2, 7});
    // A 7-wide vertical line covers x - 3 .. x + 3, rows 4 - 3 .. 20 + 3.
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 30; ++x) {
            const bool inside = x >= 12 && x <= 18 && y >= 1 && y <= 23;
            ASSERT_EQ(*s.pixel(x, y), inside ? 2 : 0) << x << "," << y;
        }
    }
    IndexedSurface two(10, 10, 0);
    two.drawLine({2, 5}, {6, 5}, {4, 2});
    // A 2-wide pen covers the point and the pixel before it on each axis.
    EXPECT_EQ(setPixels(two, 4).size(), 6u * 2u);
    EXPECT_TRUE(two.pixel(1, 4) == 4 && two.pixel(6, 5) == 4);
    EXPECT_EQ(*two.pixel(7, 5), 0);
    EXPECT_EQ(*two.pixel(2, 6), 0);
}

// A line clipped by the surface sets exactly the pixels the unclipped line sets there.
TEST(IndexedSurface, LinesClipAtEveryEdgeLikeTheUnclippedLine) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-25, 45);
    std::uniform_int_distribution<int> widths(1, 7);
    constexpr int margin = 40;
    for (int trial = 0; trial < 400; ++trial) {
        const PixelPoint a{coord(rng), coord(rng)};
        const PixelPoint b{coord(rng), coord(rng)};
        const Pen pen{9, widths(rng)};
        IndexedSurface small(20, 16, 0);
        small.drawLine(a, b, pen);
        IndexedSurface big(20 + 2 * margin, 16 + 2 * margin, 0);
        big.drawLine({a.x + margin, a.y + margin}, {b.x + margin, b.y + margin}, pen);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 20; ++x) {
                ASSERT_EQ(small.pixel(x, y), big.pixel(x + margin, y + margin)) << x << "," << y;
            }
        }
    }
    // Far-away coordinates neither write nor overflow.
    IndexedSurface s(8, 8, 0);
    s.drawLine({-2000000000, 3}, {-1999999990, 5}, {1, 3});
    s.drawLine({2000000000, 2000000000}, {2000000010, 2000000000}, {1, 3});
    EXPECT_TRUE(setPixels(s, 1).empty());
}

// The naive copy: every destination pixel whose source lies inside both surfaces.
IndexedSurface referenceCopy(const IndexedSurface& dst, const IndexedSurface& src, PixelRect r,
                             PixelPoint to) {
    IndexedSurface out = dst;
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width; ++x) {
            const auto v = src.pixel(r.x + x, r.y + y);
            if (v && out.contains(to.x + x, to.y + y)) {
                out.setPixel(to.x + x, to.y + y, *v);
            }
        }
    }
    return out;
}

// From another surface, or within one (mostly overlapping) as through a temporary, clipped at
// both.
TEST(IndexedSurface, CopyClipsSourceAndDestinationLikeANaiveCopy) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> pos[] = {std::uniform_int_distribution<int>(-20, 30),
                                                std::uniform_int_distribution<int>(-6, 20)};
    std::uniform_int_distribution<int> size[] = {std::uniform_int_distribution<int>(-2, 30),
                                                 std::uniform_int_distribution<int>(1, 20)};
    const IndexedSurface src = patterned(17, 13, 1);
    for (int trial = 0; trial < 800; ++trial) {
        const int within = trial % 2;
        auto& p = pos[within];
        const PixelRect r{p(rng), p(rng), size[within](rng), size[within](rng)};
        const PixelPoint to{p(rng), p(rng)};
        IndexedSurface dst = within ? patterned(16, 14, 2) : IndexedSurface(19, 11, 250);
        const IndexedSurface snapshot = dst;
        const IndexedSurface expected = referenceCopy(dst, within ? snapshot : src, r, to);
        dst.copyFrom(within ? dst : src, r, to);
        expectSame(dst, expected);
    }
}

// Each destination pixel takes the source pixel under its centre: whole factors repeat and
// skip pixels (6 x 4 to 12 x 12 and to 3 x 2 first), any other rectangles clip.
TEST(IndexedSurface, StretchClipsLikeANaiveCentreSampler) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> pos(-10, 20);
    std::uniform_int_distribution<int> size(1, 30);
    const IndexedSurface src = patterned(15, 12, 4);
    for (int trial = 0; trial < 300; ++trial) {
        const PixelRect from =
            trial < 2 ? PixelRect{0, 0, 6, 4} : PixelRect{pos(rng), pos(rng), size(rng), size(rng)};
        const PixelRect to = trial == 0   ? PixelRect{0, 0, 12, 12}
                             : trial == 1 ? PixelRect{0, 0, 3, 2}
                                          : PixelRect{pos(rng), pos(rng), size(rng), size(rng)};
        IndexedSurface dst(18, 16, 251);
        IndexedSurface expected = dst;
        for (int y = to.y; y < to.bottom(); ++y) {
            for (int x = to.x; x < to.right(); ++x) {
                const int sx =
                    from.x + static_cast<int>(std::floor((x - to.x + 0.5) * from.width / to.width));
                const int sy = from.y + static_cast<int>(
                                            std::floor((y - to.y + 0.5) * from.height / to.height));
                const auto v = src.pixel(sx, sy);
                if (v) {
                    expected.setPixel(x, y, *v);
                }
            }
        }
        dst.stretchFrom(src, from, to);
        expectSame(dst, expected);
    }
    IndexedSurface untouched = patterned(5, 5);
    const IndexedSurface before = untouched;
    untouched.stretchFrom(src, {0, 0, 0, 5}, {0, 0, 5, 5});
    untouched.stretchFrom(src, {0, 0, 5, 5}, {0, 0, 5, -5});
    expectSame(untouched, before);
}

TEST(IndexedSurface, ScrollMovesInsideTheAreaAndFillsWhatItUncovers) {
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> pos(-5, 18);
    std::uniform_int_distribution<int> size(0, 25);
    std::uniform_int_distribution<int> shift(-30, 30);
    for (int trial = 0; trial < 400; ++trial) {
        IndexedSurface s = patterned(16, 10, 5);
        const IndexedSurface before = s;
        const PixelRect area{pos(rng), pos(rng), size(rng), size(rng)};
        const int dx = shift(rng);
        const bool fill = trial % 2 == 0;
        const PixelRect a = intersect(area, s.bounds());
        IndexedSurface expected = before;
        for (int y = a.y; y < a.bottom(); ++y) {
            for (int x = a.x; x < a.right(); ++x) {
                const int from = x - dx;
                if (from >= a.x && from < a.right()) {
                    expected.setPixel(x, y, *before.pixel(from, y));
                } else if (fill) {
                    expected.setPixel(x, y, 77);
                }
            }
        }
        s.scrollHorizontally(area, dx, fill ? std::optional<std::uint8_t>(77) : std::nullopt);
        expectSame(s, expected);
    }
}

TEST(IndexedSurface, SurfacesAreValuesThatMove) {
    IndexedSurface a = patterned(4, 4);
    IndexedSurface b = std::move(a);
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(*b.pixel(1, 1), (7 + 31) & 0xff);
    IndexedSurface c = b;
    c.setPixel(0, 0, 200);
    EXPECT_NE(*b.pixel(0, 0), 200);
}

} // namespace
} // namespace korv
