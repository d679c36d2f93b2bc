// The scans' step loop on a virtual clock, without a window or a device: a sine on an exact
// bin gives the level of its formula, the steps come in the order of the sound, and a STOP
// among the messages ends the loop.

#include "pipeline/scan_loop.h"

#include "analysis/calibration_edit.h"
#include "settings/default_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <ranges>
#include <vector>

namespace korv {
namespace {

constexpr std::int32_t kRate = 32000; // 1 kHz is bin 32 of 1024
constexpr int kN = 1024;              // the inputs' default
constexpr double kToneHz = 1000.0;
constexpr double kAmplitude = 8000.0;

// Time moves only when the loop sleeps; after stopAfterPumps pumps a message sets STOP.
class VirtualPacer final : public ScanPacer {
  public:
    VirtualPacer(bool& stop, long stopAfterPumps) : stop_(stop), stopAfter_(stopAfterPumps) {}
    std::int64_t nowMs() override { return now_; }
    void sleep(std::int64_t ms) override { now_ += std::max<std::int64_t>(ms, 0); }
    void pumpMessages() override {
        if (++pumps_ >= stopAfter_) {
            stop_ = true;
        }
    }
    [[nodiscard]] long pumps() const { return pumps_; }

  private:
    bool& stop_;
    long stopAfter_;
    long pumps_ = 0;
    std::int64_t now_ = 0;
};

// A mono sine of endFrames frames (or only frames from .. to - 1 of them, silence elsewhere),
// each frame's value worked out from its index alone; the device cannot say where it is, so the
// loop goes by the clock.
class SineSource final : public ScanSource {
  public:
    explicit SineSource(std::int64_t endFrames, std::int64_t from = 0, std::int64_t to = -1)
        : end_(endFrames), from_(from), to_(to < 0 ? endFrames : to) {}
    std::optional<std::int64_t> devicePositionFrames() override { return std::nullopt; }
    std::optional<std::int64_t> endFrame() const override { return end_; }
    bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                        std::span<std::int16_t>) override {
        const auto w = static_cast<std::int64_t>(first.size());
        if (position < w) {
            return false;
        }
        for (std::int64_t i = 0; i < w; ++i) {
            const std::int64_t frame = position - w + i;
            const double t = static_cast<double>(frame) / kRate;
            const bool on = frame >= from_ && frame < to_;
            first[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(
                on ? std::lround(kAmplitude * std::sin(2.0 * std::numbers::pi * kToneHz * t)) : 0);
        }
        return true;
    }
    bool endOfData() const override { return false; }

  private:
    std::int64_t end_;
    std::int64_t from_;
    std::int64_t to_;
};

// Keeps what every step handed over: its end frame and the tone bin's level.
class RecordingDisplay final : public ScanDisplay {
  public:
    int rows() const override { return kN / 2; }
    bool wantsBins() const override { return true; }
    void step(const ScanStep& step) override {
        endFrames.push_back(step.endFrame);
        toneLevels.push_back(step.bins[0][static_cast<std::size_t>(kToneHz * kN / kRate)]);
    }
    void finish() override { ++finished; }
    std::vector<std::int64_t> endFrames;
    std::vector<float> toneLevels;
    int finished = 0;
};

// The inputs' defaults (mono, 1024 points and samples, 10 msec a column, linear rows from 0 Hz,
// no gain) and a flat calibration.
ScanLoopInputs inputs() {
    ScanLoopInputs in;
    in.sampleRate = kRate;
    in.analysisWindowMsec = static_cast<float>(kN * 1000.0 / kRate);
    in.highBandHz = kRate / 2;
    CalibrationCurve flat = defaultCalibrationCurve();
    zeroCalibrationCurve(flat);
    in.corrections = LevelCorrections(flat, 0);
    in.averageCount = 4;
    return in;
}

// Under the Hann window a sine on a bin reads half its amplitude there: 40 log10 of the power
// in quarter-dB, averaged whole.
double toneLevel() {
    return std::trunc(40.0 * std::log10(std::pow(kAmplitude / 2.0, 2.0)));
}

TEST(ScanLoop, ASineGivesItsLevelInOrderedStepsUntilTheEnd) {
    bool stop = false;
    VirtualPacer pacer(stop, 1'000'000);
    SineSource source(kRate); // one second
    RecordingDisplay display;
    ScanRun run;
    ASSERT_EQ(runScanLoop(inputs(), source, display, pacer, stop, run), SetupResult::Ok);
    EXPECT_TRUE(run.endReached);
    EXPECT_EQ(display.finished, 1);
    // A step every 10 msec once a whole window has played, until the second is over.
    ASSERT_GE(display.endFrames.size(), 90u);
    EXPECT_LE(display.endFrames.size(), 100u);
    EXPECT_EQ(std::ranges::adjacent_find(display.endFrames, std::greater_equal<>()),
              display.endFrames.end());
    EXPECT_LE(display.endFrames.back(), kRate);
    // While the ring fills, the averages are over the steps taken so far.
    EXPECT_NEAR(display.toneLevels.front(), toneLevel(), 1.0);
    EXPECT_NEAR(display.toneLevels.back(), toneLevel(), 1.0);
}

TEST(ScanLoop, StopAmongTheMessagesEndsTheLoop) {
    bool stop = false;
    VirtualPacer pacer(stop, 6);
    SineSource source(std::int64_t{kRate} * 3600);
    RecordingDisplay display;
    ScanRun run;
    ASSERT_EQ(runScanLoop(inputs(), source, display, pacer, stop, run), SetupResult::Ok);
    EXPECT_FALSE(run.endReached);
    EXPECT_EQ(pacer.pumps(), 6);
    // Messages are pumped before every step, 10 msec apart: the sixth held the STOP. Of the
    // five steps before it, those from the first whole window on drew a column.
    const long whole =
        std::ranges::count_if(std::views::iota(1, 6), [](int k) { return k * kRate / 100 >= kN; });
    EXPECT_EQ(run.columnsDrawn, whole);
    EXPECT_EQ(static_cast<long>(display.endFrames.size()), whole);
    EXPECT_EQ(display.finished, 1);
}

// A 64 msec beep in silence between two columns 200 msec apart: with Max Over Step one of the
// frames over the step lies wholly in it and the column shows its level; without, each
// column's last frame misses it.
TEST(ScanLoop, MaxOverStepSeesABeepBetweenTwoColumns) {
    ScanLoopInputs in = inputs();
    in.timeScaleMsec = 200.0f;
    in.averageCount = 1;
    std::vector<std::int64_t> ends;
    const auto loudest = [&](bool maxOver, std::int64_t from, std::int64_t to) {
        in.maxOverStep = maxOver;
        bool stop = false;
        VirtualPacer pacer(stop, 1'000'000);
        SineSource source(kRate * 2, from, to);
        RecordingDisplay display;
        ScanRun run;
        EXPECT_EQ(runScanLoop(in, source, display, pacer, stop, run), SetupResult::Ok);
        ends = display.endFrames;
        return *std::max_element(display.toneLevels.begin(), display.toneLevels.end());
    };
    static_cast<void>(loudest(false, 0, 0)); // where the columns fall
    ASSERT_GE(ends.size(), 4u);
    const std::int64_t from = ends[2] + 1500;
    const std::int64_t to = from + 2 * kN;
    ASSERT_LT(to + kN, ends[3]);
    EXPECT_NEAR(loudest(true, from, to), toneLevel(), 1.0);
    EXPECT_LT(loudest(false, from, to), toneLevel() - 200.0); // 50 dB lower
}

} // namespace
} // namespace korv
