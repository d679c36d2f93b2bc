#include "meter/octave_bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace korv::meter {
namespace {

const double G = std::pow(10.0, 0.3);

// The bands' labels, spaced.
std::string labelsOf(const std::vector<Band>& bands) {
    std::string labels;
    for (const Band& band : bands)
        labels += (labels.empty() ? "" : " ") + band.label;
    return labels;
}

// The rate a band runs at is the input's halved this many times: as often as its upper edge
// stays at most 0.3 of the halved rate, but never once only (the bank's documented rule).
int halvingsOf(const Band& band, double rate) {
    int k = 0;
    while (band.upperEdgeHz <= 0.3 * rate / std::ldexp(1.0, k + 1))
        ++k;
    return k == 1 ? 0 : k;
}

// Frames rounded up to whole multiples of 2^k, so that a rate halved k times puts the same
// number of outputs in each stretch.
std::int64_t wholeStretch(double frames, int k) {
    const std::int64_t unit = std::int64_t{1} << k;
    return (static_cast<std::int64_t>(std::ceil(frames)) + unit - 1) / unit * unit;
}

// Each band's steady response in dB to a tone of `hz` (amplitude 1): the tone faded in, the
// filters left to settle, then the mean squares of a cosine and a sine through two banks
// summed, which is |H|^2 exactly (no ripple at twice the tone's frequency to average out).
std::vector<double> toneResponseDb(const BandSpec& spec, double rate, double hz) {
    OctaveBank cosine(spec, rate);
    OctaveBank sine(spec, rate);
    const std::size_t count = cosine.bands().size();
    double narrowest = rate;
    int halvings = 0;
    for (const Band& band : cosine.bands()) {
        narrowest = std::min(narrowest, band.upperEdgeHz - band.lowerEdgeHz);
        halvings = std::max(halvings, halvingsOf(band, rate));
    }
    const auto fade = static_cast<std::int64_t>(std::ceil(3.0 / narrowest * rate));
    const auto fadeFrames = static_cast<double>(fade);
    const std::int64_t settled = wholeStretch(fadeFrames + 8.0 / narrowest * rate, halvings);
    const std::int64_t end = settled + wholeStretch(2.0 / narrowest * rate, halvings);

    // The phasors restarted exactly every 4096 samples, turned sample by sample between.
    std::vector<double> c(static_cast<std::size_t>(end)), s(c.size());
    const std::complex<double> step = std::polar(1.0, 2.0 * std::numbers::pi * hz / rate);
    const std::complex<double> fadeStep = std::polar(1.0, std::numbers::pi / fadeFrames);
    std::complex<double> z, f;
    for (std::int64_t n = 0; n < end; ++n) {
        const auto nd = static_cast<double>(n);
        if (n % 4096 == 0) {
            z = std::polar(1.0, 2.0 * std::numbers::pi * std::fmod(hz * nd / rate, 1.0));
            f = std::polar(1.0, std::numbers::pi * std::min(nd, fadeFrames) / fadeFrames);
        }
        const double gain = n < fade ? 0.5 * (1.0 - f.real()) : 1.0;
        c[static_cast<std::size_t>(n)] = gain * z.real();
        s[static_cast<std::size_t>(n)] = gain * z.imag();
        z *= step;
        f *= fadeStep;
    }
    std::vector<double> cosineMs(count), sineMs(count);
    for (const auto& [from, to] : {std::pair{std::int64_t{0}, settled}, std::pair{settled, end}}) {
        cosine.process({c.data() + from, static_cast<std::size_t>(to - from)});
        sine.process({s.data() + from, static_cast<std::size_t>(to - from)});
        cosine.takeMeanSquares(cosineMs);
        sine.takeMeanSquares(sineMs);
    }
    std::vector<double> db(count);
    for (std::size_t j = 0; j < count; ++j)
        db[j] = 10.0 * std::log10(cosineMs[j] + sineMs[j]);
    return db;
}

std::vector<double> gaussianNoise(unsigned seed, double sigma, std::size_t count) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, sigma);
    std::vector<double> samples(count);
    for (double& x : samples)
        x = gauss(rng);
    return samples;
}

// Each band's mean square of `signal` fed whole to a fresh bank.
std::vector<double> meanSquaresOf(const BandSpec& spec, double rate,
                                  const std::vector<double>& signal) {
    OctaveBank bank(spec, rate);
    bank.process(signal);
    std::vector<double> meanSquares(bank.bands().size());
    bank.takeMeanSquares(meanSquares);
    return meanSquares;
}

// The bank of one band alone (its filters are those it has in any bank).
double bandResponseDb(int b, const Band& band, double rate, double hz) {
    const BandSpec one{b, band.midHz, band.midHz};
    const std::vector<double> db = toneResponseDb(one, rate, hz);
    EXPECT_EQ(db.size(), 1u);
    return db.empty() ? 0.0 : db[0];
}

// Class 1 relative attenuation limits of IEC 61260-1:2014 Table 1 for octave bands, at
// Omega = G^e; the band edge G^(1/2) is held to the limit just inside it (at most +5.3 dB)
// and the one just outside (at least +1.2 dB). Below the mid-band the same at G^-e. Beyond
// G^4 we keep to +70 dB too.
struct Breakpoint {
    double exponent;
    double minDb;
    double maxDb;
};
constexpr double kNone = 1e9;
const std::vector<Breakpoint> kClass1 = {
    {0.0, -0.4, 0.4},   {0.125, -0.4, 0.5}, {0.25, -0.4, 0.7},  {0.375, -0.4, 1.4},
    {0.5, 1.2, 5.3},    {1.0, 16.6, kNone}, {2.0, 40.5, kNone}, {3.0, 60.0, kNone},
    {4.0, 70.0, kNone}, {5.0, 70.0, kNone},
};

// The standard's mapping of an octave breakpoint to a 1/b-octave band, above the mid-band:
// 1 + (G^(1/2b) - 1) / (G^(1/2) - 1) * (Omega_1 - 1).
double mappedOmega(double exponent, int b) {
    return 1.0 + (std::pow(G, 1.0 / (2.0 * b)) - 1.0) / (std::sqrt(G) - 1.0) *
                     (std::pow(G, exponent) - 1.0);
}

// The least attenuation the limits ask at Omega >= 1: that of the last breakpoint at or
// below it (the limits grow outwards); none inside the passband.
double leastAttenuation(double omega, int b) {
    double least = -kNone;
    for (const Breakpoint& point : kClass1) {
        if (point.exponent >= 0.5 && mappedOmega(point.exponent, b) <= omega * (1.0 + 1e-12))
            least = point.minDb;
    }
    return least;
}

// Each band's attenuation at every breakpoint a tone below half the rate can reach.
void expectClass1(int b, const Band& band, double rate) {
    for (const Breakpoint& point : kClass1) {
        const double omega = mappedOmega(point.exponent, b);
        for (const double hz : {band.midHz * omega, band.midHz / omega}) {
            if (hz >= rate / 2.0 || (point.exponent == 0.0 && hz != band.midHz * omega))
                continue;
            const double attenuation = -bandResponseDb(b, band, rate, hz);
            EXPECT_GE(attenuation, point.minDb) << band.label << " Hz band, " << hz << " Hz";
            EXPECT_LE(attenuation, point.maxDb) << band.label << " Hz band, " << hz << " Hz";
        }
    }
}

// Bands to put through every breakpoint: at each rate the bank halves down to, the band with
// the highest and the one with the lowest mid-band frequency.
std::vector<Band> bandsAtEachRate(const std::vector<Band>& bands, double rate) {
    std::vector<Band> chosen;
    for (std::size_t j = 0; j < bands.size(); ++j) {
        const int k = halvingsOf(bands[j], rate);
        const bool first = j == 0 || halvingsOf(bands[j - 1], rate) != k;
        const bool last = j + 1 == bands.size() || halvingsOf(bands[j + 1], rate) != k;
        if (first || last)
            chosen.push_back(bands[j]);
    }
    return chosen;
}

TEST(BandsOf, ThirdOctavesAreBaseTenAndEvenBandsStraddleOneKilohertz) {
    const std::vector<Band> thirds = bandsOf({3, 25.0, 20000.0}, 48000.0);
    ASSERT_EQ(thirds.size(), 30u);
    for (std::size_t j = 0; j < thirds.size(); ++j) {
        const double mid = 1000.0 * std::pow(10.0, (static_cast<double>(j) - 16.0) / 10.0);
        EXPECT_NEAR(thirds[j].midHz, mid, 1e-9 * mid);
        EXPECT_NEAR(thirds[j].lowerEdgeHz, mid * std::pow(10.0, -0.05), 1e-9 * 1e3);
        EXPECT_NEAR(thirds[j].upperEdgeHz, mid * std::pow(10.0, 0.05), 1e-9 * 1e5);
    }
    // Base ten, not base two: 2^(-16/3) would put this band at 24.80 Hz.
    EXPECT_NEAR(thirds.front().midHz, 25.1189, 1e-4);
    // Even b: mid-bands at 1000 G^((2x+1)/2b), so 1 kHz is a band edge.
    const std::vector<Band> sixths = bandsOf({6, 900.0, 1100.0}, 48000.0);
    ASSERT_EQ(sixths.size(), 2u);
    EXPECT_NEAR(sixths[0].upperEdgeHz, 1000.0, 1e-9);
    EXPECT_NEAR(sixths[1].midHz, 1000.0 * std::pow(10.0, 0.025), 1e-9);
    EXPECT_NEAR(bandsOf({24, 20.0, 20.0}, 48000.0).at(0).midHz, 1000.0 * std::pow(G, -271.0 / 48.0),
                1e-9);
}

TEST(BandsOf, LabelsAndRangeAreTheNearestBandsWithinFiveHzAndHalfTheRate) {
    // Nominal labels for 1/1 and 1/3 octave, four significant figures (trailing zeros kept)
    // for the finer bands; no band below 5 Hz or with its upper edge at half the rate or above.
    struct Case {
        BandSpec spec;
        double rate;
        std::string labels;
    };
    const std::string thirds = "25 31.5 40 50 63 80 100 125 160 200 250 315 400 500 630 800 1000 "
                               "1250 1600 2000 2500 3150 4000 5000 6300 8000 10000 12500 16000";
    const std::vector<Case> cases = {
        {{3, 25.0, 20000.0}, 48000.0, thirds + " 20000"},
        // At 44.1 kHz the 20 kHz band's upper edge (22.39 kHz) is above half the rate.
        {{3, 25.0, 20000.0}, 44100.0, thirds},
        {{3, 29.0, 17000.0}, 48000.0, thirds.substr(3)},
        {{3, 1.0, 25.0}, 48000.0, "5 6.3 8 10 12.5 16 20 25"},
        {{1, 25.0, 20000.0}, 48000.0, "31.5 63 125 250 500 1000 2000 4000 8000 16000"},
        {{1, 25.0, 20000.0}, 44100.0, "31.5 63 125 250 500 1000 2000 4000 8000"},
        {{1, 1.0, 20.0}, 48000.0, "8 16"}, // the 4 Hz octave is below 5 Hz
        {{6, 900.0, 1100.0}, 48000.0, "944.1 1059"},
        {{6, 33.5, 33.5}, 48000.0, "33.50"},
        {{6, 335.0, 335.0}, 48000.0, "335.0"},
        {{12, 10292.0, 10292.0}, 48000.0, "10290"},
        {{3, 1000.0, 100.0}, 48000.0, ""},
        {{3, 25.0, std::nan("")}, 48000.0, ""},
        {{2, 25.0, 20000.0}, 48000.0, ""},
        {{3, 25.0, 20000.0}, std::numeric_limits<double>::infinity(), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(labelsOf(bandsOf(c.spec, c.rate)), c.labels)
            << "1/" << c.spec.bandsPerOctave << " from " << c.spec.lowHz << " at " << c.rate;
    // A rate no file would have still gives a bank that works, just deep.
    OctaveBank huge({3, 5.0, 5.0}, 4.0e9);
    ASSERT_EQ(huge.bands().size(), 1u);
    huge.process(std::vector<double>(1000, 0.0));
    for (const double rate : {8000.0, 11025.0, 22050.0, 44100.0, 48000.0, 96000.0, 384000.0}) {
        for (const int b : {1, 3, 6, 12, 24}) {
            const std::vector<Band> bands = bandsOf({b, 0.0, 1e9}, rate);
            ASSERT_FALSE(bands.empty());
            const double ratio = std::pow(G, 1.0 / b);
            EXPECT_GE(bands.front().midHz, 5.0);
            EXPECT_LT(bands.front().midHz / ratio, 5.0);
            EXPECT_LT(bands.back().upperEdgeHz, rate / 2.0) << rate << " Hz, 1/" << b;
            EXPECT_GE(bands.back().upperEdgeHz * ratio, rate / 2.0) << rate << " Hz, 1/" << b;
        }
    }
}

TEST(OctaveBankTones, EveryBandReadsAToneAtItsMidBandWithinATenthOfADecibel) {
    struct Case {
        int b;
        double rate;
    };
    for (const Case c : {Case{1, 44100.0}, Case{1, 48000.0}, Case{3, 8000.0}, Case{3, 44100.0},
                         Case{3, 48000.0}, Case{3, 96000.0}, Case{3, 384000.0}, Case{6, 44100.0},
                         Case{12, 48000.0}, Case{24, 48000.0}}) {
        const std::vector<Band> bands = bandsOf({c.b, 5.0, 1e9}, c.rate);
        for (const Band& band : bands) {
            // The finest bands below 20 Hz take minutes to settle: the lowest stands for them.
            if (c.b >= 12 && band.midHz < 20.0 && &band != &bands.front())
                continue;
            EXPECT_NEAR(bandResponseDb(c.b, band, c.rate, band.midHz), 0.0, 0.1)
                << "1/" << c.b << " octave, " << band.label << " Hz at " << c.rate << " Hz";
        }
    }
}

TEST(OctaveBankTones, AToneOnAnEdgeIsHalfInEachNeighbour) {
    for (const int b : {1, 3, 24}) {
        for (const double rate : {44100.0, 48000.0}) {
            const std::vector<Band> bands = bandsOf({b, b == 24 ? 200.0 : 20.0, 1e9}, rate);
            for (std::size_t j = 0; j + 1 < bands.size(); j += b == 24 ? 7 : 1) {
                const double edge = bands[j].upperEdgeHz;
                const std::vector<double> db =
                    toneResponseDb({b, bands[j].midHz, bands[j + 1].midHz}, rate, edge);
                ASSERT_EQ(db.size(), 2u);
                EXPECT_NEAR(db[0], -3.01, 0.05) << bands[j].label << " Hz band, 1/" << b;
                EXPECT_NEAR(db[1], -3.01, 0.05) << bands[j + 1].label << " Hz band, 1/" << b;
                const double sum =
                    10.0 * std::log10(std::pow(10.0, db[0] / 10.0) + std::pow(10.0, db[1] / 10.0));
                EXPECT_NEAR(sum, 0.0, 0.05) << edge << " Hz, 1/" << b;
            }
        }
    }
}

TEST(OctaveBankTones, AttenuationMeetsClass1AtEveryBreakpoint) {
    struct Case {
        int b;
        double rate;
        double lowHz;
    };
    // The lowest bands take long to settle: down to 5 Hz at the lowest rate and in octaves.
    for (const Case c : {Case{1, 44100.0, 5.0}, Case{1, 48000.0, 5.0}, Case{3, 44100.0, 25.0},
                         Case{3, 48000.0, 25.0}, Case{3, 8000.0, 5.0}, Case{3, 96000.0, 25.0},
                         Case{3, 192000.0, 100.0}, Case{3, 384000.0, 100.0}, Case{6, 48000.0, 25.0},
                         Case{12, 44100.0, 50.0}, Case{24, 48000.0, 50.0}}) {
        const std::vector<Band> bands = bandsOf({c.b, c.lowHz, 1e9}, c.rate);
        for (const Band& band : bandsAtEachRate(bands, c.rate)) {
            SCOPED_TRACE("1/" + std::to_string(c.b) + " octave at " + std::to_string(c.rate));
            expectClass1(c.b, band, c.rate);
        }
    }
}

TEST(OctaveBankTones, NothingFoldsOntoABandThroughTheLowerRates) {
    // The tones that the halvings of the rate would fold onto a band's passband,
    // m rate / 2^k +- f for f its edges and mid-band, are held to the limits there like any
    // other tone; through the halvings the band runs behind, the decimators leave none of them
    // less than 90 dB down, far below the limits' deepest 70 dB.
    const double rate = 48000.0;
    constexpr double kFoldedAttenuationDb = 90.0;
    // 3.15 kHz: the highest band behind the halvings, 8 kHz the highest at the full rate.
    for (const auto& [b, midHz] : {std::pair{3, 8000.0}, std::pair{3, 3150.0}, std::pair{3, 1000.0},
                                   std::pair{1, 125.0}, std::pair{3, 25.0}}) {
        const Band band = bandsOf({b, midHz, midHz}, rate).at(0);
        const int halvings = halvingsOf(band, rate);
        for (int k = 1; rate / std::ldexp(1.0, k) > band.upperEdgeHz; ++k) {
            for (int m = 1; m <= 3; ++m) {
                for (const double sign : {-1.0, 1.0}) {
                    for (const double f : {band.lowerEdgeHz, band.midHz, band.upperEdgeHz}) {
                        const double hz = m * rate / std::ldexp(1.0, k) + sign * f;
                        if (hz >= rate / 2.0 || hz <= band.upperEdgeHz)
                            continue;
                        const double limit = leastAttenuation(hz / band.midHz, b);
                        const double least =
                            k <= halvings ? std::max(limit, kFoldedAttenuationDb) : limit;
                        EXPECT_GE(-bandResponseDb(b, band, rate, hz), least)
                            << band.label << " Hz band, " << hz << " Hz";
                    }
                }
            }
        }
    }
}

// White noise of variance v through a band B Hz wide between its 3 dB edges gives a mean square
// of v k B / (rate / 2): the noise bandwidth of an order-n Butterworth band-pass is
// k = pi / (2n sin(pi / 2n)) times its 3 dB width (n = 4).
TEST(OctaveBankNoise, WhiteNoiseEnergyIsConservedOverTheBands) {
    const double rate = 48000.0;
    const double seconds = 20.0;
    const double noiseBandwidth = std::numbers::pi / (8.0 * std::sin(std::numbers::pi / 8.0));
    const std::vector<double> noise =
        gaussianNoise(11, 0.1, static_cast<std::size_t>(seconds * rate));
    double sumSquares = 0.0;
    for (const double x : noise)
        sumSquares += x * x;
    const double variance = sumSquares / (seconds * rate);
    const BandSpec spec{3, 5.0, 20000.0};
    const std::vector<double> meanSquares = meanSquaresOf(spec, rate, noise);
    const std::vector<Band> bands = bandsOf(spec, rate);
    double total = 0.0;
    double expectedTotal = 0.0;
    for (std::size_t j = 0; j < meanSquares.size(); ++j) {
        const double width = bands[j].upperEdgeHz - bands[j].lowerEdgeHz;
        const double expected = variance * noiseBandwidth * width / (rate / 2.0);
        total += meanSquares[j];
        expectedTotal += expected;
        // Only bands wide enough for the estimate to be good to a few per cent.
        if (width * seconds > 5000.0) {
            EXPECT_NEAR(10.0 * std::log10(meanSquares[j] / expected), 0.0, 0.25) << bands[j].label;
        }
    }
    EXPECT_NEAR(10.0 * std::log10(total / expectedTotal), 0.0, 0.05);
}

TEST(OctaveBankBlocks, ResultsDoNotDependOnTheBlockSizes) {
    const double rate = 48000.0;
    const std::vector<double> signal =
        gaussianNoise(3, 0.3, static_cast<std::size_t>(2.5 * rate) + 17);
    // Takes at interval ends that are not multiples of any power of two.
    const std::vector<std::size_t> takes = {1, 23999, 48000, 72001, 100003, signal.size()};

    auto run = [&](std::size_t block) {
        OctaveBank bank({3, 5.0, 20000.0}, rate);
        std::vector<double> all;
        std::vector<double> meanSquares(bank.bands().size());
        std::size_t done = 0;
        for (const std::size_t take : takes) {
            while (done < take) {
                const std::size_t count = std::min(block, take - done);
                bank.process({signal.data() + done, count});
                done += count;
            }
            bank.takeMeanSquares(meanSquares);
            all.insert(all.end(), meanSquares.begin(), meanSquares.end());
        }
        return all;
    };
    const std::vector<double> whole = run(signal.size());
    for (const std::size_t block : {1u, 37u, 4096u}) {
        const std::vector<double> cut = run(block);
        ASSERT_EQ(cut.size(), whole.size());
        for (std::size_t i = 0; i < cut.size(); ++i)
            ASSERT_EQ(cut[i], whole[i]) << "blocks of " << block << ", value " << i;
    }
    EXPECT_GT(whole.back(), 0.0);
}

TEST(OctaveBankBlocks, ABandAloneReadsAsInTheWholeBank) {
    // The tone tests measure each band in a bank of its own.
    const double rate = 44100.0;
    const std::vector<double> signal = gaussianNoise(5, 0.3, static_cast<std::size_t>(rate));
    const BandSpec spec{3, 5.0, 20000.0};
    const std::vector<double> all = meanSquaresOf(spec, rate, signal);
    const std::vector<Band> bands = bandsOf(spec, rate);
    for (const std::size_t j : {0u, 13u, 20u, 26u, 28u}) {
        const double mid = bands[j].midHz;
        EXPECT_EQ(meanSquaresOf({3, mid, mid}, rate, signal), std::vector<double>{all[j]})
            << bands[j].label;
    }
}

TEST(OctaveBankBlocks, NoFramesReadZeroAndEmptyBanksAreHarmless) {
    OctaveBank bank({3, 25.0, 20000.0}, 48000.0);
    std::vector<double> meanSquares(bank.bands().size(), -1.0);
    bank.takeMeanSquares(meanSquares);
    EXPECT_TRUE(
        std::all_of(meanSquares.begin(), meanSquares.end(), [](double v) { return v == 0.0; }));
    OctaveBank none({3, 1000.0, 100.0}, 48000.0);
    EXPECT_TRUE(none.bands().empty());
    const std::vector<double> some(100, 0.5);
    none.process(some);
    none.takeMeanSquares({});
}

} // namespace
} // namespace korv::meter
