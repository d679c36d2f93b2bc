#include "display/plot_layout.h"

#include <gtest/gtest.h>

#include <tuple>

namespace korv {
namespace {

// The window's frame 8 pixels wider and 40 taller, on a 768-line screen with 20-pixel captions.
LayoutInputs inputs(int clientWidth, int clientHeight, int charWidth, int charHeight) {
    return {clientWidth,       clientHeight, clientWidth + 8,
            clientHeight + 40, 768,          20,
            charWidth,         charHeight,   {}};
}

TEST(PlotLayout, AreasAndButtonsFollowTheClientAndTheFont) {
    for (const auto& [w, h, cw, ch] :
         {std::tuple{800, 560, 7, 16}, std::tuple{1264, 900, 6, 14}, std::tuple{625, 430, 5, 13}}) {
        const PlotLayout l = computePlotLayout(inputs(w, h, cw, ch));
        SCOPED_TRACE(w);
        EXPECT_EQ(l.scrollBarThickness, 15);
        EXPECT_EQ(l.plotHeight + 7 * ch, h);
        EXPECT_EQ(l.plotWidth + l.scrollBarThickness, w);
        EXPECT_EQ(l.topBand, 64);
        EXPECT_EQ(l.buttonHeight, ch * 4 / 3);
        EXPECT_EQ(l.plotColumnCount, w * 7 / 16);
        EXPECT_FLOAT_EQ(l.plotVerticalScale, static_cast<float>(h - 4 * ch) / 300.0f);
        // The block: three rows, PLAY and PLAY WDW side by side over GRID and PEAK HOLD,
        // STOP across the bottom, the block centred on the panel below the scroll bar.
        const ButtonBlock& b = l.buttons;
        EXPECT_EQ(b.playWindow.x, b.play.x + b.play.width);
        EXPECT_EQ(b.peakHold.x, b.grid.x + b.grid.width);
        EXPECT_EQ(b.grid.y, b.play.y + l.buttonHeight);
        EXPECT_EQ(b.stop.y, b.grid.y + l.buttonHeight);
        EXPECT_EQ(b.stop.width, b.play.width + b.playWindow.width);
        EXPECT_EQ(b.play.x, 3 * ((w - 112 * cw) / 4) + 82 * cw);
        const int panelTop = l.plotHeight + l.scrollBarThickness;
        const int centre = panelTop + (h - panelTop) / 2;
        EXPECT_NEAR(b.play.y + (3 * l.buttonHeight) / 2, centre + 1, 1);
    }
}

TEST(PlotLayout, ControlFontRoundsLikeMulDiv) {
    EXPECT_EQ(controlFontHeight(768, 96), 14);  // 13.65
    EXPECT_EQ(controlFontHeight(600, 96), 11);  // 10.67
    EXPECT_EQ(controlFontHeight(1125, 96), 20); // 20.0
    EXPECT_EQ(controlFontHeight(2025, 96), 36); // exactly 36
    EXPECT_EQ(controlFontHeight(675, 100), 13); // 12.5 rounds up
}

// {pos, max, scrollable}
std::tuple<int, int, bool> fields(const HScrollState& s) {
    return {s.pos, s.max, s.scrollable};
}

TEST(HorizontalScroll, RangesKeepTheFractionAndFollowTheDrawnColumn) {
    // Mono: the range starts one column past the view.
    EXPECT_FALSE(computeHScroll(700, 700, false, {}, 0, false).scrollable);
    EXPECT_EQ(fields(computeHScroll(701, 700, false, {}, 0, false)), std::tuple(0, 1, true));
    const HScrollState old{500, 1000, true};
    EXPECT_EQ(fields(computeHScroll(2700, 700, false, old, 0, false)),
              std::tuple(1000, 2000, true));
    EXPECT_EQ(computeHScroll(2700, 700, false, old, 900, true).pos, 200);
    EXPECT_EQ(computeHScroll(2700, 700, false, old, 100, true).pos, 0);
    // Dual stereo, plotWidth 700: a pane shows 347 columns; the range is measured against 353.
    EXPECT_FALSE(computeHScroll(347, 700, true, {}, 0, false).scrollable);
    EXPECT_EQ(fields(computeHScroll(1000, 700, true, {}, 0, false)),
              std::tuple(0, 1000 - 350 - 3, true));
    EXPECT_EQ(computeHScroll(1000, 700, true, {}, 500, true).pos, 500 - 353);
    // Just wider than a pane: scrollable, with an empty range.
    EXPECT_EQ(fields(computeHScroll(350, 700, true, {}, 0, false)), std::tuple(0, 0, true));
}

// The line and page steps forward and both clamps, on either bar: the window's
// MainWindowTest.LayoutPlacesTheControlsAResizeRepeatsTheAnalysisAndTheBarsScroll.
TEST(HorizontalScroll, StepsClampToTheRange) {
    EXPECT_EQ(stepScroll(10, 1000, ScrollAction::PageBack, 4, 100, 0), 0);
    EXPECT_EQ(stepScroll(10, 1000, ScrollAction::Thumb, 4, 100, 1234), 1000);
    EXPECT_EQ(stepScroll(10, 1000, ScrollAction::Other, 4, 100, 77), 10);
    // The level bar: 0 at the top is -15, 30 at the bottom is 15.
    EXPECT_EQ(stepScroll(6, kLevelPositionMax, ScrollAction::LineBack, 1, 5, 0) - kLevelScaleOffset,
              -10);
}

} // namespace
} // namespace korv
