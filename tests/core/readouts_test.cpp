// Cursor readouts: the texts for known points and pixels, the dual layout's column mapping,
// the level read back from a colour, and the segment a drag selects.

#include "analysis/parameters.h"
#include "display/palette.h"
#include "display/readouts.h"

#include "core/view_geometry_fixture.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <tuple>

using namespace korv;

namespace {

constexpr int CW = 8;
constexpr int TH = 16;

// 0 .. 6000 Hz over 360 rows (plot 400 high, strip 40): 16.67 Hz per row; 4 msec a column.
ViewGeometry geometry() {
    ViewGeometry g = test::view800x400();
    g.readoutBox = {400, 430, 44 * CW, TH * 9 / 2};
    return g;
}

ReadoutPoint inside(long column, int y, int index = kBackgroundIndex, int viewX = 100) {
    return {
        .inside = true, .viewX = viewX, .absoluteColumn = column, .y = y, .paletteIndex = index};
}

} // namespace

TEST(ViewXToColumn, MonoIsTheViewXAndDualPanesShareColumns) {
    EXPECT_EQ(std::tuple(viewXToColumn(123, 800, false), viewXToColumn(900, 800, false),
                         viewXToColumn(-5, 800, false)),
              std::tuple(123, 900, 0));
    for (const int width : {800, 801, 640}) {
        const int rightPane = width / 2 + 4;
        for (int x = 0; x + rightPane < width; ++x) {
            ASSERT_EQ(viewXToColumn(x, width, true), x) << width;
            ASSERT_EQ(viewXToColumn(x + rightPane, width, true), x) << width;
        }
        EXPECT_EQ(viewXToColumn(width, width, true), 0);
        EXPECT_EQ(viewXToColumn(width + 50, width, true), 0);
        EXPECT_EQ(viewXToColumn(width / 2, width, true), 0); // on the divider
        EXPECT_EQ(viewXToColumn(-3, width, true), 0);
    }
    // The divider of an 800-pixel view: strictly between 397 and 404.
    for (int x = 390; x < 410; ++x) {
        EXPECT_EQ(onDualDivider(x, 800), x > 397 && x < 404) << x;
    }
}

TEST(LevelReadBack, AnIndexReadsAsTheMiddleOfItsLevels) {
    // Every gradient index reads as a level that maps back to that index.
    for (const DbRange choice : {DbRange::Db30, DbRange::Db60, DbRange::Db90}) {
        const LevelRange range = levelRangeFor(choice);
        for (int i = kFirstGradientIndex; i <= kLastGradientIndex; ++i) {
            const double db = levelDbForPaletteIndex(i, choice);
            const float level = static_cast<float>((db + 90.0) * 4.0);
            ASSERT_EQ(levelToPaletteIndex(level, range), i)
                << static_cast<int>(choice) << " index " << i;
        }
        // Background and the named colours read as the bottom of the range.
        for (int i = 0; i <= kBackgroundIndex; ++i) {
            EXPECT_DOUBLE_EQ(levelDbForPaletteIndex(i, choice), range.bottomQuarterDb / 4.0 - 90.0);
        }
    }
    // 60 dB: index 125 stands for levels 245 .. 246, its middle 245.5 quarter-dB.
    EXPECT_DOUBLE_EQ(levelDbForPaletteIndex(125, DbRange::Db60), 245.5 / 4.0 - 90.0);
}

TEST(Readouts, TimeWithHalfAColumnOfUncertainty) {
    ViewGeometry g = geometry();
    ReadoutContext c;
    // A column's time is its window's centre, W / 2 samples after its first sample, plus the
    // segment's offset; half a column either way, rounded up, until 200 msec per column. 4 msec:
    // column 10 at 10 x 4 + 11.61 = 51.61; 5 msec, 1000 msec in: 1061.6; 4.4 msec with a
    // 16384-point window: column 3 at 13.2 + 185.76. {msec a column, offset, W, column, time}
    const std::tuple<double, double, int, long, const char*> cases[] = {
        {4.0, 0.0, 1024, 10, "52   +/- 2  "},
        {5.0, 1000.0, 1024, 10, "1062 +/- 3  "},
        {4.4, 0.0, 16384, 3, "199  +/- 2  "},
        {250.0, 0.0, 0, 2, "500 "}};
    for (const auto& [columnMsec, offset, window, column, time] : cases) {
        g.columnMsec = columnMsec;
        g.segmentOffsetMsec = offset;
        g.windowCentreMsec = (window / 2) * 1000.0 / 44100.0;
        EXPECT_EQ(readoutTexts(g, c, inside(column, 200)).time, time) << columnMsec;
    }
    EXPECT_DOUBLE_EQ(windowCentreMsec(1024, 44100), 512 * 1000.0 / 44100.0);
    // A hostile time scale still gives a text.
    g.columnMsec = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(readoutTexts(g, c, inside(10, 200)).time.empty());
    g.columnMsec = 3e38;
    EXPECT_FALSE(readoutTexts(g, c, inside(1'000'000'000, 200)).time.empty());
    // During playback the line shows the current time in seconds.
    c.playing = true;
    c.timeNowMsec = 12345.0;
    ReadoutTexts now = readoutTexts(g, c, inside(2, 200));
    EXPECT_EQ(now.timeLabel, "Time Now (sec) : ");
    EXPECT_EQ(now.time, "12  ");
    c.singleInstant = true;
    EXPECT_EQ(readoutTexts(g, c, inside(2, 200)).time, "12.345");
}

// Row 60 from the bottom (y = 339) is 1000 Hz; half a bin, 44100 / 2048 = 21.5, dominates. With
// 16384 points half a row, 6000 / 720 = 8.3, does; below 10 with a decimal, which after a paint
// is kept for uncertainties below 3 only. The offset is added and the magnitude shown: 150 Hz
// (9 rows up) and 50 Hz (3 rows) both read 50 with -100. Above 48000 Hz nothing is drawn while
// moving, up to 99999 when the box is redrawn: 300 rows of 166.7 Hz put 50000 Hz at y = 99, the
// uncertainty 83. An uncertainty above 400 (0 .. 300000 Hz over 360 rows) is dropped while
// moving. {N, top of the band, offset, whole box, y, the text or none}
TEST(Readouts, FrequencyWithItsUncertaintyAndLimits) {
    const std::tuple<int, std::int32_t, std::int32_t, bool, int, const char*> cases[] = {
        {1024, 6000, 0, false, 339, "1000 +/- 22 "},
        {16384, 6000, 0, false, 339, "1000 +/- 8.0 "},
        {16384, 6000, 0, true, 339, "1000 +/- 8  "},
        {16384, 6000, -100, false, 390, "50   +/- 8.0 "},
        {16384, 6000, -100, false, 396, "50   +/- 8.0 "},
        {1024, 60000, 0, false, 99, nullptr},
        {1024, 60000, 0, true, 99, "50000 +/- 83 "},
        {1024, 300000, 0, false, 390, nullptr}};
    for (const auto& [n, high, offset, whole, y, text] : cases) {
        ViewGeometry g = geometry();
        g.fftSize = n;
        g.highBandHz = high;
        const ReadoutContext c{.cursorOffsetHz = offset, .wholeBox = whole};
        const auto want = text ? std::optional<std::string>(text) : std::nullopt;
        EXPECT_EQ(readoutTexts(g, c, inside(0, y)).frequency, want)
            << n << ", " << high << ", y " << y;
    }
    // No frequency on a scale without a row mapping here.
    ViewGeometry g = geometry();
    g.frequencyScale = FrequencyScale::ThirdOctave;
    EXPECT_FALSE(readoutTexts(g, {}, inside(0, 339)).frequency.has_value());
}

// Index 125 at 60 dB: 245.5 quarter-dB, -28.6 dB, shown -29; at 90 dB index 200 stands for levels
// from 300, its middle 300.75: -14.8 dB. On the divider of the dual layout (view x 400): -90
// whatever the pixel. {range, dual, view x, index, level}
TEST(Readouts, LevelFromThePixelAndTheDualDivider) {
    const std::tuple<DbRange, bool, int, int, const char*> cases[] = {
        {DbRange::Db60, false, 100, kBackgroundIndex, "-60 "},
        {DbRange::Db60, false, 100, 125, "-29 "},
        {DbRange::Db90, false, 100, kBackgroundIndex, "-90 "},
        {DbRange::Db90, false, 100, 200, "-15 "},
        {DbRange::Db60, true, 400, 200, "-90 "},
        {DbRange::Db60, true, 404, kBackgroundIndex, "-60 "}};
    for (const auto& [range, dual, viewX, index, level] : cases) {
        ViewGeometry g = geometry();
        g.dualStereo = dual;
        EXPECT_EQ(readoutTexts(g, {.dbRange = range}, inside(0, 200, index, viewX)).level, level)
            << index << " at x " << viewX;
    }
}

// The right-button measure: signed differences from the anchor to the pointer. 60 rows of
// 16.67 Hz are 1000 Hz, 50 columns of 4 msec 200 msec; index 125 at 60 dB is -28.6 dB and
// the background -60 dB, 31.4 dB apart.
TEST(Readouts, MeasureFromTheAnchorToThePointer) {
    const ViewGeometry g = geometry();
    // An offset cancels in a difference.
    const ReadoutContext c{.dbRange = DbRange::Db60, .cursorOffsetHz = -100};
    const auto deltas = [](const ReadoutTexts& t) {
        return std::tuple(t.frequency, t.time, t.level);
    };
    const ReadoutTexts up = measureTexts(g, c, inside(10, 339), inside(60, 279, 125));
    EXPECT_EQ(std::tuple(up.frequencyLabel, up.timeLabel),
              std::tuple("\u0394f (Hz) :", "\u0394t (msec) :"));
    EXPECT_EQ(deltas(up), std::tuple("+1000", "+200", "+31"));
    EXPECT_EQ(deltas(measureTexts(g, c, inside(60, 279, 125), inside(10, 339))),
              std::tuple("-1000", "-200", "-31"));
    // Off the picture: the placeholders, under the measure's labels.
    ReadoutPoint outside = inside(0, 0);
    outside.inside = false;
    const ReadoutTexts none = measureTexts(g, c, inside(10, 339), outside);
    EXPECT_EQ(none.time, std::string(READOUT_PLACEHOLDER));
    EXPECT_EQ(none.levelLabel, READOUT_DELTA_LEVEL_LABEL);
}

TEST(Readouts, TitlesAndPlaceholders) {
    const char* titles[] = {" Analyze File", "  Scan Input ", "  Scan Input ", "  Scan File  ",
                            "  Scan File  "};
    for (int mode = 0; mode < 5; ++mode) {
        EXPECT_EQ(readoutTitle(mode, false), titles[mode]);
    }
    EXPECT_EQ(readoutTitle(1, true), "  Recording  ");

    const ViewGeometry g = geometry();
    ReadoutContext c;
    ReadoutPoint outside;
    // {frequency, time label, time, level, title, in red}
    const auto shown = [](const ReadoutTexts& t) {
        return std::tuple(t.frequency, t.timeLabel, t.time, t.level, t.title, t.titleRed);
    };
    const std::string none = "00000           ";
    EXPECT_EQ(shown(readoutTexts(g, c, outside)),
              std::tuple(none, "Time (msec) :", none, none, " Analyze File", false));
    c.scanning = true;
    c.lastMode = 1;
    c.recording = true;
    c.timeNowMsec = 12400.0;
    // A scan's time goes on wherever the pointer is.
    EXPECT_EQ(shown(readoutTexts(g, c, outside)),
              std::tuple(none, "Time Now (sec) : ", "12  ", none, "  Recording  ", true));
}

TEST(Readouts, LinesLaidOutInTheBox) {
    const ViewGeometry g = geometry();
    const ViewDrawing d = readoutLines(g, readoutTexts(g, {.recording = true}, inside(10, 339)));
    ASSERT_EQ(d.texts.size(), 7u); // title, then label and value of three lines
    const int labelX = g.readoutBox.x + CW;
    const int valueX = labelX + 20 * CW;
    // The title in red: ViewDraw.PanelsAreSunkenBoxes...
    EXPECT_EQ(std::tuple(d.texts[0].text, d.texts[0].topLeft.x),
              std::tuple("  Recording  ", labelX));
    const std::string labels[] = {"Frequency (Hz) :", "Time (msec) :", "Signal Level (dB) :"};
    for (int line = 0; line < 3; ++line) {
        const ViewText& label = d.texts[static_cast<std::size_t>(1 + 2 * line)];
        const ViewText& value = d.texts[static_cast<std::size_t>(2 + 2 * line)];
        EXPECT_EQ(label.text, labels[line]);
        EXPECT_EQ(label.topLeft.x, labelX);
        EXPECT_EQ(value.topLeft.x, valueX);
        EXPECT_EQ(value.topLeft.y, label.topLeft.y);
        EXPECT_EQ(label.topLeft.y - d.texts[0].topLeft.y, (line + 1) * TH);
        EXPECT_EQ(value.colour, ViewColour::Black);
        EXPECT_EQ(value.background, ViewColour::Face); // opaque
    }
    // Each line is cleared inside the box before it is written: the title's, then each label's
    // and value's area.
    ASSERT_EQ(d.fills.size(), 7u);
    EXPECT_EQ(d.fills[0].rect.x, labelX);
    for (std::size_t i = 1; i < d.fills.size(); ++i) {
        EXPECT_EQ(d.fills[i].rect.x, i % 2 == 1 ? labelX : valueX);
        EXPECT_EQ(d.fills[i].rect.y, d.texts[i].topLeft.y);
    }
    for (const ViewFill& f : d.fills) {
        EXPECT_LT(f.rect.right(), g.readoutBox.right());
        EXPECT_EQ(f.colour, ViewColour::Face);
    }
    // The last line ends inside the box:
    // SpectralViewTest.EveryPanelTextFitsItsPlaceAtEachWindowSize. The box itself when redrawn
    // whole.
    const ViewDrawing box = readoutBox(g);
    ASSERT_EQ(box.fills.size(), 1u);
    EXPECT_EQ(box.fills[0].rect, g.readoutBox);
}

TEST(ViewToSamples, ADragSelectsTheSameSegmentEitherWayAndAClickItsInstant) {
    // 4 msec columns of 44100 Hz 16-bit stereo: a hop of 352 samples, 176 frames a column.
    const RunFormat stereo{44100, 2, 2};
    const long hop = hopSamples(2, 4.0f, 44100);
    // The same whichever way the drag goes: SpectralViewTest.ADragReanalysesTheSameStretch...
    const DragSegment right = dragSegment(10, 30, 5, hop, stereo);
    // Columns 15 .. 35 and the frames they were drawn from, not 60 and 140 msec of nominal time.
    EXPECT_EQ(right, (DragSegment{15, 35, 15 * 176 * 4, 35 * 176 * 4, 15 * 176, 35 * 176}));
    // A hostile hop still gives whole frames in order.
    const DragSegment s =
        dragSegment(0, 100, 0, std::numeric_limits<long>::max(), RunFormat{48000, 2, 2});
    EXPECT_GE(s.endByte, s.beginByte);
    EXPECT_EQ(s.endByte % 4, 0);

    // A click: the instant of its column and where its point spectrum starts.
    // Column 10 scrolled by 5 at 4 msec, segment from 1000 msec: the column's first sample at
    // 1060 msec, its time the window's centre 512 samples later.
    ViewGeometry g;
    g.hScrollPos = 5;
    g.columnMsec = 4.0;
    g.segmentOffsetMsec = 1000.0;
    g.windowCentreMsec = 512 * 1000.0 / 44100;
    g.fftSize = 1024;
    const ClickInstant mono = clickInstant(10, g, RunFormat{44100, 1, 2});
    EXPECT_DOUBLE_EQ(mono.msec, 1060.0 + 512 * 1000.0 / 44100);
    // 1060 x 44.1 frames x 2 bytes = 93492, plus 1024 x 2 bytes: 95540, a multiple of 4.
    EXPECT_EQ(mono.bytePosition, 95540);
    // 8-bit mono at 11025 Hz, column 1 at 5 msec: 55.125 bytes -> 55, plus 512: 567 -> 564.
    g = ViewGeometry{};
    g.columnMsec = 5.0;
    g.fftSize = 512;
    EXPECT_EQ(clickInstant(1, g, RunFormat{11025, 1, 1}).bytePosition, 564);
}
