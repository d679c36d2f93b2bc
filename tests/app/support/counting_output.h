#pragma once
// The simulated output behind a forwarder that notes what the program prepared.

#include "platform/sound_simulated.h"

#include <cstdint>
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

    SimulatedSoundOutput device;
    int preparedLoops = 0;
    std::size_t preparedBytes = 0;
};

} // namespace korv::test
