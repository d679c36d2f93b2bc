// The colour legend: every bar row has the colour the image gives the level it stands for, and
// each label stands at the row of its level, on the window's level scale.

#include "core/view_geometry_fixture.h"
#include "display/level_legend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace korv {
namespace {

// The image's colour of a level, from the mapping's definition: (level - B) x 240 / (4 R)
// quarter-dB, truncated, then limited to Background (4) ... the last gradient entry (235).
int referenceIndex(double levelDb, double rangeDb, double bottomQuarterDb) {
    const double quarterDb = (levelDb + 90.0) * 4.0;
    const auto index =
        static_cast<int>(std::trunc((quarterDb - bottomQuarterDb) * 240.0 / (4.0 * rangeDb)));
    return std::clamp(index, 4, 235);
}

// The level fill covering a bar row.
std::optional<int> barIndexAt(const LevelLegend& legend, int y) {
    for (const ViewFill& f : legend.drawing.fills) {
        if (f.colour == ViewColour::Level && f.rect.contains(legend.bar.x, y)) {
            return f.levelIndex;
        }
    }
    return std::nullopt;
}

struct Range {
    DbRange range;
    double rangeDb;
    double bottomDb; // on the window's scale: -60, -60, -90
    double bottomQuarterDb;
};

TEST(LevelLegend, BarRowsAndLabelsFollowTheLevelMapping) {
    for (const Range r : {Range{DbRange::Db30, 30, -60, 120}, Range{DbRange::Db60, 60, -60, 120},
                          Range{DbRange::Db90, 90, -90, 0}}) {
        const ViewGeometry g = test::view800x400();
        const LevelLegend legend = levelLegend(g, levelRangeFor(r.range), {}, g.plotWidth);
        ASSERT_FALSE(legend.box.empty()) << r.rangeDb;
        // Inside the view's right edge, clear of the strip and of the time labels' line.
        EXPECT_LE(legend.box.right(), g.plotWidth);
        EXPECT_GT(legend.box.y, g.stripHeight);
        EXPECT_LE(legend.box.bottom(), g.plotHeight - g.charHeight);
        const PixelRect& bar = legend.bar;
        for (int y = bar.y; y < bar.bottom(); ++y) {
            const double levelDb =
                r.bottomDb + r.rangeDb - (y - bar.y + 0.5) * r.rangeDb / bar.height;
            ASSERT_EQ(barIndexAt(legend, y), referenceIndex(levelDb, r.rangeDb, r.bottomQuarterDb))
                << r.rangeDb << " dB range, row " << y;
        }
        // Labels from the bottom of the range to its top, each at its level's row.
        ASSERT_GE(legend.labels.size(), 3u);
        EXPECT_EQ(legend.labels.front().text, std::to_string(static_cast<int>(r.bottomDb)));
        EXPECT_EQ(legend.labels.back().text,
                  std::to_string(static_cast<int>(r.bottomDb + r.rangeDb)));
        for (const LegendLabel& label : legend.labels) {
            const double fromTop = (r.bottomDb + r.rangeDb - label.levelDb) / r.rangeDb;
            EXPECT_NEAR(label.y, bar.y + fromTop * bar.height, 1.0) << label.text;
            EXPECT_EQ(std::stoi(label.text), static_cast<int>(std::lround(label.levelDb)));
            // The row under a label inside the bar has its level's colour, within a row.
            if (label.y > bar.y && label.y < bar.bottom() - 1) {
                const int at = *barIndexAt(legend, label.y);
                EXPECT_NEAR(at, referenceIndex(label.levelDb, r.rangeDb, r.bottomQuarterDb),
                            240.0 / bar.height + 1.0)
                    << label.text;
            }
        }
    }
}

TEST(LevelLegend, UnitAndOffsetNameAnotherScale) {
    const ViewGeometry g = test::view800x400();
    // A full-scale level turns the window's scale into dB SPL: the same rows, other numbers.
    const LevelLegend shown = levelLegend(g, levelRangeFor(DbRange::Db60), {}, g.plotWidth);
    const LevelLegend spl =
        levelLegend(g, levelRangeFor(DbRange::Db60), {"dB SPL", 114.0}, g.plotWidth);
    ASSERT_EQ(shown.labels.size(), spl.labels.size());
    for (std::size_t i = 0; i < spl.labels.size(); ++i) {
        EXPECT_EQ(spl.labels[i].y, shown.labels[i].y);
        EXPECT_EQ(std::stoi(spl.labels[i].text), std::stoi(shown.labels[i].text) + 114);
    }
    bool named = false;
    for (const ViewText& t : spl.drawing.texts) {
        named = named || t.text == "dB SPL";
    }
    EXPECT_TRUE(named);
    // A band too low for a bar gets none.
    ViewGeometry low = g;
    low.plotHeight = g.stripHeight + 3 * g.charHeight;
    EXPECT_TRUE(levelLegend(low, levelRangeFor(DbRange::Db60), {}, g.plotWidth).box.empty());
}

} // namespace
} // namespace korv
