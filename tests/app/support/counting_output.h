#pragma once
// The simulated output behind a forwarder that notes what the program prepared, and what a
// device should have heard.

#include "platform/sound_simulated.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace korv::test {

class CountingOutput final : public SoundOutput {
  public:
    explicit CountingOutput(VirtualClock& clock) : device(clock) {}
    SoundResult open(const PcmFormat& format, SoundOutputSink& sink) override {
        return device.open(format, sink);
    }
    SoundResult prepare(std::span<const std::uint8_t> buffer, int loops) override {
        preparedLoops = loops;
        preparedBytes = buffer.size();
        return device.prepare(buffer, loops);
    }
    SoundResult write() override { return device.write(); }
    std::optional<std::int64_t> positionFrames() override { return device.positionFrames(); }
    void reset() override { device.reset(); }
    void unprepare() override { device.unprepare(); }
    void close() override { device.close(); }
    bool isOpen() const override { return device.isOpen(); }
    const std::vector<std::uint8_t>& played() const { return device.played(); }

    SimulatedSoundOutput device;
    int preparedLoops = 0;
    std::size_t preparedBytes = 0;
};

// The maker of the window's output: each new device a CountingOutput on `clock`, failing as
// `failNew` says when it is made, and `last` pointing at it.
inline std::function<std::unique_ptr<SoundOutput>()>
countingOutputs(VirtualClock& clock, const SimulatedFailure& failNew, CountingOutput*& last) {
    return [&clock, &failNew, &last]() -> std::unique_ptr<SoundOutput> {
        auto out = std::make_unique<CountingOutput>(clock);
        out->device.failAt(failNew);
        last = out.get();
        return out;
    };
}

inline std::span<const std::uint8_t> bytesOf(const QByteArray& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.data()), static_cast<std::size_t>(b.size())};
}

// What the device played is `held`, in order, then only silence, and no more of it than the
// last stretch of the time check can let through.
inline void expectHeard(std::span<const std::uint8_t> played, std::span<const std::uint8_t> held,
                        std::uint8_t silence, std::size_t extra) {
    ASSERT_GE(played.size(), held.size());
    const auto wrong = std::ranges::mismatch(held, played.first(held.size())).in1;
    EXPECT_EQ(wrong, held.end()) << "byte " << wrong - held.begin() << " played wrong";
    EXPECT_LE(played.size() - held.size(), extra);
    EXPECT_TRUE(std::ranges::all_of(played.subspan(held.size()), [silence](std::uint8_t b) {
        return b == silence;
    })) << "stale bytes after the data";
}

} // namespace korv::test
