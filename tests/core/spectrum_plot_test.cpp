// The spectrum plot drawn into an indexed image: where a level lands, the curve styles, the
// delta plot types, the markers and pitch line, the labels, the complete redraw; and the pitch
// display's helpers for the scrolling image.

#include "analysis/parameters.h"
#include "display/palette.h"
#include "display/pitch_display.h"
#include "display/spectrum_plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <tuple>
#include <vector>

using namespace korv;

namespace {

constexpr int W = 640;
constexpr int H = 400;
constexpr int CW = 8;
constexpr int LH = 16;
constexpr int POINTS = 200; // plotLeft 120, baseline 368, one pixel per plot unit
using S = FrequencyScale;

ScopeOptions options(PlotType plotType = PlotType::Signal,
                     DisplayType display = DisplayType::LinePlot, DbRange dbScale = DbRange::Db60) {
    return {.displayType = display,
            .plotType = plotType,
            .dbRange = dbScale,
            .axis = {FrequencyScale::Linear, 0.0, 6000.0}};
}

// A plot and its image, given a first step when its levels are given.
struct Plot {
    explicit Plot(const ScopeOptions& o, float unitScale = 1.0f)
        : view(scopeGeometry(W, H, unitScale, CW, LH, POINTS), o), image(W, H, kBackgroundIndex) {}
    Plot(const ScopeOptions& o, const std::vector<std::int16_t>& first,
         const std::vector<std::int16_t>& second = {}, float unitScale = 1.0f)
        : Plot(o, unitScale) {
        (void)view.refresh(image, first, second);
    }
    ScopeView view;
    IndexedSurface image;
};

std::vector<std::int16_t> levels(std::int16_t floor, int point = -1, std::int16_t at = 0) {
    std::vector<std::int16_t> v(POINTS, floor);
    if (point >= 0) {
        v[static_cast<std::size_t>(point)] = at;
    }
    return v;
}

int x(int point) {
    return 120 + 2 * point;
}
constexpr int BASELINE = 368;

// The topmost pixel of a palette index in column x, if any.
std::optional<int> topOf(const IndexedSurface& s, int px, int index) {
    for (int y = 0; y < s.height(); ++y) {
        if (s.pixel(px, y) == index) {
            return y;
        }
    }
    return std::nullopt;
}
long countOf(const IndexedSurface& s, int index) {
    return std::ranges::count(s.pixels(), static_cast<std::uint8_t>(index));
}

} // namespace

TEST(SpectrumPlot, GeometryAndLevelHeights) {
    // The plot's left edge at 120 and its baseline: where every test here finds its points.
    // Too many points for the width: the level labels keep their room on the left.
    EXPECT_EQ(scopeGeometry(300, H, 1.0f, CW, LH, POINTS).plotLeft, 9 * CW / 2);
    // {level, range, offset, plot units}: each range's top and bottom, and Peak Delta holding.
    const long cases[][4] = {{360, 60, 0, 240},   {120, 60, 0, 0},   {360, 90, 0, 240},
                             {0, 90, 0, 0},       {240, 30, 0, 240}, {120, 30, 0, 0},
                             {240, 60, -30, 240}, {0, 60, -30, 0},   {180, 30, 0, 120}};
    for (const auto& c : cases) {
        EXPECT_EQ(plotUnits(c[0], static_cast<int>(c[1]), static_cast<int>(c[2])), c[3])
            << c[0] << " at " << c[1] << " dB";
    }
}

TEST(SpectrumPlot, APeakDrawsAtItsColumnAndHeightAsLineOrBars) {
    // {dB scale, level of the top of the range}
    const std::pair<DbRange, std::int16_t> ranges[] = {
        {DbRange::Db30, 240}, {DbRange::Db60, 360}, {DbRange::Db90, 360}};
    for (const auto& [scale, top] : ranges) {
        for (const DisplayType display : {DisplayType::LinePlot, DisplayType::BarPlot}) {
            Plot p(options(PlotType::Signal, display, scale), levels(-400, 50, top));
            SCOPED_TRACE(testing::Message()
                         << static_cast<int>(scale) << " " << static_cast<int>(display));
            // The top of the plot, and no pixel of the curve anywhere above it (a bar, as a
            // line, leaves out its end point).
            const int barTop = display == DisplayType::BarPlot ? 1 : 0;
            EXPECT_EQ(topOf(p.image, x(50), kSignal2Index), BASELINE - 240 + barTop);
            for (int px = 0; px < W; ++px) {
                const auto highest = topOf(p.image, px, kSignal2Index);
                EXPECT_TRUE(!highest || *highest >= BASELINE - 240) << px;
            }
            if (display == DisplayType::BarPlot) {
                // One bar of 240 pixels; the levels below the range stand on the baseline.
                EXPECT_EQ(countOf(p.image, kSignal2Index), 240);
                EXPECT_EQ(p.image.pixel(x(50), BASELINE), kSignal2Index);
                EXPECT_EQ(p.image.pixel(x(50) + 1, BASELINE - 100), kBackgroundIndex);
            } else {
                // The line runs along the baseline and up to the peak and back.
                EXPECT_EQ(p.image.pixel(x(10), BASELINE), kSignal2Index);
                EXPECT_EQ(p.image.pixel(x(49) + 1, BASELINE - 120), kSignal2Index);
            }
            EXPECT_FLOAT_EQ(p.view.levelDb()[50], top);
        }
    }
    // Levels far above the range are held at the top of the plot area, never off the image.
    Plot loud(options(PlotType::Signal, DisplayType::BarPlot), levels(-400, 7, 32000), {}, 2.0f);
    EXPECT_EQ(topOf(loud.image, x(7), kSignal2Index), LH + 1);
}

TEST(SpectrumPlot, PeakHoldKeepsTheHighestAndTheNextStepErases) {
    ScopeOptions o = options();
    o.levelScaleCode = -3;
    Plot p(o);
    p.view.setPeakHold(true);
    (void)p.view.refresh(p.image, levels(120, 50, 360), {});
    (void)p.view.refresh(p.image, levels(120), {});
    EXPECT_EQ(topOf(p.image, x(50), kSignal2Index), BASELINE); // the curve moved down
    EXPECT_EQ(topOf(p.image, x(50), kFreqMarkIndex), BASELINE - 240);
    EXPECT_EQ(p.view.peak()[50], 240);
    EXPECT_FLOAT_EQ(p.view.peakDb()[50], 360 - 12);
    EXPECT_FLOAT_EQ(p.view.levelDb()[50], 120 - 12);
    // Switching it on again starts from nothing.
    p.view.setPeakHold(false);
    p.view.setPeakHold(true);
    EXPECT_EQ(p.view.peak()[50], 0);
    EXPECT_STREQ(p.view.peakButtonLabel(), PEAK_HOLD_LABEL);
}

TEST(SpectrumPlot, PeakDeltaHoldsThenShowsTheDifferenceAtMidHeight) {
    Plot p(options(PlotType::PeakDelta));
    EXPECT_STREQ(p.view.peakButtonLabel(), PEAK_RESET_LABEL);
    p.view.setPeakHold(true);
    ASSERT_TRUE(p.view.peakHeldInDelta());
    // Holding: a Signal plot on -90 .. -30 dB with a visible peak trace and no title.
    ViewDrawing over = p.view.refresh(p.image, levels(120, 50, 240), {});
    EXPECT_EQ(topOf(p.image, x(50), kSignal2Index), BASELINE - 240);
    EXPECT_TRUE(over.texts.empty());
    EXPECT_EQ(p.view.axisLabels().texts.back().text, "-30");
    // Released: the same signal lies flat on the 0 label, 6 dB down lies 24 units below it.
    p.view.setPeakHold(false);
    std::vector<std::int16_t> lower = levels(120, 50, 240);
    lower[60] = static_cast<std::int16_t>(lower[60] - 24);
    over = p.view.refresh(p.image, lower, {});
    EXPECT_EQ(topOf(p.image, x(10), kSignal2Index), BASELINE - 120);
    EXPECT_EQ(p.image.pixel(x(60), BASELINE - 96), kSignal2Index);
    ASSERT_EQ(over.texts.size(), 1u);
    EXPECT_EQ(over.texts[0].text, PEAK_DELTA_TITLE);
    EXPECT_EQ(countOf(p.image, kFreqMarkIndex), 0); // the frozen peak is not drawn
    const ViewDrawing axis = p.view.axisLabels();
    EXPECT_EQ(axis.texts.back().text, "30");
    EXPECT_FALSE(p.view.redraw(p.image)); // delta plots are not redrawn from the levels
}

TEST(SpectrumPlot, LeftMinusRightAndDualChannels) {
    // Equal channels, and mono data, give a flat line at mid-height and no first curve.
    for (const bool stereo : {true, false}) {
        ScopeOptions o = options(PlotType::LrDelta);
        o.stereo = stereo;
        Plot p(o);
        const auto l = levels(200, 30, 300);
        const ViewDrawing over =
            p.view.refresh(p.image, l, stereo ? l : std::vector<std::int16_t>{});
        EXPECT_EQ(countOf(p.image, kSignal2Index), 0);
        for (const int point : {1, 30, 150}) {
            EXPECT_EQ(topOf(p.image, x(point), kSignal1Index), BASELINE - 120) << stereo;
        }
        ASSERT_EQ(over.texts.size(), 1u);
        EXPECT_EQ(over.texts[0].text, LR_DELTA_TITLE);
    }
    // Dual stereo bars interleave: the second channel one pixel right of the first.
    ScopeOptions o = options(PlotType::Signal, DisplayType::BarPlot);
    o.stereo = true;
    Plot p(o, levels(-400, 20, 360), levels(-400, 20, 240));
    EXPECT_FALSE(p.view.peakHoldAvailable());
    EXPECT_EQ(topOf(p.image, x(20), kSignal2Index), BASELINE - 239);
    EXPECT_EQ(topOf(p.image, x(20) + 1, kSignal1Index), BASELINE - 119);
    EXPECT_FLOAT_EQ(p.view.levelDb2()[20], 240);
    // Right alone shows the second channel as the first curve.
    o.channel = StereoChannel::Right;
    Plot r(o, levels(-400, 20, 360), levels(-400, 20, 240));
    EXPECT_TRUE(r.view.peakHoldAvailable());
    EXPECT_EQ(topOf(r.image, x(20), kSignal2Index), BASELINE - 119);
    EXPECT_EQ(countOf(r.image, kSignal1Index), 0);
    // ... and its levels are the right channel's, for the finished plot's redraw and the log.
    EXPECT_FLOAT_EQ(r.view.levelDb()[20], 240);
    ASSERT_TRUE(r.view.redraw(r.image));
    EXPECT_EQ(topOf(r.image, x(20), kSignal2Index), BASELINE - 119);
    EXPECT_EQ(countOf(r.image, kSignal1Index), 0);
    // L-R Delta is left minus right with either channel chosen: 360 - 240 above mid-height.
    const auto deltaTop = [&](StereoChannel channel) {
        ScopeOptions d = options(PlotType::LrDelta);
        d.stereo = true;
        d.channel = channel;
        Plot delta(d, levels(-400, 20, 360), levels(-400, 20, 240));
        return topOf(delta.image, x(20), kSignal1Index);
    };
    const std::optional<int> leftTop = deltaTop(StereoChannel::Left);
    EXPECT_LT(leftTop.value_or(H), BASELINE - 120 - 100);
    EXPECT_EQ(deltaTop(StereoChannel::Right), leftTop);
}

TEST(SpectrumPlot, MarkersAndPitchLineStandAtTheirPoints) {
    // {scale, low, high, marker Hz, expected point or -1 for none}
    const std::tuple<S, double, double, std::int32_t, int> cases[] = {
        {S::Linear, 0, 6000, 1500, 50},      {S::Linear, 0, 6000, 6000, 200},
        {S::Linear, 1000, 6000, 1000, -1},   {S::Linear, 1000, 6000, 500, -1},
        {S::Linear, 0, 6000, 7000, -1},      {S::Log, 100, 10000, 1000, 100},
        {S::ThirdOctave, 10, 10000, 100, 67}};
    for (const auto& [scale, low, high, hz, point] : cases) {
        ScopeOptions o = options();
        o.axis = {scale, low, high};
        Plot bare(o, levels(-400));
        o.marker1Hz = hz;
        Plot p(o, levels(-400));
        SCOPED_TRACE(hz);
        // The markers are in the Text colour, never in the pitch line's Freq Mark colour.
        EXPECT_EQ(countOf(p.image, kFreqMarkIndex), 0);
        const auto added =
            countOf(p.image, kScopeMarkerIndex) - countOf(bare.image, kScopeMarkerIndex);
        // From the baseline up to the top of the plot area.
        EXPECT_EQ(added, point < 0 ? 0 : BASELINE - LH);
        if (point >= 0) {
            EXPECT_EQ(topOf(p.image, x(point), kScopeMarkerIndex), LH + 1);
        }
    }
    // The pitch line follows the voiced steps; its label box is cleared on every step.
    Plot p(options());
    const PixelRect box = plotPitchLabelBox(W, CW, LH);
    PitchShown pitch{true, 3000, 72};
    ViewDrawing over = p.view.refresh(p.image, levels(-400), {}, &pitch);
    EXPECT_EQ(topOf(p.image, x(100), kFreqMarkIndex), LH + 1);
    ASSERT_EQ(over.texts.size(), 1u);
    EXPECT_EQ(over.texts[0].text, "440 Hz  A4");
    EXPECT_EQ(over.texts[0].topLeft, (PixelPoint{box.x, box.y}));
    pitch.voiced = false;
    over = p.view.refresh(p.image, levels(-400), {}, &pitch);
    EXPECT_EQ(countOf(p.image, kFreqMarkIndex), 0);
    EXPECT_TRUE(over.texts.empty());
    ASSERT_EQ(over.fills.size(), 1u);
    EXPECT_EQ(over.fills[0].rect, box);
}

TEST(SpectrumPlot, AxisLabelsReadTheRangeAndNeverOverlap) {
    Plot p(options());
    const ViewDrawing d = p.view.axisLabels();
    std::vector<std::string> texts;
    std::ranges::transform(d.texts, std::back_inserter(texts), &ViewText::text);
    // The level axis names its unit above its top label.
    const std::vector<std::string> expected = {"0",      "1000", "2000", "3000", "4000", "5000",
                                               "6000Hz", "dB",   "-60",  "-40",  "-20",  "0"};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(d.texts[7].topLeft.y, d.texts.back().topLeft.y - LH);
    EXPECT_EQ(d.texts[7].topLeft.x, d.texts.back().topLeft.x);
    // Label k is centred on 120 + k x 1000 x 2 / 30 + 1.
    EXPECT_EQ(d.texts[3].topLeft.x, 120 + 200 + 1 - 16);
    Plot thirty(options(PlotType::Signal, DisplayType::LinePlot, DbRange::Db30));
    EXPECT_EQ(thirty.view.axisLabels().texts.back().text, "-30");

    for (const int width : {160, 300, 640, 1600}) {
        for (const float unit : {0.05f, 0.3f, 1.0f}) {
            for (const ScopeAxis axis : {ScopeAxis{FrequencyScale::Linear, 0, 6000},
                                         ScopeAxis{FrequencyScale::Linear, 20, 22050},
                                         ScopeAxis{FrequencyScale::Log, 100, 10000},
                                         ScopeAxis{FrequencyScale::Log, 5, 22050},
                                         ScopeAxis{FrequencyScale::ThirdOctave, 25.1, 19952}}) {
                ScopeOptions o = options(PlotType::PeakDelta);
                o.axis = axis;
                const ScopeView v(scopeGeometry(width, H, unit, CW, LH, POINTS), o);
                const ViewDrawing labels = v.axisLabels();
                EXPECT_FALSE(labels.texts.empty());
                const auto rectOf = [](const ViewText& t) {
                    return PixelRect{t.topLeft.x, t.topLeft.y, static_cast<int>(t.text.size()) * CW,
                                     LH};
                };
                for (std::size_t i = 0; i < labels.texts.size(); ++i) {
                    const ViewText& a = labels.texts[i];
                    for (std::size_t j = i + 1; j < labels.texts.size(); ++j) {
                        const ViewText& b = labels.texts[j];
                        EXPECT_TRUE(intersect(rectOf(a), rectOf(b)).empty())
                            << width << " " << unit << " " << axis.lowHz << ": '" << a.text
                            << "' and '" << b.text << "'";
                    }
                }
            }
        }
    }
    // The log axis names its divisor at its right end.
    ScopeOptions o = options();
    o.axis = {FrequencyScale::Log, 100, 10000};
    const ScopeView v(scopeGeometry(W, H, 1.0f, CW, LH, POINTS), o);
    EXPECT_EQ(v.axisLabels().texts.front().text, "Hz/100");
}

TEST(SpectrumPlot, CompleteRedrawRepeatsTheLastStepAtTheCurrentLevelBar) {
    for (const DisplayType display : {DisplayType::LinePlot, DisplayType::BarPlot}) {
        ScopeOptions o = options(PlotType::Signal, display);
        o.marker2Hz = 4500;
        o.grid = true;
        Plot p(o);
        p.view.setPeakHold(true);
        (void)p.view.refresh(p.image, levels(130, 70, 300), {});
        (void)p.view.refresh(p.image, levels(140, 90, 330), {});
        IndexedSurface redrawn(W, H, kSignal1Index);
        ASSERT_TRUE(p.view.redraw(redrawn));
        EXPECT_TRUE(std::ranges::equal(p.image.pixels(), redrawn.pixels()))
            << static_cast<int>(display);
        // The level bar two steps up: the curve drops by 8 units.
        o.levelScaleCode = 2;
        p.view.setOptions(o);
        ASSERT_TRUE(p.view.redraw(redrawn));
        EXPECT_EQ(topOf(redrawn, x(90), kSignal2Index),
                  BASELINE - 210 + 8 + (display == DisplayType::BarPlot ? 1 : 0));
        // The grid: crosses over the level rows, shadows first.
        const ViewDrawing grid = p.view.gridCrosses();
        ASSERT_FALSE(grid.lines.empty());
        EXPECT_EQ(grid.lines.front().colour, ViewColour::Background);
        EXPECT_EQ(grid.lines.back().colour, ViewColour::Text);
    }
}

TEST(PitchDisplay, DotRowsAndLabelBoxes) {
    // {scale, low, high, Hz, y or -1}: 300 rows ending at y 399.
    const std::tuple<S, double, double, int, int> cases[] = {
        {S::Linear, 0, 6000, 440, 399 - 22},
        {S::Linear, 0, 6000, 6100, -1},
        {S::Log, 100, 10000, 1000, 399 - 150},
        {S::Log, 100, 10000, 50, -1},
        {S::ThirdOctave, 100, 10000, 1000, -1}};
    for (const auto& [scale, low, high, hz, y] : cases) {
        EXPECT_EQ(scrollRowY(FrequencyAxis(scale, low, high, 300), 400, hz).value_or(-1), y) << hz;
    }
    EXPECT_EQ(scrollPitchLabelBox(800, 40, CW, LH, false), (PixelRect{800 - 144, 56, 144, LH}));
    EXPECT_EQ(scrollPitchLabelBox(800, 40, CW, LH, true), (PixelRect{397 - 120, 56, 144, LH}));
    const ViewDrawing label = pitchLabelDrawing({10, 20, 144, LH}, 73);
    ASSERT_EQ(label.texts.size(), 1u);
    EXPECT_EQ(label.texts[0].text, "452 Hz  A4  ^");
}
