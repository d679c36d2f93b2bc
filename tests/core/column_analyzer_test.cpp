// The column loop on generated sines: the row a tone lights is worked out from its
// frequency alone, its colour from the level formula, and everything else must stay dark.

#include "analysis/analyze_segment.h"
#include "analysis/calibration_edit.h"
#include "display/column_analyzer.h"
#include "display/parallel_column_loop.h"
#include "display/spectral_image.h"
#include "settings/default_calibration.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <numeric>
#include <random>
#include <ranges>
#include <tuple>
#include <vector>

namespace korv {
namespace {

constexpr std::int32_t kRate = 8000;
constexpr int kPlotHeight = 300;
constexpr int kStripHeight = 44;
constexpr int kRows = kPlotHeight - kStripHeight; // 256 rows over 0 .. 4000 Hz
constexpr std::int32_t kHighHz = 4000;
constexpr std::int32_t kGainCode = -9; // +9 dB
constexpr int kScreenWidth = 64;

// An analysis-unit value (16-bit scale) per channel and frame, stored as 8- or 16-bit PCM.
using Signal = std::function<double(int channel, long frame)>;

std::vector<std::uint8_t> pcm(int channels, int bits, long frames, const Signal& signal) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(frames * channels * bits / 8));
    for (long n = 0; n < frames; ++n) {
        for (int c = 0; c < channels; ++c) {
            const double v = signal(c, n);
            if (bits == 8) {
                const long b = std::lround(v / 256.0) + 128;
                bytes.push_back(static_cast<std::uint8_t>(std::clamp(b, 0L, 255L)));
            } else {
                const auto s = std::clamp(std::lround(v), -32768L, 32767L);
                test::putLe16(bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(s)));
            }
        }
    }
    return bytes;
}

Signal sine(double hz, double amplitude) {
    return [=](int, long n) {
        return amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / kRate);
    };
}

ColumnAnalysisInputs inputsFor(const std::vector<std::uint8_t>& bytes, int channels, int bits) {
    const RunFormat format{kRate, channels, bits / 8};
    const AnalysisInputs analysis{10, 10, 4.0f}; // N 1024, full window, 4 msec a column
    ColumnAnalysisInputs in;
    in.samples = bytes;
    in.channels = channels;
    in.bitsPerSample = bits;
    in.sampleRate = kRate;
    in.run = deriveRunParameters(analysis, format, static_cast<std::int64_t>(bytes.size()));
    in.frequencyScale = FrequencyScale::Linear;
    in.lowBandHz = 0;
    in.highBandHz = kHighHz;
    in.averageCountScroll = 1;
    in.dbRange = DbRange::Db60;
    CalibrationCurve flat = defaultCalibrationCurve();
    zeroCalibrationCurve(flat);
    in.corrections = LevelCorrections(flat, kGainCode);
    return in;
}

SpectralImage imageFor(const ColumnAnalysisInputs& in) {
    auto image = SpectralImage::create(
        {in.run.columns, kScreenWidth, kPlotHeight, kStripHeight, in.channels});
    EXPECT_TRUE(image.has_value());
    return std::move(*image);
}

SpectralImage analyse(const ColumnAnalysisInputs& in) {
    SpectralImage image = imageFor(in);
    ColumnAnalyzer analyzer;
    EXPECT_EQ(analyzer.setup(in, image), SetupResult::Ok);
    analyzer.analyzeColumns(0, analyzer.columns(), image);
    analyzer.release();
    return image;
}

// The row of a frequency on the linear scale, from the band and the row count alone.
int rowOf(double hz) {
    return static_cast<int>(std::floor(hz * kRows / kHighHz));
}

// A sine of amplitude a on an exact bin under the full Hann window has a bin magnitude of
// a / 2; its level is 40 log10 of the power, plus the gain, as a palette index of the range.
float levelOfSine(double amplitude) {
    return static_cast<float>(std::trunc(80.0 * std::log10(amplitude / 2.0)) - 4.0 * kGainCode);
}
int paletteIndexOf(float level, float bottom, float rangeDb) {
    const float index = std::trunc((level - bottom) * 240.0f / (4.0f * rangeDb));
    return std::clamp(static_cast<int>(index), kBackgroundIndex, kLastGradientIndex);
}

std::uint8_t at(const SpectralImage& image, int x, int y) {
    return image.surface().pixel(x, y).value();
}

struct Format {
    int channels;
    int bits;
};

class ColumnAnalyzerFormats : public testing::TestWithParam<Format> {};

// About 1 kHz (left) and 2 kHz (right) on exact bins (129 and 257 of 1024). Odd bins keep
// the 8-bit rounding error from repeating within a frame, where it would make harmonics.
TEST_P(ColumnAnalyzerFormats, EachChannelLightsItsOwnRowInItsOwnBandAndReadsSilencePastTheEnd) {
    const auto [channels, bits] = GetParam();
    const double amplitude[2] = {12800.0, 5120.0};
    const double hz[2] = {129 * 7.8125, 257 * 7.8125};
    const auto bytes =
        pcm(channels, bits, 8000, [&](int c, long n) { return sine(hz[c], amplitude[c])(c, n); });
    const auto in = inputsFor(bytes, channels, bits);
    ASSERT_GT(in.run.columns, 100);
    const SpectralImage image = analyse(in);

    for (int c = 0; c < channels; ++c) {
        // Stereo: right on top, left in the lower half.
        const int bandTop = channels == 2 && c == 0 ? kPlotHeight : 0;
        const int lit = rowOf(hz[c]); // the other channel's row is among the dark ones
        const int expected = paletteIndexOf(levelOfSine(amplitude[c]), 120.0f, 60.0f);
        ASSERT_GT(expected, kBackgroundIndex);
        const int barHalf = static_cast<int>(amplitude[c]) / 1500;
        for (int x = 0; x < in.run.columns; x += 7) {
            SCOPED_TRACE(testing::Message() << "channel " << c << " column " << x);
            EXPECT_EQ(at(image, x, bandTop + kPlotHeight - 1 - lit), expected);
            for (int r = 0; r < kRows - 1; ++r) {
                if (std::abs(r - lit) >= 2) {
                    ASSERT_EQ(at(image, x, bandTop + kPlotHeight - 1 - r), kBackgroundIndex)
                        << "row " << r;
                }
            }
            // The strip: a min/max bar about the zero line, the separator below it.
            const int zero = bandTop + kStripHeight / 2;
            for (int y = zero - barHalf - 1; y <= zero + barHalf; ++y) {
                const bool bar = y >= zero - barHalf && y < zero + barHalf;
                EXPECT_EQ(at(image, x, y), bar ? kSignal1Index : kBackgroundIndex) << "y " << y;
            }
            EXPECT_EQ(at(image, x, bandTop + kStripHeight), kSignal2Index);
        }
    }
    // Columns whose frames run past the held bytes read silence there: the same picture as the
    // data followed by explicit zeros.
    auto padded = bytes;
    padded.resize(padded.size() + 40000, bits == 8 ? 128 : 0);
    auto shortIn = in;
    const auto paddedIn = inputsFor(padded, channels, bits);
    shortIn.run = paddedIn.run; // columns reaching far past the short data
    ASSERT_GT(shortIn.run.columns * shortIn.run.hop, static_cast<long>(bytes.size()) / (bits / 8));
    EXPECT_TRUE(std::ranges::equal(analyse(shortIn).surface().pixels(),
                                   analyse(paddedIn).surface().pixels()));
}

INSTANTIATE_TEST_SUITE_P(MonoStereo8And16, ColumnAnalyzerFormats,
                         testing::Values(Format{1, 8}, Format{1, 16}, Format{2, 8}, Format{2, 16}),
                         [](const testing::TestParamInfo<Format>& p) {
                             return std::string(p.param.channels == 1 ? "Mono" : "Stereo") +
                                    std::to_string(p.param.bits);
                         });

TEST(ColumnAnalyzer, TheWindowIsNTimesTenOverTheFactorAtEveryRate) {
    const auto bytes = pcm(1, 16, 20000, sine(1000.0, 8000.0));
    for (const std::int32_t rate : {5513, 8000, 11025, 22050, 44100, 48000}) {
        for (const std::int32_t factor : {10, 20, 30}) {
            auto in = inputsFor(bytes, 1, 16);
            in.sampleRate = rate;
            in.run = deriveRunParameters({9, factor, 4.0f}, RunFormat{rate, 1, 2},
                                         static_cast<std::int64_t>(bytes.size()));
            SpectralImage image = imageFor(in);
            ColumnAnalyzer analyzer;
            ASSERT_EQ(analyzer.setup(in, image), SetupResult::Ok);
            EXPECT_EQ(analyzer.windowLength(), 512 * 10 / factor) << rate << " Hz, " << factor;
        }
    }
}

// The level log and the picture see the ring average of the rows and, when asked for, of each
// bin, the empty slots counting as zero: the sine's level at its own bin (k = f N / rate) on
// either scale, however the rows gather the bins. At 90 dB (bottom 0) half the level is still in
// range, in a colour of its own.
TEST(ColumnAnalyzer, TheLevelLogSeesTheRingAverageOfRowsAndBins) {
    const auto bytes = pcm(1, 16, 4000, sine(1000.0, 8000.0));
    const float level = levelOfSine(8000.0);
    const auto row = static_cast<std::size_t>(rowOf(1000.0));
    const auto bin = static_cast<std::size_t>(1000.0 * 1024 / kRate);
    for (const auto& [scale, bins] : {std::pair{FrequencyScale::Linear, false},
                                      {FrequencyScale::Linear, true},
                                      {FrequencyScale::Log, true}}) {
        SCOPED_TRACE(testing::Message()
                     << "log " << (scale == FrequencyScale::Log) << " bins " << bins);
        auto in = inputsFor(bytes, 1, 16);
        in.averageCountScroll = 2;
        in.dbRange = DbRange::Db90;
        in.binLevels = bins;
        in.frequencyScale = scale;
        in.lowBandHz = scale == FrequencyScale::Log ? 100 : 0;
        SpectralImage image = imageFor(in);
        ColumnAnalyzer analyzer;
        ASSERT_EQ(analyzer.setup(in, image), SetupResult::Ok);
        EXPECT_TRUE(analyzer.averagedLevels(0).empty());
        for (const long x : {0L, 1L}) {
            analyzer.analyzeColumn(x, image);
            const float want = level * static_cast<float>(x + 1) / 2.0f;
            if (scale == FrequencyScale::Linear) {
                EXPECT_FLOAT_EQ(analyzer.averagedLevels(0)[row], want);
                EXPECT_EQ(at(image, static_cast<int>(x), kPlotHeight - 1 - static_cast<int>(row)),
                          paletteIndexOf(want, 0.0f, 90.0f));
            }
            ASSERT_EQ(analyzer.averagedBins(0).size(), bins ? 512u : 0u);
            if (bins) {
                EXPECT_FLOAT_EQ(analyzer.averagedBins(0)[bin], want);
            }
        }
        EXPECT_TRUE(analyzer.averagedLevels(1).empty());
        if (bins) { // a Hann window leaves nothing two bins away
            EXPECT_LT(analyzer.averagedBins(0)[bin + 3], level - 4.0f * 40.0f);
        }
    }
}

// A chirp with noise, so that neighbouring columns differ.
std::vector<std::uint8_t> chirp(int channels, long frames) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 300.0);
    return pcm(channels, 16, frames, [&](int c, long n) {
        const double t = static_cast<double>(n) / kRate;
        return 9000.0 * std::sin(2.0 * std::numbers::pi * (200.0 + 700.0 * t + 300.0 * c) * t) +
               noise(rng);
    });
}

// Run under AddressSanitizer: exact-size buffers, so any stray read is reported.
TEST(ColumnAnalyzer, HostileParametersStayInsideTheSamples) {
    const auto data = chirp(2, 3000);
    std::vector<std::uint8_t> odd(data.begin(), data.begin() + 1001); // a torn last sample
    const std::vector<std::uint8_t> empty;
    for (const std::vector<std::uint8_t>* bytes :
         std::initializer_list<const std::vector<std::uint8_t>*>{&data, &odd, &empty}) {
        for (const long hop : {1L, 3L, 5000L, 1L << 40, std::numeric_limits<long>::max()}) {
            for (const int channels : {1, 2}) {
                auto in = inputsFor(*bytes, channels, 16);
                in.run.hop = hop;
                in.run.columns = 300;
                in.averageCountScroll = hop == 3 ? 1000000 : -5;
                in.corrections.setLevelScaleCode(hop == 1 ? std::numeric_limits<std::int32_t>::min()
                                                          : 30000);
                in.highBandHz = 90000; // rows beyond the last bin
                SpectralImage image = imageFor(in);
                ColumnAnalyzer analyzer;
                ASSERT_EQ(analyzer.setup(in, image), SetupResult::Ok);
                EXPECT_LE(analyzer.averageCount(), MAX_AVERAGE_COUNT);
                EXPECT_GE(analyzer.averageCount(), 1);
                analyzer.analyzeColumns(-10, 400, image);
                analyzer.analyzeColumn(299, image);
                analyzer.analyzeColumn(5000, image);
                ASSERT_LE(std::ranges::max(image.surface().pixels()), kLastGradientIndex);
            }
        }
    }
}

TEST(ColumnAnalyzer, SetupRefusesWhatItCannotAnalyse) {
    const auto bytes = chirp(1, 3000);
    const auto base = inputsFor(bytes, 1, 16);
    SpectralImage mono = imageFor(base);
    ColumnAnalyzer analyzer;
    const std::pair<const char*, std::function<void(ColumnAnalysisInputs&)>> refused[] = {
        {"no hop", [](auto& in) { in.run.hop = 0; }},
        {"two channels, one band", [](auto& in) { in.channels = 2; }},
        {"24 bits", [](auto& in) { in.bitsPerSample = 24; }},
        {"FFT too large", [](auto& in) { in.run.log2FftSize = 20; }},
        {"log scale from 0 Hz", [](auto& in) { in.frequencyScale = FrequencyScale::Log; }},
    };
    for (const auto& [what, change] : refused) {
        auto in = base;
        change(in);
        EXPECT_EQ(analyzer.setup(in, mono), SetupResult::Unusable) << what;
    }
    EXPECT_FALSE(analyzer.ready());
    analyzer.analyzeColumns(0, 10, mono); // not set up: draws nothing
    EXPECT_TRUE(std::ranges::equal(mono.surface().pixels(), imageFor(base).surface().pixels()));
    EXPECT_EQ(analyzer.setup(base, mono), SetupResult::Ok);
    EXPECT_TRUE(analyzer.ready());
}

TEST(SpectralImage, BandsStripsBarsAndSize) {
    const auto mono = SpectralImage::create({1000, 640, 200, 40, 1});
    ASSERT_TRUE(mono.has_value());
    // {width, height, rows, y of the lowest row, y of the highest}
    EXPECT_EQ(std::tuple(mono->width(), mono->height(), mono->rows(), mono->rowY(0, 0),
                         mono->rowY(0, 159)),
              std::tuple(1000, 200, 160, 199, 40));

    const auto stereo = SpectralImage::create({10, 640, 200, 40, 2});
    ASSERT_TRUE(stereo.has_value());
    // {width, height, y of the right channel's lowest row, y of the left's}
    EXPECT_EQ(std::tuple(stereo->width(), stereo->height(), stereo->rowY(SPECTRAL_RIGHT_CHANNEL, 0),
                         stereo->rowY(SPECTRAL_LEFT_CHANNEL, 0)),
              std::tuple(640, 400, 199, 399));
    for (const int top : {0, 200}) {
        for (int y = top; y < top + 200; ++y) {
            const std::uint8_t expected = y == top + 20   ? kSignal1Index
                                          : y == top + 40 ? kSignal2Index
                                                          : kBackgroundIndex;
            const auto row = stereo->surface().row(y);
            ASSERT_TRUE(std::ranges::all_of(row, [&](auto p) { return p == expected; }))
                << "row " << y;
        }
    }

    // The last beyond what a picture may take: the "Not enough display memory" path.
    for (const SpectralImageGeometry& g : {SpectralImageGeometry{10, 640, 200, 40, 3},
                                           {10, 640, 40, 40, 1},
                                           {10, 640, 200, 0, 1},
                                           {-1, 640, 200, 40, 1},
                                           {std::numeric_limits<long>::max(), 640, 200, 40, 1},
                                           {2000000000L, 640, 600, 40, 2}}) {
        EXPECT_FALSE(SpectralImage::create(g)) << g.columns << " x " << g.plotHeight;
    }

    // A full-scale bar stays inside a small strip.
    auto image = SpectralImage::create({8, 8, 30, 10, 2});
    ASSERT_TRUE(image.has_value());
    image->drawStripColumn(3, SPECTRAL_LEFT_CHANNEL, -32768, 32767);
    for (int y = 0; y < 42; ++y) { // the right band above is untouched
        EXPECT_EQ(at(*image, 3, y), y < 30   ? at(*image, 2, y)
                                    : y < 40 ? kSignal1Index
                                    : y < 41 ? kSignal2Index
                                             : kBackgroundIndex)
            << y;
    }
}

TEST(SliceCopy, EveryColumnIsShownOnceWhileTheImageFitsThenTheViewFollows) {
    constexpr int kVisible = 103;
    std::vector<int> shown(kVisible, 0);
    for (long x = 0; x < kVisible; ++x) {
        const auto slice = sliceForColumn(x, kVisible);
        EXPECT_EQ(slice.has_value(), x % 4 == 0);
        if (slice) {
            EXPECT_FALSE(slice->scrolled);
            EXPECT_EQ(slice->destX, slice->sourceX);
            EXPECT_EQ(slice->sourceX + slice->width - 1, x); // ends at the newest column
            for (int c = slice->sourceX; c < slice->sourceX + slice->width; ++c) {
                ++shown[static_cast<std::size_t>(c)];
            }
        }
    }
    // Every column up to the last copy, once.
    EXPECT_EQ(std::count(shown.begin(), shown.begin() + 101, 1), 101);
    // Then the view follows: the whole view's width up to the newest column, scrolled there.
    constexpr int kFirst = 400 - kVisible + 1;
    EXPECT_EQ(sliceForColumn(400, kVisible), (SliceCopy{kFirst, kVisible, 0, kFirst, true}));
    EXPECT_FALSE(sliceForColumn(8, 0));
    EXPECT_FALSE(sliceForColumn(-4, 100));
}

TEST(SegmentRange, TimesBecomeWholeFramesTheEndGainsOneFrameAndThePlanChecksTheRange) {
    // {begin, end msec, rate, channels, bytes a sample, N, data bytes (10 s), data offset}; the
    // begin at 529.2 bytes: 529, then 528 in whole frames.
    SegmentRangeInputs in{3, 2001, 44100, 2, 2, 1024, 44100 * 4 * 10, 46};
    // {begin, end (one FFT frame on), asked end, end msec, file offset}: the end at 352976.4
    // bytes, 352976, a whole frame already.
    EXPECT_EQ(segmentByteRange(in), (SegmentRange{528, 352976 + 1024 * 4, 352976, 2001, 528 + 46}));
    EXPECT_EQ(segmentByteRange(in).lengthBytes(), 352976 + 1024 * 4 - 528);

    in.endMsec = 10000; // the extra frame would pass the data's end
    in.dataBytes += 3;  // a torn last frame does not count
    EXPECT_EQ(segmentByteRange(in),
              (SegmentRange{528, 44100 * 4 * 10, 44100 * 4 * 10, 10000, 574}));

    // 8-bit mono at 11025 Hz from 1 msec: 11.025 bytes.
    const SegmentRangeInputs mono8{1, 10000, 11025, 1, 1, 1024, in.dataBytes, 0};
    EXPECT_EQ(std::tuple(segmentByteRange(mono8).beginByte, segmentByteRange(mono8).fileOffset),
              std::tuple(11, 11));

    // The plan checks the range in order, on 5 s of 16-bit mono.
    SegmentRangeInputs five{0, 5000, 8000, 1, 2, 1024, 16000 * 5, 0};
    auto plan = [&](float window) {
        return planAnalyzeSegment(five, window, FrequencyScale::Linear, 0, 4000).check;
    };
    EXPECT_TRUE(plan(128.0f).proceeds());
    // The window is checked as given (the order and outcomes of the checks: parameters_test).
    EXPECT_EQ(plan(0.5f).messages.at(0).text, "FFT Window Too Small");

    for (const std::int64_t begin :
         {std::int64_t{-5}, std::int64_t{6000}, std::numeric_limits<std::int64_t>::max(),
          std::numeric_limits<std::int64_t>::min()}) {
        five.beginMsec = begin;
        EXPECT_EQ(plan(128.0f).messages.at(0).text, "Improper Begin or End") << begin;
    }
    // An end before the begin, though the frame added to the end reaches past the begin.
    five.beginMsec = 1010;
    five.endMsec = 1000;
    EXPECT_GT(segmentByteRange(five).endByte, segmentByteRange(five).beginByte);
    EXPECT_EQ(plan(128.0f).messages.at(0).text, "Improper Begin or End");
    five.beginMsec = 4990; // 10 msec plus one frame of 1024 is 2208 bytes; 4995 leaves 2048 - 8
    five.endMsec = 4992;
    EXPECT_EQ(plan(128.0f).messages.at(0).text, "Sample Size Too Small");
}

// The loop on two cores paints the same bytes as one analyser in order (and as one taking the
// columns in any order), and hands the level log every column's averages in column order: mono and
// stereo, with and without averaging (the ring primed at each block), a last block cut short, and
// without the worker.
TEST(ParallelColumnLoop, TwoCoresGiveThePictureAndTheLevelsOfOne) {
    for (const int channels : {1, 2}) {
        const auto bytes = chirp(channels, 3 * kRate + 517);
        for (const auto& [average, useWorker] : {std::pair{1, true}, {7, true}, {3, false}}) {
            SCOPED_TRACE(testing::Message() << channels << " channels, average " << average
                                            << " worker " << useWorker);
            ColumnAnalysisInputs in = inputsFor(bytes, channels, 16);
            in.averageCountScroll = average;
            in.binLevels = true;
            const long block = parallelBlockColumns(average);
            ASSERT_GT(in.run.columns, 4 * block);
            ASSERT_NE(in.run.columns % block, 0);
            SpectralImage one = imageFor(in);
            ColumnAnalyzer analyzer;
            ASSERT_EQ(analyzer.setup(in, one), SetupResult::Ok);

            SpectralImage two = imageFor(in);
            ParallelColumnLoop loop;
            ASSERT_EQ(loop.setup(in, two, useWorker), SetupResult::Ok);
            ASSERT_EQ(loop.sharing(), useWorker);
            for (long x = 0; x < loop.columns(); ++x) {
                loop.analyzeColumn(x, two);
                analyzer.analyzeColumn(x, one);
                for (int ch = 0; ch < channels; ++ch) {
                    const auto got = loop.averagedBins(ch);
                    const auto want = analyzer.averagedBins(ch);
                    ASSERT_FALSE(got.empty());
                    ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end()))
                        << "column " << x << " channel " << ch;
                }
            }
            loop.release();
            EXPECT_TRUE(std::ranges::equal(one.surface().pixels(), two.surface().pixels()));
            // So does one analyser taking the columns in any order.
            SpectralImage shuffled = imageFor(in);
            ColumnAnalyzer anyOrder;
            ASSERT_EQ(anyOrder.setup(in, shuffled), SetupResult::Ok);
            std::vector<long> order(static_cast<std::size_t>(anyOrder.columns()));
            std::iota(order.begin(), order.end(), 0L);
            std::shuffle(order.begin(), order.end(), std::mt19937(3));
            for (const long x : order) {
                anyOrder.analyzeColumn(x, shuffled);
            }
            EXPECT_TRUE(std::ranges::equal(one.surface().pixels(), shuffled.surface().pixels()));
        }
    }
}

// A run stopped after some columns, by the analyser alone or by the loop inside a block of its
// worker (its destructor ends the worker at once), keeps the columns drawn and leaves the rest as
// created, though the worker's block went further.
TEST(ParallelColumnLoop, StoppingEarlyKeepsTheColumnsDrawnAndLeavesTheRest) {
    const auto bytes = chirp(1, 3 * kRate);
    const ColumnAnalysisInputs in = inputsFor(bytes, 1, 16);
    const SpectralImage whole = analyse(in);
    const SpectralImage blank = imageFor(in);
    const long stopAt = parallelBlockColumns(1) + 5;
    ASSERT_GT(in.run.columns, 2 * stopAt);
    SpectralImage plain = imageFor(in);
    SpectralImage shared = imageFor(in);
    {
        ColumnAnalyzer analyzer;
        ASSERT_EQ(analyzer.setup(in, plain), SetupResult::Ok);
        analyzer.analyzeColumns(0, stopAt, plain);
        ParallelColumnLoop loop;
        ASSERT_EQ(loop.setup(in, shared, true), SetupResult::Ok);
        for (long x = 0; x < stopAt; ++x) {
            loop.analyzeColumn(x, shared);
        }
    }
    for (const SpectralImage* image : {&plain, &shared}) {
        for (int y = 0; y < image->height(); ++y) {
            const auto row = image->surface().row(y);
            ASSERT_TRUE(std::ranges::equal(row.first(stopAt), whole.surface().row(y).first(stopAt)))
                << (image == &plain ? "analyser" : "loop") << ", row " << y;
            ASSERT_TRUE(
                std::ranges::equal(row.subspan(stopAt), blank.surface().row(y).subspan(stopAt)))
                << (image == &plain ? "analyser" : "loop") << ", row " << y;
        }
    }
    // 100001.5 bytes a column cut to whole 4-byte frames.
    EXPECT_EQ(stoppedRun(100, 400, 400 * 1000 + 6, 4), (StoppedRun{100, 100 * 1000}));
    EXPECT_EQ(stoppedRun(400, 400, 12345, 2), (StoppedRun{400, 12345}));
}

} // namespace
} // namespace korv
