// The grid overlay's ticks, checked against the tick rules worked out by hand here and
// against the frequency the readouts give for a tick's row.

#include "analysis/frequency_scale.h"
#include "analysis/parameters.h"
#include "display/grid_overlay.h"
#include "display/info_panel.h"

#include "core/view_geometry_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace korv;

namespace {

constexpr int CW = 8;  // character width used throughout
constexpr int TH = 16; // text height

TimeAxisInputs axis(double ts, int width, double t0 = 0.0, bool dual = false) {
    return {ts, ts, width, t0, CW, dual, {}};
}

} // namespace

// The interval is the candidate nearest a fifth of the view's time from 8 msec per column up;
// below, 100 msec at 1 msec, 200 above 1 up to 3 and 500 above 3. Tick k stands at k x the
// interval / ts, truncated, up to the view's right edge. {ts, width, interval, tick, its label}
TEST(TimeTicks, WholeIntervalsAtTheirTruncatedColumnFromTheNearestCandidate) {
    const std::tuple<double, int, long long, std::size_t, const char*> cases[] = {
        {10.0, 800, 2000, 1, "2   sec"},   {20.0, 800, 2000, 5, "10  sec"},
        {125.0, 640, 20000, 2, "40  sec"}, {4.0, 800, 500, 1, "0.5 sec"},
        {4.0, 800, 500, 2, "1.0 sec"},     {1.0, 800, 100, 1, "0.1 sec"},
        {2.5, 800, 200, 1, "0.2 sec"},     {3.5, 800, 500, 1, "0.5 sec"},
        {8.0, 800, 1000, 1, "1   sec"},    {3.0, 200, 200, 1, "0.2 sec"}};
    for (const auto& [ts, width, interval, tick, label] : cases) {
        SCOPED_TRACE(testing::Message() << ts << " msec over " << width);
        const std::vector<TimeTick> ticks = timeTicks(axis(ts, width));
        ASSERT_EQ(static_cast<long long>(ticks.size()),
                  static_cast<long long>(width * ts) / interval + 1);
        for (std::size_t k = 0; k < ticks.size(); ++k) {
            const long long msec = static_cast<long long>(k) * interval;
            EXPECT_EQ(ticks[k].msec, msec);
            EXPECT_EQ(ticks[k].x, static_cast<int>(static_cast<double>(msec) / ts));
            // Tenths are labelled three character widths left of the tick, whole seconds one;
            // labels only strictly between 10 and (width - 8) character widths.
            EXPECT_EQ(ticks[k].labelX, ticks[k].x - (interval < 1000 ? 3 : 1) * CW);
            EXPECT_EQ(ticks[k].inLimits, ticks[k].x > 10 * CW && ticks[k].x < width - 8 * CW);
        }
        EXPECT_EQ(ticks[tick].label, label);
    }

    // The nearest candidate; on a tie (1.5 between 1 and 2, 7.5 between 5 and 10) the first. A
    // 192 kHz recording's band (96 kHz) in steps of 20 kHz.
    const std::pair<double, long> candidates[] = {{1.6, 2},         {1200.0, 1000}, {1.5, 1},
                                                  {7.5, 5},         {750.0, 500},   {0.0, 1},
                                                  {19200.0, 20000}, {1e9, 100000}};
    for (const auto& [value, nearest] : candidates) {
        EXPECT_EQ(nearestGridCandidate(value), nearest) << value;
    }
}

TEST(TimeTicks, SitOnWholeIntervalsWhereverTheViewStarts) {
    // Scrolled 30 columns at 4 msec: the 0 s tick is 30 pixels left of the view, 0.5 s at 95.
    const std::vector<TimeTick> scrolled = timeTicks(axis(4.0, 800, 30.0));
    EXPECT_EQ(std::tuple(scrolled[0].x, scrolled[1].x, scrolled[1].msec), std::tuple(-30, 95, 500));
    // A segment beginning at 1250 msec: 312.5 columns; the last whole interval is 1000 msec,
    // at column 250, that is 62 pixels left of the view.
    const std::vector<TimeTick> offset = timeTicks(axis(4.0, 800, 1250.0 / 4.0));
    EXPECT_EQ(std::tuple(offset[0].x, offset[0].msec, offset[1].label),
              std::tuple(-62, 1000, "1.5 sec"));

    // Any start: each tick is a whole interval, at the column of its time, and the ticks cover
    // the view from its left edge.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> scale(1.0, 60.0);
    std::uniform_int_distribution<int> width(100, 1600);
    std::uniform_real_distribution<double> start(0.0, 50000.0);
    for (int trial = 0; trial < 300; ++trial) {
        const double ts = scale(rng);
        const int w = width(rng);
        const double t0 = start(rng);
        const std::vector<TimeTick> ticks = timeTicks(axis(ts, w, t0));
        ASSERT_FALSE(ticks.empty());
        EXPECT_LE(ticks.front().x, 0);
        EXPECT_GT(ticks.front().x, -(ticks.size() > 1 ? ticks[1].x - ticks[0].x : w) - 1);
        const long long interval = ticks.size() > 1 ? ticks[1].msec - ticks[0].msec : 0;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            const TimeTick& t = ticks[i];
            if (interval > 0) {
                EXPECT_EQ(t.msec % interval, 0);
            }
            // The view column x shows the time (x + t0) * ts; a tick is within two columns of it.
            const double shownMsec = (t.x + std::trunc(t0)) * ts;
            EXPECT_NEAR(shownMsec, static_cast<double>(t.msec), 2.0 * ts)
                << "ts " << ts << " width " << w << " t0 " << t0 << " tick " << i;
        }
    }
}

TEST(FrequencyTicks, LinearStepsNearAFifthOfTheBand) {
    // 0 .. 6000 Hz over 360 rows: every 1000 Hz, 60 rows apart, from the bottom row.
    ViewGeometry g = test::view800x400(10.0f);
    const std::vector<FrequencyTick> ticks = frequencyTicks(g);
    ASSERT_EQ(ticks.size(), 7u);
    for (int j = 0; j < 7; ++j) {
        EXPECT_EQ(ticks[j].hz, 1000 * j);
        EXPECT_EQ(ticks[j].y, 399 - 60 * j);
        // Labelled strictly between S + th = 56 and 400 - 2 th = 368.
        EXPECT_EQ(ticks[j].inLimits, ticks[j].y > 56 && ticks[j].y < 368) << j;
    }
    // With their unit, one for the axis; the tool's bare pictures keep the bare numbers.
    EXPECT_EQ(ticks[1].label, "1 kHz");
    EXPECT_EQ(ticks[0].label, "0 kHz");
    EXPECT_EQ(frequencyTicks(g, AxisLabels::Classic)[1].label, "1000");
    EXPECT_EQ(frequencyTicks(g, AxisLabels::Classic)[0].label, "0   ");

    // 250 .. 3700: 690 is nearest 500; the first label is 500, 3450 / 500 + 1 = 7 ticks.
    g.lowBandHz = 250;
    g.highBandHz = 3700;
    const std::vector<FrequencyTick> offset = frequencyTicks(g);
    ASSERT_EQ(offset.size(), 7u);
    // 250 Hz above the bottom at 3450 / 360 Hz per row: 26.09 rows, y = 400 - 26.09 - 1.
    EXPECT_EQ(std::tuple(offset.front().hz, offset.back().hz, offset.front().y),
              std::tuple(500, 3500, 373));
    EXPECT_EQ(std::tuple(offset.front().label, offset.back().label),
              std::tuple("0.5 kHz", "3.5 kHz"));
    // Below 1 kHz, or in steps finer than 100 Hz, the axis is in Hz.
    g.lowBandHz = 0;
    g.highBandHz = 900;
    EXPECT_EQ(frequencyTicks(g)[1].label, "200 Hz");
    g.lowBandHz = 1000;
    g.highBandHz = 1300;
    EXPECT_EQ(frequencyTicks(g)[1].label, "1050 Hz");

    // A band narrower than 10 Hz steps by 1 Hz; exactly 10 Hz steps by 2.
    g.lowBandHz = 1000;
    g.highBandHz = 1008;
    EXPECT_EQ(frequencyTicks(g).size(), 9u);
    EXPECT_EQ(frequencyTicks(g)[1].hz, 1001);
    g.highBandHz = 1010;
    EXPECT_EQ(frequencyTicks(g)[1].hz, 1002);
    // No band, no ticks.
    g.highBandHz = g.lowBandHz;
    EXPECT_TRUE(frequencyTicks(g).empty());
}

TEST(FrequencyTicks, LinearTicksSitOnTheRowOfTheirFrequency) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> low(0, 5000);
    std::uniform_int_distribution<int> width(10, 20000);
    std::uniform_int_distribution<int> height(150, 1200);
    for (int trial = 0; trial < 200; ++trial) {
        ViewGeometry g = test::view800x400(10.0f);
        g.lowBandHz = low(rng);
        g.highBandHz = g.lowBandHz + width(rng);
        g.plotHeight = height(rng);
        g.stripHeight = g.plotHeight / 12;
        const double hzPerRow = static_cast<double>(g.highBandHz - g.lowBandHz) / g.rows();
        for (const FrequencyTick& t : frequencyTicks(g)) {
            if (!t.inLimits) {
                continue;
            }
            const auto f = rowToFrequency({FrequencyScale::Linear, g.lowBandHz, g.highBandHz,
                                           g.sampleRate, g.fftSize, g.plotHeight, g.rows()},
                                          t.y);
            ASSERT_TRUE(f.has_value());
            EXPECT_NEAR(static_cast<double>(f->frequencyHz), static_cast<double>(t.hz),
                        0.5 * hzPerRow + 1.0);
        }
    }
}

TEST(FrequencyTicks, LogScaleAtTheSeriesOfEachDecade) {
    ViewGeometry g = test::view800x400(10.0f);
    g.frequencyScale = FrequencyScale::Log;
    g.lowBandHz = 100;
    g.highBandHz = 10000;
    const std::vector<FrequencyTick> ticks = frequencyTicks(g);
    ASSERT_EQ(ticks.size(), 25u);
    std::set<long> want;
    for (long d : {1, 10, 100, 1000, 10000}) {
        for (long m : {10, 16, 25, 40, 63}) {
            want.insert(m * d);
        }
    }
    std::set<long> got;
    for (const FrequencyTick& t : ticks) {
        got.insert(t.hz);
        // Two decades over 360 rows: 180 rows per decade above the bottom of the band.
        const double y = 400.0 - std::log10(static_cast<double>(t.hz) / 100.0) * 180.0;
        EXPECT_EQ(t.y, static_cast<int>(y)) << t.hz;
        // Labelled strictly between S + th / 2 = 48 and 400 - 1.5 th = 376.
        EXPECT_EQ(t.inLimits, t.y > 48 && t.y < 376) << t.hz;
        const std::string kHz = t.hz % 1000 == 0 ? std::to_string(t.hz / 1000)
                                                 : std::to_string(t.hz / 1000) + "." +
                                                       std::to_string(t.hz % 1000 / 100);
        EXPECT_EQ(t.label, t.hz < 1000 ? std::to_string(t.hz) + " Hz" : kHz + " kHz");
    }
    for (const FrequencyTick& t : frequencyTicks(g, AxisLabels::Classic)) {
        EXPECT_EQ(t.label, std::to_string(t.hz) + " Hz");
    }
    EXPECT_EQ(got, want);

    // No log axis without a positive low limit; none on the third-octave scale.
    g.lowBandHz = 0;
    EXPECT_TRUE(frequencyTicks(g).empty());
    g.lowBandHz = 100;
    g.frequencyScale = FrequencyScale::ThirdOctave;
    EXPECT_TRUE(frequencyTicks(g).empty());
    // So the grid has no crosses there, only its three time labels.
    const GridOverlay grid = gridOverlay(g, GridTarget::Window, 0, false);
    EXPECT_TRUE(grid.marks.lines.empty());
    EXPECT_EQ(grid.labels.texts.size(), 3u);
}

TEST(GridOverlay, CrossesAtLabelledTicksWithShadowsFirst) {
    const ViewGeometry g = test::view800x400(10.0f); // ts 10: labelled x 200, 400, 600
    const GridOverlay plain = gridOverlay(g, GridTarget::Window, 0, false);
    // 3 labelled times x 5 labelled frequencies (1000 .. 5000), two lines each.
    ASSERT_EQ(plain.marks.lines.size(), 3u * 5u * 2u);
    // Labels: three times one text line above the bottom, five frequencies centred on y.
    ASSERT_EQ(plain.labels.texts.size(), 8u);
    EXPECT_EQ(plain.labels.texts[0].topLeft, (PixelPoint{200 - CW, 400 - TH}));
    EXPECT_EQ(plain.labels.texts[0].text, "2   sec");
    EXPECT_EQ(plain.labels.texts[3].topLeft, (PixelPoint{CW, 339 - TH / 2}));
    EXPECT_EQ(plain.labels.texts[3].text, "1 kHz");
    for (const ViewText& t : plain.labels.texts) {
        EXPECT_EQ(t.colour, ViewColour::Text);
        EXPECT_FALSE(t.background.has_value()); // transparent
    }

    // Shadowed: the same crosses, each after its shadow (where they stand, their arms and
    // shadows: ViewDraw.GridCrossesInTextColourWithTheirShadows), and each label preceded by
    // itself in Background one pixel lower right.
    const GridOverlay shadowed = gridOverlay(g, GridTarget::Window, 0, true);
    std::vector<ViewLine> marks;
    std::ranges::copy_if(shadowed.marks.lines, std::back_inserter(marks),
                         [](const ViewLine& l) { return l.colour != ViewColour::Background; });
    EXPECT_EQ(marks, plain.marks.lines);
    ASSERT_EQ(shadowed.marks.lines.size(), 2 * plain.marks.lines.size());
    ASSERT_EQ(shadowed.labels.texts.size(), 2 * plain.labels.texts.size());
    for (std::size_t i = 0; i < plain.labels.texts.size(); ++i) {
        ViewText shade = plain.labels.texts[i];
        shade.colour = ViewColour::Background;
        shade.topLeft = {shade.topLeft.x + 1, shade.topLeft.y + 1};
        EXPECT_EQ(shadowed.labels.texts[2 * i], shade);
        EXPECT_EQ(shadowed.labels.texts[2 * i + 1], plain.labels.texts[i]);
    }
    const ViewDrawing all = shadowed.all();
    EXPECT_EQ(std::pair(all.lines, all.texts),
              std::pair(shadowed.marks.lines, shadowed.labels.texts));
}

TEST(GridOverlay, DualLayoutRepeatsEveryMarkInTheRightPane) {
    ViewGeometry g = test::view800x400(10.0f);
    g.timeScaleMsec = 1.0f; // ticks every 100 pixels; left pane labels at 100, 200, 300
    g.columnMsec = 1.0;
    g.dualStereo = true;
    const GridOverlay dual = gridOverlay(g, GridTarget::Window, 0, false);
    // The left pane's marks moved by the offset are the right pane's.
    const int offset = 800 / 2 + 4;
    std::multiset<std::pair<int, int>> left;
    std::multiset<std::pair<int, int>> right;
    for (const ViewLine& l : dual.marks.lines) {
        (l.from.x < 400 ? left : right)
            .insert({l.from.x + (l.from.x < 400 ? offset : 0), l.from.y});
    }
    EXPECT_EQ(right, left);
    EXPECT_EQ(left.size(), 3u * 5u * 2u);
    // Time labels under 100, 200 and 300 in each pane (the left pane's labels end at its right
    // edge less 8 character widths, 333: not under 400), five frequency labels at one character
    // width in each.
    std::vector<PixelPoint> timeLabels;
    std::multiset<int> frequencyLabels;
    for (const ViewText& t : dual.labels.texts) {
        if (t.text.find("sec") != std::string::npos) {
            timeLabels.push_back(t.topLeft);
        } else {
            frequencyLabels.insert(t.topLeft.x);
        }
    }
    // Three character widths left of the tick, one text line above the bottom: x - 24 (+ 404).
    EXPECT_EQ(timeLabels,
              (std::vector<PixelPoint>{
                  {76, 384}, {176, 384}, {276, 384}, {480, 384}, {580, 384}, {680, 384}}));
    EXPECT_EQ(frequencyLabels, (std::multiset<int>{CW, CW, CW, CW, CW, CW + offset, CW + offset,
                                                   CW + offset, CW + offset, CW + offset}));
}

TEST(GridOverlay, ImageModeCoversTheWholeImageFromItsFirstColumn) {
    ViewGeometry g = test::view800x400(10.0f);
    g.hScrollPos = 150; // ignored over a whole image
    g.dualStereo = true;
    const GridOverlay image = gridOverlay(g, GridTarget::Image, 2000, false);
    // ts 10 over 2000 columns: 20 s, 5 s is nearest 4: every 500 pixels, labelled 500 .. 1500.
    std::set<int> xsSeen;
    for (const ViewLine& l : image.marks.lines) {
        if (l.from.y == l.to.y) {
            xsSeen.insert(l.from.x + GRID_CROSS_ARM);
        }
    }
    EXPECT_EQ(xsSeen, (std::set<int>{500, 1000, 1500}));

    // In the window the scroll position moves the ticks: 150 columns at 10 msec = 1.5 s, so the
    // 2 s tick is 50 pixels into the view (too near the edge for a label), the 4 s one at 250.
    g.dualStereo = false;
    const GridOverlay scrolled = gridOverlay(g, GridTarget::Window, 0, false);
    EXPECT_EQ(scrolled.labels.texts[0].text, "4   sec");
    EXPECT_EQ(scrolled.labels.texts[0].topLeft.x, 250 - CW);
}

TEST(InfoPanel, FourLinesOfBandChannelsRateAndLength) {
    ViewGeometry g = test::view800x400(10.0f);
    g.infoPanel = {20, 430, 38 * CW, TH * 9 / 2};
    InfoPanelInputs in{0, 6000, DisplayChannels::Dual, 44100, 123456, {}};
    const ViewDrawing d = infoPanel(g, in);
    ASSERT_EQ(d.texts.size(), 8u);
    const std::vector<std::string> want = {
        "Display Band (Hz) :", "0 to 6000", "Display Channels :",   "Stereo",
        "Sample Rate (Hz) :",  "44100",     "Sample Length (kb) :", "123 "};
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(d.texts[i].text, want[i]);
        EXPECT_EQ(d.texts[i].colour, ViewColour::Black);
        EXPECT_EQ(d.texts[i].topLeft.x, i % 2 == 0 ? 20 + CW : 20 + CW + 26 * CW);
    }
    // Lines one text height apart, from the top of the box (that the last one ends inside it, at
    // every window size: SpectralViewTest.EveryPanelTextFitsItsPlaceAtEachWindowSize).
    EXPECT_EQ(d.texts[2].topLeft.y - d.texts[0].topLeft.y, TH);
    EXPECT_GE(d.texts[0].topLeft.y, g.infoPanel.y);
    // The sunken box around them: ViewDraw.PanelsAreSunkenBoxesWithBlackText.
    EXPECT_EQ(std::tuple(displayChannelsText(DisplayChannels::Mono),
                         displayChannelsText(DisplayChannels::Left),
                         displayChannelsText(DisplayChannels::Right)),
              std::tuple("Monaural", "Stereo (Left)", "Stereo (Right)"));

    // A file read by conversion names its own format after the rate.
    in.sourceFormat = "24 bit";
    EXPECT_EQ(infoPanel(g, in).texts[5].text, "44100, 24 bit");
}

TEST(PanelBoxes, InformationPanelThenReadoutsThenButtonsWithEqualGaps) {
    // Client 1000 x 700, cw 7, th 14: column width (1000 - 112 x 7) / 4 = 54.
    // Nothing measured: the classic character counts.
    const PanelBoxes b = panelBoxes({1000, 700, 602, 15, 7, 14, {}});
    // {x, width, height} of the panel, then of the readout box, on one line.
    EXPECT_EQ(std::tuple(b.infoPanel.x, b.infoPanel.width, b.infoPanel.height, b.readoutBox.x,
                         b.readoutBox.width, b.readoutBox.y),
              std::tuple(54, 38 * 7, 14 * 9 / 2, b.infoPanel.right() + 54, 44 * 7, b.infoPanel.y));
    // The button block's origin: 3 x column width + 44 + 38 character widths.
    EXPECT_EQ(b.readoutBox.right() + 54, 3 * 54 + 82 * 7);
    // Centred in the panel below the scroll bar.
    const int above = b.infoPanel.y - (602 + 15);
    const int below = 700 - b.infoPanel.bottom();
    EXPECT_LE(std::abs(above - below), 1);

    // Measured texts: a box holds a margin, its labels, a character width, its values and a
    // margin; a button its text and a margin each side; the gaps share what is left.
    const PanelBoxes m = panelBoxes({1000, 700, 602, 15, 7, 14, {120, 90, 110, 100, 30, 70}});
    EXPECT_EQ(std::tuple(m.infoPanel.width, m.widths.infoValueOffset, m.readoutBox.width,
                         m.widths.readoutValueOffset, m.widths.buttons()),
              std::tuple(7 + 120 + 7 + 90 + 7, 120 + 7, 7 + 110 + 7 + 100 + 7, 110 + 7,
                         30 + 14 + 70 + 14));
    EXPECT_EQ(m.columnWidth, (1000 - m.widths.total()) / 4);
    EXPECT_EQ(m.readoutBox.x, m.infoPanel.right() + m.columnWidth);
    EXPECT_EQ(m.buttonX0, m.readoutBox.right() + m.columnWidth);
}

TEST(GridOverlay, HostileValuesGiveBoundedListsOnly) {
    // A settings file may hold any time scale and band; the lists stay small and defined.
    // No ticks below 1 msec, on an empty view or past any real time scale.
    for (const double ts : {0.5, 0.0, std::nan(""), 1e30}) {
        EXPECT_TRUE(timeTicks(axis(ts, 800)).empty()) << ts;
    }
    EXPECT_TRUE(timeTicks(axis(4.0, 0)).empty());
    EXPECT_LE(timeTicks(axis(900000.0, 800, 1e300)).size(), 802u);
    EXPECT_LE(timeTicks(axis(4.0, 800, 1e300)).size(), 802u);
    ViewGeometry g = test::view800x400(10.0f);
    g.segmentOffsetMsec = std::nan("");
    g.lowBandHz = -2'000'000'000;
    g.highBandHz = 2'000'000'000;
    const GridOverlay grid = gridOverlay(g, GridTarget::Window, 0, true);
    EXPECT_LE(grid.labels.texts.size(), 2u * (802u + 800u));
    g.frequencyScale = FrequencyScale::Log;
    g.lowBandHz = 1;
    g.highBandHz = 2;
    for (const FrequencyTick& t : frequencyTicks(g)) {
        EXPECT_FALSE(t.inLimits && (t.y < 0 || t.y > g.plotHeight));
    }
}

namespace korv {
namespace {

TEST(TimeTicks, PastAnHourTheAxisReadsHoursMinutesSeconds) {
    EXPECT_EQ(clockLabel(3'725'000.0, false), "1:02:05");
    EXPECT_EQ(clockLabel(3'725'500.0, true), "1:02:05.5");
    EXPECT_EQ(clockLabel(59'999.0, false), "0:01:00");
    // 10 s a column over 800 columns from 1 h into a 2 h file: ticks every 2000 s, the first
    // labelled at 6000 s (x = 240; the one at 4000 s is too near the edge).
    ViewGeometry g = test::view800x400(10'000.0f);
    g.segmentOffsetMsec = 3'600'000.0;
    g.recordingMsec = 7'200'000.0;
    std::vector<std::string> labels;
    for (const ViewText& t : gridOverlay(g, GridTarget::Image, 800, false).labels.texts) {
        if (t.text.find(':') != std::string::npos) {
            labels.push_back(t.text);
        }
    }
    ASSERT_FALSE(labels.empty());
    for (const std::string& label : labels) {
        EXPECT_THAT(label, ::testing::MatchesRegex("[0-9]+:[0-5][0-9]:[0-5][0-9]")) << label;
    }
    EXPECT_EQ(labels.front(), "1:40:00");
    // An hour or less keeps seconds.
    g.segmentOffsetMsec = 0.0;
    g.recordingMsec = 3'600'000.0;
    const std::vector<ViewText> seconds =
        gridOverlay(g, GridTarget::Image, 800, false).labels.texts;
    ASSERT_FALSE(seconds.empty());
    for (const ViewText& t : seconds) {
        EXPECT_EQ(t.text.find(':'), std::string::npos) << t.text;
    }
}

TEST(TimeTicks, NoTimeIsLabelledPastTheRecordingsEnd) {
    // A 2-second file in a view of 3.2 s (800 columns at 4 msec): the labels stop at 2.0 sec,
    // where the image does; the classic grid (the tool without --legend) labels the whole view.
    ViewGeometry g = test::view800x400(4.0f);
    g.recordingMsec = 2000.0;
    const auto labels = [&](AxisLabels style) {
        std::vector<std::string> out;
        for (const ViewText& t :
             gridOverlay(g, GridTarget::Window, 0, false, {}, style).labels.texts) {
            out.push_back(t.text);
        }
        return out;
    };
    const std::vector<std::string> units = labels(AxisLabels::Units);
    EXPECT_NE(std::ranges::find(units, "2.0 sec"), units.end());
    EXPECT_EQ(std::ranges::find(units, "2.5 sec"), units.end());
    const std::vector<std::string> classic = labels(AxisLabels::Classic);
    EXPECT_NE(std::ranges::find(classic, "2.5 sec"), classic.end());
}

} // namespace
} // namespace korv
