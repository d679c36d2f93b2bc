// Editing the calibration curve: the half-dB mouse rule, Connect, the graph's geometry and the
// import of a maker's calibration file, hostile files included.

#include "analysis/calibration_edit.h"
#include "analysis/levels.h"
#include "settings/default_calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace korv {
namespace {

// A maker's file read onto the default curve.
CalibrationImport imported(const std::string& text,
                           CalibrationSign sign = CalibrationSign::CorrectionToAdd) {
    return importCalibrationText(text, defaultCalibrationCurve(), sign);
}

TEST(CalibrationEdit, MouseLevelsRoundToTheNearerHalfDbAndConnectDrawsTheLine) {
    // v counts half-dB steps: 2.4 is nearer 1.0 dB, 2.6 nearer 1.5 dB; the same below zero.
    const std::pair<float, float> cases[] = {{2.4f, 1.0f},    {2.6f, 1.5f},      {-2.4f, -1.0f},
                                             {-2.6f, -1.5f},  {-0.1f, 0.0f},     {0.4f, 0.0f},
                                             {500.0f, 30.0f}, {-500.0f, -30.0f}, {NAN, 0.0f}};
    for (const auto& [v, db] : cases) {
        EXPECT_EQ(calibrationLevelFromHalfSteps(v), db) << v;
    }
    // The graph: +30 dB at the top, -30 at the bottom, a pointer above the box stays at +30.
    const auto g = CalibrationGraph::forSize(408, 250);
    EXPECT_EQ(g.pointY(30.0f), g.y0);
    EXPECT_EQ(g.pointY(-30.0f), g.y0 + static_cast<int>(60 * g.yScale));
    EXPECT_EQ(g.levelAt(g.zeroY()), 0.0f);
    EXPECT_EQ(g.levelAt(-1000), 30.0f);
    EXPECT_LT(g.pointX(0), g.pointX(33));
    EXPECT_LE(g.pointX(33), 408);

    // Connect draws the line between two points in either order.
    CalibrationCurve a = defaultCalibrationCurve();
    a[10].correctionDb = 0.0f;
    a[14].correctionDb = 8.0f;
    CalibrationCurve b = a;
    connectCalibrationPoints(a, 10, 14);
    connectCalibrationPoints(b, 14, 10);
    for (int i = 11; i <= 13; ++i) {
        EXPECT_EQ(a[i].correctionDb, 2.0f * static_cast<float>(i - 10));
        EXPECT_EQ(b[i].correctionDb, a[i].correctionDb);
    }
    EXPECT_EQ(a[14].correctionDb, 8.0f);
    const CalibrationCurve before = a;
    connectCalibrationPoints(a, 5, 5);
    connectCalibrationPoints(a, 5, 40);
    EXPECT_EQ(a, before);
}

TEST(CalibrationImport, SamplesTheFileInLogFrequencyWithTheChosenSign) {
    const std::string file = "* maker's header\n\"Sens Factor =-1.2dB\"\r\n\n"
                             "  10\t-4.0\r\n100, 0.0, 12.5\n1000;2\n20000 40\n";
    const CalibrationImport added = imported(file);
    ASSERT_TRUE(added.ok) << added.error;
    EXPECT_EQ(added.pointsRead, 4);
    // Frequencies stay; 10 Hz is the file's first value, 31.5 Hz half a decade-fraction along.
    EXPECT_EQ(added.curve[0].frequencyHz, defaultCalibrationCurve()[0].frequencyHz);
    EXPECT_FLOAT_EQ(added.curve[0].correctionDb, -4.0f);
    EXPECT_NEAR(added.curve[5].correctionDb, -4.0 + 4.0 * std::log10(3.15), 1e-5);
    EXPECT_FLOAT_EQ(added.curve[10].correctionDb, 0.0f); // 100 Hz
    EXPECT_FLOAT_EQ(added.curve[20].correctionDb, 2.0f); // 1 kHz
    // 40 dB at 20 kHz and beyond is limited to 30; the note counts shown points only.
    EXPECT_FLOAT_EQ(added.curve[33].correctionDb, 30.0f);
    EXPECT_FLOAT_EQ(added.curve[39].correctionDb, 30.0f);
    EXPECT_GE(added.pointsClamped, 1);
    const CalibrationImport removed = imported(file, CalibrationSign::ResponseToRemove);
    ASSERT_TRUE(removed.ok);
    EXPECT_FLOAT_EQ(removed.curve[0].correctionDb, 4.0f);
    EXPECT_FLOAT_EQ(removed.curve[20].correctionDb, -2.0f);
    EXPECT_FLOAT_EQ(removed.curve[33].correctionDb, -30.0f);
}

TEST(CalibrationImport, DecimalCommasWhereColumnsAreSplitBySemicolonsOrTabs) {
    // 20 Hz is point 3 and 200 Hz point 13 of the curve; each file gives 1.5 and -2.25 dB.
    for (const std::string& text :
         {std::string("20;1,5\n200;-2,25\n"), std::string("20\t1,5\t0,3\n200\t-2,25\n"),
          std::string("\xEF\xBB\xBF"
                      "20 1.5\r\n200 -2.25\r\n"),
          std::string("\xEF\xBB\xBF* header; with a semicolon\n20,1.5\n200,-2.25\n")}) {
        const CalibrationImport r = imported(text);
        ASSERT_TRUE(r.ok) << text << r.error;
        EXPECT_FLOAT_EQ(r.curve[3].correctionDb, 1.5f) << text;
        EXPECT_FLOAT_EQ(r.curve[13].correctionDb, -2.25f) << text;
    }
    // Commas alone separate columns: a third column is ignored.
    const CalibrationImport csv = imported("20,1,5\n200,2,7\n");
    ASSERT_TRUE(csv.ok) << csv.error;
    EXPECT_FLOAT_EQ(csv.curve[3].correctionDb, 1.0f);
    // A comma that may be either, or a number with a point and a comma, is refused and why.
    for (const std::string& text :
         {std::string("20 1,5\n"), std::string("20;1.000,5\n"), std::string("20;1,000,5\n")}) {
        const CalibrationImport r = imported(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_NE(r.error.find("decimal comma"), std::string::npos) << r.error;
    }
}

TEST(CalibrationImport, HostileFilesAreRefusedWithAReason) {
    std::string many;
    for (int i = 1; i <= kCalibrationFileMaxLines + 1; ++i) {
        many += std::to_string(i) + " 0\n";
    }
    const std::string cases[] = {
        "",
        "* only a comment\n\"and a quote\"\n",
        "1000 1\nabc def\n",
        "1000\n",
        "1000 1dB\n",
        "1000 nan\n",
        "1000 1e999\n",
        "0 1\n",
        "-10 1\n",
        "1000 1\n500 2\n",
        "1000 1\n1000 2\n",
        std::string("100 1\n\0 2\n", 10),
        std::string(kCalibrationFileMaxBytes + 1, '*'),
        many,
    };
    for (const std::string& text : cases) {
        const CalibrationImport r = imported(text);
        EXPECT_FALSE(r.ok) << text.substr(0, 40);
        EXPECT_FALSE(r.error.empty());
    }
    // A line is named by its number so the user can find it. Frequencies too far apart for a
    // finite correction: the interpolation between 5e-324 Hz and 1e300 Hz divides infinities.
    for (const auto& [text, why] : {std::pair{"10 1\n\n20 x\n", "Line 3"},
                                    std::pair{"5e-324 0\n1e300 10\n", "no usable correction"}}) {
        const CalibrationImport r = imported(text);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
    }
}

} // namespace
} // namespace korv
