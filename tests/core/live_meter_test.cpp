// The live meter and the scan's tap against the meter run straight through the same sound: the
// window's rows must be the tool's, whatever the steps of the scan.
#include "pipeline/live_meter.h"
#include "pipeline/scan_sound_tap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace korv {
namespace {

// A tone over noise, in 16-bit steps, so the tap's samples are the same values.
std::vector<std::int16_t> testSound(double rate, double seconds) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 2000.0);
    std::vector<std::int16_t> x(static_cast<std::size_t>(std::llround(rate * seconds)));
    for (std::size_t n = 0; n < x.size(); ++n) {
        // The tone swells and fades, so the intervals differ.
        const double t = static_cast<double>(n) / rate;
        const double tone = 9000.0 * (1.0 + std::sin(2.0 * std::numbers::pi * 0.3 * t)) *
                            std::sin(2.0 * std::numbers::pi * 1000.0 * t);
        x[n] = static_cast<std::int16_t>(
            std::clamp(std::lround(tone + noise(random)), -32768L, 32767L));
    }
    return x;
}

std::vector<double> asDoubles(const std::vector<std::int16_t>& x) {
    std::vector<double> d(x.size());
    std::transform(x.begin(), x.end(), d.begin(), [](std::int16_t v) { return v / 32768.0; });
    return d;
}

std::vector<meter::IntervalLevels> straight(const meter::MeterSettings& s,
                                            const std::vector<double>& x) {
    meter::SoundLevelMeter m(s);
    std::vector<meter::IntervalLevels> rows;
    const auto sink = [&](const meter::IntervalLevels& l) { rows.push_back(l); };
    m.feed(x, sink);
    m.finish(sink);
    return rows;
}

void expectSameRows(const std::vector<meter::IntervalLevels>& got,
                    const std::vector<meter::IntervalLevels>& want, double tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].startFrame, want[i].startFrame);
        EXPECT_EQ(got[i].endFrame, want[i].endFrame);
        EXPECT_NEAR(got[i].leq, want[i].leq, tolerance);
        EXPECT_NEAR(got[i].lmax, want[i].lmax, tolerance);
        EXPECT_NEAR(got[i].lmin, want[i].lmin, tolerance);
        EXPECT_NEAR(got[i].lcpeak, want[i].lcpeak, tolerance);
        ASSERT_EQ(got[i].bandLeq.size(), want[i].bandLeq.size());
        for (std::size_t b = 0; b < got[i].bandLeq.size(); ++b) {
            EXPECT_NEAR(got[i].bandLeq[b], want[i].bandLeq[b], tolerance);
        }
    }
}

TEST(LiveMeter, RowsAreTheMetersWholeIntervalsAtAnyRateAndInterval) {
    for (const double rate : {8000.0, 11025.0, 48000.0, 384000.0}) {
        for (const double interval : {0.05, 0.25, 1.0, 0.0}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << interval << " s");
            meter::MeterSettings s;
            s.sampleRate = rate;
            s.intervalSeconds = interval;
            s.timeWeighting = meter::TimeWeighting::F;
            s.bands = meter::BandSpec{3, 25.0, 20000.0};
            const std::vector<double> x = asDoubles(testSound(rate, rate > 100000 ? 1.3 : 3.7));
            LiveMeter live(s);
            std::vector<meter::IntervalLevels> rows;
            const auto sink = [&](const meter::IntervalLevels& l) { rows.push_back(l); };
            // Blocks of uneven lengths, as a scan's steps are.
            std::size_t at = 0;
            for (std::size_t k = 0; at < x.size(); ++k) {
                const std::size_t n = std::min<std::size_t>(97 + 733 * (k % 5), x.size() - at);
                live.feed(std::span(x).subspan(at, n), sink);
                at += n;
                ASSERT_TRUE(!live.lastStretch() ||
                            live.lastStretch()->endFrame - live.lastStretch()->startFrame <=
                                std::llround(kLiveMeterStretchSeconds * rate) + 1);
            }
            live.finish(sink);
            expectSameRows(rows, straight(s, x), 1e-6);
        }
    }
}

// A source over a held sound that, like a loop buffer, reaches back only so far.
class HeldSource final : public ScanSource {
  public:
    explicit HeldSource(std::vector<std::int16_t> x) : x_(std::move(x)) {}
    std::optional<std::int64_t> devicePositionFrames() override { return std::nullopt; }
    std::optional<std::int64_t> endFrame() const override {
        return static_cast<std::int64_t>(x_.size());
    }
    bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                        std::span<std::int16_t>) override {
        const auto w = static_cast<std::int64_t>(first.size());
        if (w > windowLimitFrames() || position < w ||
            position > static_cast<std::int64_t>(x_.size())) {
            return false;
        }
        std::copy(x_.begin() + (position - w), x_.begin() + position, first.begin());
        return true;
    }
    std::int64_t windowLimitFrames() const override { return 8192; }
    bool endOfData() const override { return false; }

  private:
    std::vector<std::int16_t> x_;
};

TEST(TappedScanSource, HandsEveryFrameOnceInOrderAndCountsWhatItCannotReach) {
    const std::vector<std::int16_t> x = testSound(48000.0, 2.0);
    const std::vector<double> all = asDoubles(x);
    HeldSource held(x);
    std::int64_t next = 0;
    std::int64_t skipped = 0;
    std::size_t mismatches = 0;
    TappedScanSource tap(held, 1, [&](std::int64_t first, std::span<const double> samples) {
        EXPECT_GE(first, next); // never a frame twice or out of order
        skipped += first - next;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            mismatches += samples[i] != all[static_cast<std::size_t>(first) + i] ? 1 : 0;
        }
        next = first + static_cast<std::int64_t>(samples.size());
    });
    std::vector<std::int16_t> window(1024);
    // Steps of 5 to 35 ms, then one stalled for 0.3 s (beyond the source's reach), then on.
    std::int64_t position = 1024;
    const auto stepTo = [&](std::int64_t end) {
        for (int k = 0; position < end; ++k) {
            ASSERT_TRUE(tap.framesEndingAt(position, window, {}));
            position += 240 + 480 * (k % 4);
        }
    };
    stepTo(40000);
    EXPECT_EQ(tap.missedFrames(), 0);
    EXPECT_EQ(skipped, 0);
    position = tap.handedFrames() + 14400;
    ASSERT_TRUE(tap.framesEndingAt(position, window, {}));
    EXPECT_EQ(tap.missedFrames(), 14400 - 8192);
    EXPECT_EQ(tap.handedFrames(), position);
    stepTo(95000);
    tap.finishAt(static_cast<std::int64_t>(x.size()));
    EXPECT_EQ(tap.handedFrames(), static_cast<std::int64_t>(x.size()));
    EXPECT_EQ(skipped, tap.missedFrames());
    EXPECT_EQ(next, static_cast<std::int64_t>(x.size()));
    EXPECT_EQ(mismatches, 0U);
}

} // namespace
} // namespace korv
