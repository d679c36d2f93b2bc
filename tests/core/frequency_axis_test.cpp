#include "analysis/frequency_axis.h"

#include "analysis/frequency_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <tuple>
#include <vector>

namespace korv {
namespace {

struct Band {
    FrequencyScale scale;
    double low, high;
    int rows;
};

// Row r of a band stands at low + (high - low) r / rows, or low (high / low)^(r / rows).
double referenceHz(const Band& b, double row) {
    if (b.scale == FrequencyScale::Linear) {
        return b.low + (b.high - b.low) * row / b.rows;
    }
    return b.low * std::pow(b.high / b.low, row / b.rows);
}

constexpr Band BANDS[] = {{FrequencyScale::Linear, 0, 6000, 300},
                          {FrequencyScale::Linear, 1000, 3000, 125},
                          {FrequencyScale::Linear, 20, 22050, 777},
                          {FrequencyScale::Log, 100, 10000, 300},
                          {FrequencyScale::Log, 30, 20000, 451}};

// Rows and frequencies map both ways. The FFT bins of rows: k stands at k rate / N Hz; every
// row starts at the bin of its own frequency, and the rows follow one another without a gap or
// an overlap of more than a bin.
TEST(FrequencyAxis, RowsAndFrequenciesMapBothWaysAndTheirBinsCoverTheBand) {
    const std::int32_t rate = 44100;
    const int n = 4096;
    for (const Band& b : BANDS) {
        const FrequencyAxis axis(b.scale, b.low, b.high, b.rows);
        ASSERT_TRUE(axis.usable());
        const auto map = axis.rowMap(rate, n);
        ASSERT_TRUE(map.has_value());
        ASSERT_EQ(map->rows.size(), static_cast<std::size_t>(b.rows));
        EXPECT_EQ(map->binLimit, n / 2);
        for (int r = 0; r <= b.rows; ++r) {
            const double hz = referenceHz(b, r);
            SCOPED_TRACE(testing::Message() << b.low << ".." << b.high << " row " << r);
            EXPECT_NEAR(axis.hzAtRow(r), hz, 1e-9 * hz + 1e-9);
            EXPECT_NEAR(std::abs(static_cast<double>(axis.hzAtRowRounded(r)) - hz), 0.25, 0.25);
            EXPECT_NEAR(axis.rowOfHz(hz), r, 1e-9);
            EXPECT_NEAR(axis.rowOfHzProportional(hz), r, 1e-9);
            // Row -> Hz -> row comes back to the same row; the top edge and 0 Hz (no mark
            // stands there) are no row.
            EXPECT_EQ(axis.nearestRow(axis.hzAtRow(r)).value_or(-1),
                      r < b.rows && hz > 0.0 ? r : -1);
            if (r == 0 || r == b.rows) {
                continue;
            }
            // A quarter row either way still rounds to it.
            EXPECT_EQ(axis.nearestRow(referenceHz(b, r + 0.25)).value_or(-1), r);
            EXPECT_EQ(axis.nearestRow(referenceHz(b, r - 0.25)).value_or(-1), r);
            const RowBins& row = map->rows[static_cast<std::size_t>(r)];
            const RowBins& below = map->rows[static_cast<std::size_t>(r - 1)];
            EXPECT_NEAR(row.firstBin, hz * n / rate, 0.5 + 1e-9);
            EXPECT_GE(row.binCount, 1);
            EXPECT_GE(row.firstBin, below.firstBin);
            EXPECT_LE(std::abs(below.firstBin + below.binCount - row.firstBin), 1);
        }
        EXPECT_NEAR(map->rows[0].firstBin, b.low * n / rate, 0.5 + 1e-9);
        EXPECT_GE(map->rows[0].binCount, 1);
        if (b.scale == FrequencyScale::Linear) {
            EXPECT_NEAR(axis.rowsOfWidth(b.high - b.low), b.rows, 1e-9);
        }
    }
}

TEST(FrequencyAxis, NoRowsWhereTheBandGivesNone) {
    // No log rows from 0 Hz: ColumnAnalyzer.SetupRefusesWhatItCannotAnalyse. {band, rows, rate}
    for (const auto& [s, low, high, rows, rate] :
         {std::tuple{FrequencyScale::Log, -5, 4000, 50, 8000},
          {FrequencyScale::Log, 4000, 4000, 50, 8000},
          {FrequencyScale::Log, 100, 4000, 0, 8000},
          {FrequencyScale::Log, 100, 4000, 50, 0},
          {FrequencyScale::ThirdOctave, 100, 4000, 50, 8000}}) {
        EXPECT_FALSE(FrequencyAxis(s, low, high, rows).rowMap(rate, 1024))
            << low << " " << rows << " " << rate;
    }
    const auto one = FrequencyAxis(FrequencyScale::Log, 100, 4000, 1).rowMap(8000, 1024);
    ASSERT_TRUE(one && one->rows.size() == 1);
    EXPECT_EQ(one->rows[0].binCount, 1);

    EXPECT_FALSE(FrequencyAxis(FrequencyScale::Log, 0, 4000, 50).usable());
    EXPECT_FALSE(FrequencyAxis(FrequencyScale::Linear, 10, 10, 50).usable());
    EXPECT_FALSE(FrequencyAxis(FrequencyScale::Linear, 0, NAN, 50).usable());
    EXPECT_FALSE(FrequencyAxis(FrequencyScale::Linear, 0, 6000, 300).nearestRow(-5).has_value());
    EXPECT_FALSE(FrequencyAxis(FrequencyScale::Linear, 0, 6000, 300).nearestRow(7000));
    // The third-octave plots share the log axis but have no image rows.
    EXPECT_TRUE(FrequencyAxis(FrequencyScale::ThirdOctave, 10, 10000, 240).logarithmic());
    EXPECT_FALSE(FrequencyAxis(FrequencyScale::ThirdOctave, 10, 10000, 240).imageRows());
    EXPECT_EQ(std::tuple(logTickHz().front(), logTickHz()[6], logTickHz().back()),
              std::tuple(10, 160, 630000));
}

// 300 rows under a 40-pixel waveform strip, N 2048 at 44.1 kHz.
RowFrequencyInputs plot(FrequencyScale scale, std::int32_t low, std::int32_t high) {
    return {scale, low, high, 44100, 2048, 340, 300};
}

// On 0 .. 6000 Hz and 100 .. 10000 Hz over 300 rows: the linear frequency rounds half up, the
// log one is truncated; the uncertainty is half a row or half a bin, the larger, rounded.
TEST(RowToFrequency, EachRowReadsItsFrequencyAndUncertainty) {
    const double binWidth = 44100.0 / 2048.0;
    for (const Band& b : {BANDS[0], BANDS[3]}) {
        const bool linear = b.scale == FrequencyScale::Linear;
        const RowFrequencyInputs in =
            plot(b.scale, static_cast<std::int32_t>(b.low), static_cast<std::int32_t>(b.high));
        ASSERT_EQ(in.rows, b.rows);
        long previousUncertainty = 0;
        for (int r = 0; r < in.rows; ++r) {
            const auto f = rowToFrequency(in, in.plotHeight - 1 - r);
            ASSERT_TRUE(f.has_value());
            const double hz = referenceHz(b, r);
            EXPECT_EQ(f->frequencyHz, linear ? std::lround(hz) : static_cast<long>(hz)) << r;
            // Linear: half a row is 10 Hz, half a bin 10.77 Hz. Log: widening with the rows.
            if (linear) {
                EXPECT_EQ(f->uncertaintyHz, 11);
            }
            EXPECT_GE(f->uncertaintyHz, std::max(std::lround(binWidth / 2.0), previousUncertainty));
            previousUncertainty = f->uncertaintyHz;
        }
        // In the waveform strip the frequency is held at the top of the band.
        EXPECT_EQ(rowToFrequency(in, 0)->frequencyHz, b.high);
    }
    const RowFrequencyInputs in = plot(FrequencyScale::Linear, 0, 6000);
    EXPECT_EQ(rowToFrequency(in, in.plotHeight + 5)->frequencyHz, 0);
    // Near 10 kHz one log row spans 10000 x (100^(2/300) - 1) / 4 = 78 Hz.
    const RowFrequencyInputs log = plot(FrequencyScale::Log, 100, 10000);
    EXPECT_NEAR(static_cast<double>(rowToFrequency(log, log.plotHeight - 300)->uncertaintyHz), 77.0,
                2.0);
    EXPECT_FALSE(rowToFrequency(plot(FrequencyScale::Log, 0, 10000), 100).has_value());
    EXPECT_FALSE(rowToFrequency(plot(FrequencyScale::ThirdOctave, 0, 10000), 100).has_value());

    RowFrequencyInputs wide = plot(FrequencyScale::Linear, 0, 22050);
    wide.rows = 100; // 110.25 Hz a row
    EXPECT_EQ(rowToFrequency(wide, wide.plotHeight - 1)->uncertaintyHz, 110);
    RowFrequencyInputs offset = plot(FrequencyScale::Linear, 0, 6000);
    offset.cursorOffsetHz = -1000;
    const auto bottom = rowToFrequency(offset, offset.plotHeight - 1);
    EXPECT_EQ(bottom->frequencyHz, 0);
    EXPECT_EQ(bottom->displayedHz, 1000);
    EXPECT_EQ(rowToFrequency(offset, offset.plotHeight - 1 - 150)->displayedHz, 2000);
}

} // namespace
} // namespace korv
