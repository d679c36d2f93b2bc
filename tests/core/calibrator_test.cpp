#include "meter/calibrator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace korv::meter {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> tone(double hz, double db, double rate, double seconds, double dc = 0.0) {
    const double amplitude = std::pow(10.0, db / 20.0);
    std::vector<double> x(static_cast<std::size_t>(seconds * rate));
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = dc + amplitude * std::sin(2.0 * kPi * hz * double(n) / rate);
    return x;
}

CalibratorReading analyse(const std::vector<double>& x, double rate, double level = 94.0) {
    CalibratorAnalysis analysis(rate, level);
    for (std::size_t at = 0; at < x.size(); at += 1000)
        analysis.feed(std::span(x).subspan(at, std::min<std::size_t>(1000, x.size() - at)));
    return analysis.reading();
}

TEST(Calibrator, ASteadyToneGivesTheFullScaleLevel) {
    // 94 dB recorded at -26 dBFS: a full-scale sine would read 120 dB.
    const auto r = analyse(tone(1000.0, -26.0, 48000.0, 5.0), 48000.0);
    ASSERT_EQ(r.verdict, CalibratorVerdict::Accepted) << calibratorReason(r);
    EXPECT_NEAR(r.leq.value, -26.0, 0.01);
    EXPECT_NEAR(r.fullScale.db, 120.0, 0.01);
    EXPECT_NEAR(r.toneHz, 1000.0, 0.1);
    EXPECT_GE(r.steadySeconds, 4.5);
    EXPECT_LE(r.steadinessDb, 0.2);
    EXPECT_EQ(calibratorReason(r), "");
}

TEST(Calibrator, PistonphoneWithAnOffsetAndHandlingNoiseBefore) {
    // 250 Hz at 114 dB, a DC offset from the sound card, a second of knocking before the
    // tone: the steady part alone is measured, the offset left out.
    const double rate = 44100.0;
    std::mt19937 gen(3);
    std::normal_distribution<double> noise(0.0, 0.3);
    std::vector<double> x(static_cast<std::size_t>(rate));
    for (double& v : x)
        v = noise(gen);
    const auto t = tone(250.0, -20.0, rate, 5.0, 0.05);
    x.insert(x.end(), t.begin(), t.end());
    const auto r = analyse(x, rate, 114.0);
    ASSERT_EQ(r.verdict, CalibratorVerdict::Accepted) << calibratorReason(r);
    EXPECT_NEAR(r.toneHz, 250.0, 0.1);
    EXPECT_NEAR(r.fullScale.db, 134.0, 0.02);
}

TEST(Calibrator, RefusesWhatIsNoCalibrator) {
    const double rate = 48000.0;
    std::mt19937 gen(5);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> hiss(static_cast<std::size_t>(5 * rate));
    for (double& v : hiss)
        v = noise(gen);
    EXPECT_EQ(analyse(hiss, rate).verdict, CalibratorVerdict::Noise);
    EXPECT_EQ(analyse(std::vector<double>(5 * 48000, 0.0), rate).verdict, CalibratorVerdict::Noise);
    EXPECT_EQ(analyse({}, rate).verdict, CalibratorVerdict::TooShort);

    // 2 % either side of 1 kHz.
    EXPECT_EQ(analyse(tone(1015.0, -20.0, rate, 4.0), rate).verdict, CalibratorVerdict::Accepted);
    const auto off = analyse(tone(1030.0, -20.0, rate, 4.0), rate);
    EXPECT_EQ(off.verdict, CalibratorVerdict::WrongFrequency);
    EXPECT_NEAR(off.toneHz, 1030.0, 0.5);
    EXPECT_NE(calibratorReason(off).find("1030.0 Hz"), std::string::npos) << calibratorReason(off);

    const auto brief = analyse(tone(1000.0, -20.0, rate, 2.0), rate);
    EXPECT_EQ(brief.verdict, CalibratorVerdict::TooShort);
    EXPECT_NE(calibratorReason(brief).find("too short"), std::string::npos);

    // A level that wobbles 1 dB twice a second.
    auto wobbly = tone(1000.0, -20.0, rate, 6.0);
    for (std::size_t n = 0; n < wobbly.size(); ++n)
        wobbly[n] *= 1.0 + 0.06 * std::sin(2.0 * kPi * 2.0 * double(n) / rate);
    const auto unsteady = analyse(wobbly, rate);
    EXPECT_EQ(unsteady.verdict, CalibratorVerdict::NotSteady);
    EXPECT_GT(unsteady.steadinessDb, 0.5);
    EXPECT_NE(calibratorReason(unsteady).find("not a steady tone"), std::string::npos);
}

} // namespace
} // namespace korv::meter
