// The view's drawing lists painted on a real window store: the grid crosses, the panels and
// the readouts land on the pixels the lists name, in the palette's colours.

#include "display/palette.h"
#include "display/readouts.h"
#include "display/view_draw.h"
#include "platform/fonts.h"
#include "platform/palette_display.h"
#include "platform/window_surface.h"

#include "core/view_geometry_fixture.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace korv {
namespace {

constexpr std::uint8_t kFillIndex = 100; // a gradient entry under the grid

struct Fixture {
    PaletteDisplay palette;
    LogicalPalette logical = buildLogicalPalette(kCbPalette);
    std::optional<WindowSurface> window;
    PanelBoxes boxes = panelBoxes({1000, 560, 400, 15, 8, 16, {}});
    // Crosses at x 200, 400, 600 (10 msec a column) and y 339, 279, 219, 159, 99 (0 .. 6 kHz).
    ViewGeometry g = test::view800x400(10.0f);
    QFont font = programFont(16);

    Fixture() {
        g.infoPanel = boxes.infoPanel;
        g.readoutBox = boxes.readoutBox;
        palette.setLogicalPalette(logical);
        window.emplace(palette);
        window->resize(1000, 560);
        window->fillRect(window->bounds(), kFillIndex);
    }
    QRgb at(int x, int y) const { return window->pixel(x, y).value_or(0x123456) & 0xffffff; }
    QRgb colour(std::uint8_t index) const { return palette.colour(index) & 0xffffff; }
};

int countPixels(const Fixture& f, const PixelRect& r, QRgb colour) {
    int n = 0;
    for (int y = r.y; y < r.bottom(); ++y) {
        for (int x = r.x; x < r.right(); ++x) {
            n += f.at(x, y) == colour ? 1 : 0;
        }
    }
    return n;
}

TEST(ViewDraw, GridCrossesInTextColourWithTheirShadows) {
    Fixture f;
    PictureScales scales;
    scales.crosses = true;
    drawPictureScales(*f.window, f.g, f.font, scales);
    const QRgb text = f.colour(static_cast<std::uint8_t>(kTextIndex));
    const QRgb background = f.colour(static_cast<std::uint8_t>(kBackgroundIndex));
    const QRgb under = f.colour(kFillIndex);
    for (const int x : {200, 400, 600}) {
        for (const int y : {339, 279, 219, 159, 99}) {
            EXPECT_EQ(f.at(x, y), text) << x << "," << y;
            // Arms of five pixels each way.
            for (const auto& [dx, dy] : {std::pair{-5, 0}, {5, 0}, {0, -5}, {0, 5}}) {
                EXPECT_EQ(f.at(x + dx, y + dy), text) << x << "," << y << " " << dx << "," << dy;
                EXPECT_EQ(f.at(x + dx * 6 / 5, y + dy * 6 / 5), under);
            }
            // The shadow's arm reaches one pixel further right and lower.
            EXPECT_EQ(f.at(x + 6, y + 1), background);
            EXPECT_EQ(f.at(x + 1, y + 6), background);
            // Shadows first: the arms lie over the other arm's shadow.
            EXPECT_EQ(f.at(x + 1, y), text);
            EXPECT_EQ(f.at(x, y + 1), text);
        }
    }
    // Between the crosses the picture is untouched.
    EXPECT_EQ(f.at(300, 309), under);
    // Labels: the "2 sec" label one text line above the bottom has text pixels.
    EXPECT_GT(countPixels(f, {200 - 8, 400 - 16, 60, 16}, text), 0);
}

TEST(ViewDraw, PanelsAreSunkenBoxesWithBlackText) {
    Fixture f;
    drawInfoPanel(*f.window, f.g, f.font, {0, 6000, DisplayChannels::Mono, 44100, 5000, {}});
    const PixelRect& box = f.g.infoPanel;
    EXPECT_EQ(f.at(box.x, box.y), f.colour(kSysBlack));
    EXPECT_EQ(f.at(box.x, box.bottom() - 2), f.colour(kSysBlack));
    EXPECT_EQ(f.at(box.right() - 1, box.y + 2), f.colour(kSysWhite));
    EXPECT_EQ(f.at(box.x + 2, box.bottom() - 1), f.colour(kSysWhite));
    EXPECT_EQ(f.at(box.right() - 3, box.y + 2), f.colour(kSys3dFace));
    const PixelRect inner{box.x + 1, box.y + 1, box.width - 2, box.height - 2};
    EXPECT_GT(countPixels(f, inner, f.colour(kSysBlack)), 100);
    EXPECT_EQ(f.at(box.x - 1, box.y), f.colour(kFillIndex)); // nothing outside

    // The readouts, redrawn whole while recording: a red title inside the readout box.
    const ReadoutPoint p{.inside = true, .absoluteColumn = 10, .y = 339};
    drawReadouts(*f.window, f.g, f.font, readoutTexts(f.g, {.recording = true}, p), true);
    const PixelRect& r = f.g.readoutBox;
    EXPECT_EQ(f.at(r.x, r.y), f.colour(kSysBlack));
    const PixelRect titleLine{r.x + 1, r.y + 1, r.width - 2, 4 + 16};
    EXPECT_GT(countPixels(f, titleLine, f.colour(kSysRed)), 20);
    EXPECT_EQ(countPixels(f, titleLine, f.colour(kSysBlack)), 0);
}

TEST(ViewDraw, TimeLabelsOfALongFileNeverOverlap) {
    // Twenty minutes into a file, at the finest scales of each tick interval, in the fonts of
    // small and large screens: each drawn label ends before the next one begins.
    Fixture f;
    f.g.segmentOffsetMsec = 1200000.0;
    f.g.plotWidth = 1600;
    for (const int pixels : {11, 14, 20, 36}) {
        const QFont font = programFont(pixels);
        const QFontMetrics metrics(font);
        f.g.charWidth = averageCharWidth(font);
        f.g.charHeight = metrics.height();
        for (const float ts : {1.0f, 1.1f, 2.0f, 3.0f, 5.0f, 8.0f, 10.0f}) {
            f.g.timeScaleMsec = ts;
            std::vector<ViewText> labels;
            for (const ViewText& t :
                 gridOverlay(f.g, font, GridTarget::Window, 0, false).labels.texts) {
                if (t.topLeft.y == f.g.plotHeight - f.g.charHeight) {
                    labels.push_back(t);
                }
            }
            ASSERT_GE(labels.size(), 2U) << pixels << " px, " << ts << " msec";
            for (std::size_t i = 1; i < labels.size(); ++i) {
                const int end =
                    labels[i - 1].topLeft.x +
                    metrics.horizontalAdvance(QString::fromStdString(labels[i - 1].text));
                EXPECT_LT(end, labels[i].topLeft.x)
                    << pixels << " px, " << ts << " msec: " << labels[i - 1].text << " | "
                    << labels[i].text;
            }
        }
    }
}

} // namespace
} // namespace korv
