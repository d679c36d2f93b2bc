// The engine against a plain double-precision DFT of the windowed frame, scaled by 2/N.

#include "analysis/fft.h"
#include "analysis/levels.h"
#include "settings/default_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <tuple>
#include <vector>

using namespace korv;

namespace {

// The Hann window of length 2*(W/2) at the start of the frame, written from its definition.
std::vector<double> referenceWindow(int n, int w) {
    std::vector<double> win(static_cast<std::size_t>(n), 0.0);
    const int h = w / 2;
    for (int i = 0; i < 2 * h; ++i) {
        win[i] = 0.5 - 0.5 * std::cos(std::numbers::pi * i / h);
    }
    return win;
}

// Bin k of the plain DFT of the windowed frame, scaled by 2/N.
std::complex<double> referenceBin(const std::vector<std::int16_t>& frame,
                                  const std::vector<double>& win, int k) {
    const auto n = static_cast<int>(frame.size());
    std::complex<double> sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) * i / n;
        sum += frame[i] * win[i] * std::complex<double>(std::cos(angle), std::sin(angle));
    }
    return sum * (2.0 / n);
}

std::vector<std::int16_t> randomFrame(int n, std::mt19937& rng, int amplitude = 32767) {
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<std::int16_t> f(static_cast<std::size_t>(n));
    std::ranges::generate(f, [&] { return static_cast<std::int16_t>(d(rng)); });
    return f;
}

// A full-scale sine of whole periods on bin `bin` of an n-point frame.
std::vector<std::int16_t> sineOnBin(int n, int bin) {
    std::vector<std::int16_t> frame(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        frame[i] = static_cast<std::int16_t>(
            std::lround(32767.0 * std::sin(2.0 * std::numbers::pi * bin * i / n)));
    }
    return frame;
}

} // namespace

TEST(FftEngine, BinsMatchTheReferenceDftAtEverySize) {
    std::mt19937 rng(1234);
    for (int log2n = 9; log2n <= 14; ++log2n) {
        const int n = 1 << log2n;
        FftEngine fft;
        ASSERT_EQ(fft.setupFft(log2n, FFT_FULL_WINDOW_RATE, FFT_FULL_WINDOW_MSEC), 0);
        // The direct DFT costs N^2; check every bin at the small sizes and a sample above.
        auto frame = randomFrame(n, rng);
        const auto input = frame;
        const auto win = referenceWindow(n, n);
        for (int i = 0; i < n; ++i) {
            ASSERT_NEAR(fft.window()[i], win[i], 1e-9) << i;
        }
        frame.push_back(0x5A5A); // guard past the frame
        fft.transformFrame(std::span(frame).first(static_cast<std::size_t>(n)), FftOutput::Levels);
        EXPECT_EQ(frame.back(), 0x5A5A);

        const int step = n <= 2048 ? 1 : n / 256 + 1;
        std::vector<int> bins;
        for (int k = 0; k < n / 2; k += step) {
            bins.push_back(k);
        }
        bins.push_back(n / 2 - 1);
        // The magnitude mode gives the root of the same power.
        auto magnitudes = input;
        fft.transformFrame(magnitudes, FftOutput::Magnitudes);
        for (const int k : bins) {
            const std::complex<double> sum = referenceBin(input, win, k);
            // Twiddles are rounded to 1/32768; the error grows with the stage count.
            const double tol = 2e-4 * std::abs(sum) + 0.05 * log2n;
            ASSERT_NEAR(fft.binRe(k), sum.real(), tol) << "N " << n << " bin " << k;
            ASSERT_NEAR(fft.binIm(k), sum.imag(), tol) << "N " << n << " bin " << k;
            const double p = std::norm(sum);
            if (p > 100.0) {
                const int want = static_cast<int>(40.0 * std::log10(p));
                ASSERT_NEAR(frame[k], want, 1) << "N " << n << " bin " << k;
            }
            ASSERT_NEAR(magnitudes[k], std::min(std::abs(sum), 32767.0), 1.5 + 2.0 * tol)
                << "N " << n << " bin " << k;
        }
        // A full-scale sine on a bin gives 337; Hann leakage reaches only the two neighbours.
        auto sine = sineOnBin(n, n / 16);
        fft.transformFrame(sine, FftOutput::Levels);
        EXPECT_EQ(sine[n / 16], 337) << "N " << n;
        EXPECT_GT(sine[n / 16 - 1], 300);
        EXPECT_LT(sine[n / 16 + 5], 100);
    }
}

// The vector path gives the plain one's results bit for bit: levels, magnitudes and the
// complex bins of many random frames, loud, faint and at full scale, at every size (the
// small ones take the vector loops' tails), with full and shortened windows. So does the
// transform of the same samples handed over as floats, on either path: 8- and 16-bit files
// analysed through it give exactly the levels of the integer frames.
TEST(FftEngine, VectorPathMatchesThePlainOneExactly) {
    std::mt19937 rng(99);
    for (int log2n = 1; log2n <= FFT_MAX_LOG2_SIZE; ++log2n) {
        const int n = 1 << log2n;
        for (const float windowMsec : {FFT_FULL_WINDOW_MSEC, 7.5f}) {
            FftEngine fft;
            ASSERT_EQ(fft.setupFft(log2n, 22050, windowMsec), 0);
            for (int round = 0; round < 40; ++round) {
                auto input = randomFrame(n, rng, round % 4 == 1 ? 2 : 32767);
                if (round % 4 == 2) {
                    for (std::size_t i = 0; i < input.size(); ++i) {
                        input[i] = (i / 3) % 2 == 0 ? std::int16_t{-32768} : std::int16_t{32767};
                    }
                }
                for (const FftOutput mode : {FftOutput::Levels, FftOutput::Magnitudes}) {
                    auto fast = input;
                    auto plain = input;
                    fft.transformFrame(fast, mode);
                    std::vector<double> bins;
                    for (int k = 0; k < n / 2; ++k) {
                        bins.push_back(fft.binRe(k));
                        bins.push_back(fft.binIm(k));
                    }
                    const std::vector<float> asFloats(input.begin(), input.end());
                    std::vector<std::int16_t> fromFloats(static_cast<std::size_t>(n / 2));
                    std::vector<std::int16_t> fromFloatsPlain(static_cast<std::size_t>(n / 2));
                    fft.transformSamples(asFloats, fromFloatsPlain, mode, true);
                    fft.transformSamples(asFloats, fromFloats, mode);
                    fft.transformFramePlain(plain, mode);
                    ASSERT_EQ(fast, plain) << "N " << n << " mode " << static_cast<int>(mode);
                    const std::vector<std::int16_t> half(fast.begin(), fast.begin() + n / 2);
                    ASSERT_EQ(fromFloats, half) << "N " << n << " mode " << static_cast<int>(mode);
                    ASSERT_EQ(fromFloatsPlain, half) << "N " << n;
                    for (int k = 0; k < n / 2; ++k) {
                        ASSERT_EQ(bins[2 * k], fft.binRe(k)) << "N " << n << " bin " << k;
                        ASSERT_EQ(bins[2 * k + 1], fft.binIm(k)) << "N " << n << " bin " << k;
                    }
                }
            }
        }
    }
}

TEST(FftEngine, WindowLengthRuleAndAHalfWindowIgnoresTheRest) {
    // W = rate x msec, limited to N; the full-window rate always gives N. {log2 N, rate,
    // msec, W}, the last one odd.
    FftEngine fft;
    for (const auto& [log2n, rate, msec, length] :
         {std::tuple{11, 8000, 100.0f, 800}, std::tuple{11, 8000, 1000.0f, 2048},
          std::tuple{11, FFT_FULL_WINDOW_RATE, 3.0f, 2048}, std::tuple{9, 1000, 101.0f, 101}}) {
        ASSERT_EQ(fft.setupFft(log2n, rate, msec), 0);
        EXPECT_EQ(fft.windowLength(), length) << rate << " Hz, " << msec << " msec";
    }
    // An odd W uses 2*(W/2) samples: entry 2*(W/2) and beyond are zero.
    EXPECT_DOUBLE_EQ(fft.window()[0], 0.0);
    EXPECT_DOUBLE_EQ(fft.window()[50], 1.0);
    EXPECT_GT(fft.window()[99], 0.0);
    EXPECT_EQ(fft.window()[100], 0.0);
    // W below 2: a silent window, every level 0.
    ASSERT_EQ(fft.setupFft(9, 1000, 1.0f), 0);
    std::vector<std::int16_t> frame(512, 20000);
    fft.transformFrame(frame, FftOutput::Levels);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.begin() + 256, [](auto v) { return v == 0; }));
    EXPECT_EQ(fft.setupFft(15, 1000, 1.0f), -1);
    EXPECT_FALSE(fft.ready());

    // Half the frame: the peak is lower and the samples after the window do not count.
    const int n = 1024;
    // 512 samples at 44100 Hz.
    ASSERT_EQ(fft.setupFft(10, 44100, 512.0f * 1000.0f / 44100.0f + 0.001f), 0);
    EXPECT_EQ(fft.windowLength(), 512);
    const int bin = 64; // whole periods inside the first 512 samples as well
    auto sine = sineOnBin(n, bin);
    auto noisy = sine;
    std::mt19937 rng(5);
    for (int i = 512; i < n; ++i) {
        noisy[i] = static_cast<std::int16_t>(rng());
    }
    fft.transformFrame(sine, FftOutput::Levels);
    fft.transformFrame(noisy, FftOutput::Levels);
    EXPECT_EQ(sine[bin], 313);
    const std::span<const std::int16_t> levels(sine.data(), n / 2);
    EXPECT_TRUE(std::ranges::equal(levels, std::span(noisy).first(n / 2)))
        << "samples after 2*(W/2) must not count";
}

TEST(FftEngine, SilenceGivesZeroLevelsAndAShortFrameIsLeftAlone) {
    FftEngine fft;
    ASSERT_EQ(fft.setupFft(10, FFT_FULL_WINDOW_RATE, FFT_FULL_WINDOW_MSEC), 0);
    std::vector<std::int16_t> frame(1024, 0);
    fft.transformFrame(frame, FftOutput::Levels);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.begin() + 512, [](auto v) { return v == 0; }));
    // 8-bit silence is silence too.
    EXPECT_EQ(toAnalysisSample(std::uint8_t{128}), 0);
    EXPECT_EQ(toAnalysisSample(std::uint8_t{0}), -32768);
    EXPECT_EQ(toAnalysisSample(std::uint8_t{255}), 32512);
    EXPECT_EQ(toAnalysisSample(std::int16_t{-1234}), -1234);
    std::vector<std::int16_t> tooShort(1000, 77);
    fft.transformFrame(tooShort, FftOutput::Levels);
    EXPECT_EQ(tooShort[0], 77);
}

// The level of a power is 40 log10(P) truncated, whatever logarithm computes it: random
// powers over the whole range, the powers right at each step of the truncation and one
// representable value either side of it, and powers that are no normal positive numbers,
// in batches that leave a tail past the last group of four.
TEST(FftEngine, LevelsAreTheTruncatedFortyLog10AtEveryStep) {
    const auto reference = [](double p) -> std::int16_t {
        if (!(p > 0.0)) {
            return 0;
        }
        return static_cast<std::int16_t>(std::clamp(40.0 * std::log10(p), -32767.0, 32767.0));
    };
    std::vector<double> powers;
    std::mt19937_64 rng(11);
    // Beyond single precision's range both ways, where the quick levels give way to log10.
    std::uniform_real_distribution<double> exponent(-45.0, 45.0);
    for (int i = 0; i < 200000; ++i) {
        powers.push_back(std::pow(10.0, exponent(rng)));
    }
    for (int step = -1800; step <= 1800; ++step) {
        const double p = std::pow(10.0, step / 40.0);
        for (const double q : {std::nextafter(p, 0.0), p, std::nextafter(p, 1e300)}) {
            powers.push_back(q);
        }
    }
    for (const double odd :
         {0.0, -0.0, -1.0, 1.0, std::numeric_limits<double>::denorm_min(),
          std::numeric_limits<double>::min(), 1e-310, std::numeric_limits<double>::max(),
          std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        powers.push_back(odd);
    }
    powers.push_back(3.0); // a tail of three
    powers.push_back(1e6);
    std::vector<std::int16_t> levels(powers.size(), -1);
    powersToLevels(powers, levels);
    for (std::size_t i = 0; i < powers.size(); ++i) {
        ASSERT_EQ(levels[i], reference(powers[i])) << powers[i];
    }
}

TEST(Calibration, CurveInterpolatesInLogFrequency) {
    // The third-octave points, lifted 9 dB at 10 Hz down to 1 dB at 63 Hz.
    CalibrationCurve curve = defaultCalibrationCurve();
    for (int p = 0; p < 9; ++p) {
        curve[p].correctionDb = static_cast<float>(9 - p);
    }
    // 8000 Hz at N = 1024: bins at 7.8125 Hz steps.
    const auto off = buildCalibrationOffsets(8000, 1024, curve);
    ASSERT_EQ(off.size(), 512u);
    EXPECT_EQ(std::pair(off[0], off[1]), (std::pair<std::int16_t, std::int16_t>(4 * 9, 4 * 9)))
        << "below 10 Hz: the first point's value";
    // Bin 2 = 15.625 Hz lies between 12.5 Hz (8 dB) and 16 Hz (7 dB).
    const double want = (std::log10(15.625) - std::log10(12.5)) * (7.0 - 8.0) /
                            (std::log10(16.0) - std::log10(12.5)) +
                        8.0;
    EXPECT_EQ(off[2], 4 * static_cast<int>(want));
    EXPECT_EQ(off[300], 0);
}

TEST(Calibration, PointsExactlyAndBeyondTheLastUsedOne) {
    CalibrationCurve curve{};
    for (int j = 0; j < kCalibrationPoints; ++j) {
        curve[j] = {static_cast<float>(100 * (j + 1)), static_cast<float>(j % 5)};
    }
    curve[33].correctionDb = -7.0f;
    curve[34].correctionDb = 50.0f; // must never be used
    // 2000 Hz rate, N = 16: bins at 125 Hz; bin 4 = 500 Hz is point 4 exactly.
    const auto off = buildCalibrationOffsets(2000, 16, curve);
    ASSERT_EQ(off.size(), 8u);
    EXPECT_EQ(off[0], 0) << "0 Hz is below the first point (100 Hz, 0 dB)";
    EXPECT_EQ(off[4], 4 * 4);
    const auto high = buildCalibrationOffsets(48000, 64, curve); // 750 Hz steps
    EXPECT_EQ(high[31], 4 * -7) << "above point 33: its value, not point 34's";
    // 1525 Hz lies between 1500 Hz (4 dB) and 1600 Hz (0 dB).
    const auto mid = buildCalibrationOffsets(6100, 4, curve);
    const double want = (std::log10(1525.0) - std::log10(1500.0)) * (0.0 - 4.0) /
                            (std::log10(1600.0) - std::log10(1500.0)) +
                        4.0;
    EXPECT_EQ(mid[1], 4 * static_cast<int>(std::trunc(want)));
}

TEST(Calibration, UnmatchedOrHostileCurvesStayDefined) {
    CalibrationCurve curve{};
    curve.fill({std::nanf(""), 5.0f});
    curve[0] = {100.0f, 3.0f};
    curve[33] = {1000.0f, 6.0f};
    // 500 Hz lies between the first and the last point but in no interval: offset 0.
    const auto off = buildCalibrationOffsets(2000, 8, curve);
    EXPECT_EQ(std::pair(off[0], off[2]), (std::pair<std::int16_t, std::int16_t>(12, 0)));
    CalibrationCurve nan{};
    nan.fill({std::nanf(""), std::nanf("")});
    const auto zero = buildCalibrationOffsets(44100, 512, nan);
    EXPECT_TRUE(std::all_of(zero.begin(), zero.end(), [](auto v) { return v == 0; }));
    CalibrationCurve huge{};
    huge.fill({0.0f, 1e30f});
    const auto limited = buildCalibrationOffsets(44100, 512, huge);
    EXPECT_TRUE(std::all_of(limited.begin(), limited.end(), [](auto v) { return v == 4 * 8191; }));
}

// Eight at a time and one at a time must agree with the 64-bit sum clamped once, whatever the
// gain code (a hostile settings file can hold any 32-bit value) and wherever the tail starts.
TEST(LevelCorrections, EveryLengthAndGainGivesTheClampedWideSum) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any16(-32768, 32767);
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const std::int32_t codes[] = {0,     -9,    15,     8191,   -8192, 65535,
                                  65536, 65537, -65536, -65537, kMax,  kMin};
    for (const std::int32_t code : codes) {
        for (std::size_t n = 0; n <= 37; ++n) {
            std::vector<std::int16_t> levels(n);
            std::vector<std::int16_t> offsets(n + 3); // longer: only the common part changes
            const auto any = [&] { return static_cast<std::int16_t>(any16(rng)); };
            std::ranges::generate(levels, any);
            std::ranges::generate(offsets, any);
            const std::vector<std::int16_t> before = levels;
            applyLevelCorrections(levels, offsets, code);
            for (std::size_t k = 0; k < n; ++k) {
                const std::int64_t wide =
                    std::int64_t{before[k]} + offsets[k] - 4 * std::int64_t{code};
                ASSERT_EQ(levels[k], std::clamp<std::int64_t>(wide, -32768, 32767))
                    << "code " << code << " n " << n << " k " << k;
            }
        }
    }
}
