#pragma once
// The sound input of Scan Input: one counted block holding the two capture buffers back to
// back, queued in turn on the device; completions reach the GUI thread as events, in order.
// The pair is read as one ring by the scan loop through CaptureScanSource.

#include "modes/scan_loop.h"
#include "platform/allocations.h"
#include "platform/sound_input.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace korv {

class Clock;

struct CaptureFormat {
    std::int32_t sampleRate = 22050;
    int channels = 1;
    int bytesPerSample = 2;
    int bufferSeconds = 4; // m
    [[nodiscard]] int blockAlign() const { return channels * bytesPerSample; }
    [[nodiscard]] std::int64_t framesPerBuffer() const {
        return std::int64_t{bufferSeconds} * sampleRate;
    }
    [[nodiscard]] std::int64_t bufferBytes() const { return framesPerBuffer() * blockAlign(); }
};

class Capture {
  public:
    enum class Opened { Ok, NoMemory, NoDevice, Failed };
    // A completed buffer (the bytes the device filled) and the sound time (soundMs) of its
    // first frame.
    using BufferHandler = std::function<void(std::span<const std::uint8_t>, double startMs)>;

    Capture(SoundInput& input, Clock& clock);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Allocates the pair, opens the device and queues both buffers (not started yet).
    [[nodiscard]] Opened open(const CaptureFormat& format, BufferHandler onBuffer);
    // Starts filling; false when the device would not start (everything is then released).
    [[nodiscard]] bool start();
    // Stops, hands back the buffers with what they hold, closes the device and releases the
    // block; every completion has been handled when this returns.
    void stop();

    [[nodiscard]] bool isOpen() const { return input_.isOpen(); }
    [[nodiscard]] const CaptureFormat& format() const { return format_; }
    // The two buffers as one ring.
    [[nodiscard]] std::span<const std::uint8_t> ring() const;
    [[nodiscard]] std::optional<std::int64_t> positionFrames() { return input_.positionFrames(); }
    [[nodiscard]] double startMs() const { return startMs_; }
    // The time of the sound captured so far, in msec from the start: by the frames the device
    // has delivered, so that a press is placed among the frames heard when it came, however
    // the device delivers them (some deliver seconds at once). By the clock when the device
    // cannot say.
    [[nodiscard]] double soundMs();
    // Times sound was lost during the run (read before stop()).
    [[nodiscard]] std::int64_t overruns() const { return input_.overruns(); }
    [[nodiscard]] std::optional<double> inputLatencyMs() const { return input_.inputLatencyMs(); }

  private:
    class Relay;
    void handleBufferDone(std::uint8_t* data, std::size_t bytesRecorded);
    void release();

    SoundInput& input_;
    Clock& clock_;
    std::unique_ptr<Relay> relay_;
    CaptureFormat format_;
    BufferHandler onBuffer_;
    std::unique_ptr<std::uint8_t[]> block_;
    AllocationHandle blockCount_;
    bool stopping_ = false;
    double startMs_ = 0.0;
    std::int64_t completedFrames_ = 0; // frames of the buffers completed so far
};

// The scan loop's view of the capture: the frames `displayDelayMs` behind the device's
// position, read from the ring.
class CaptureScanSource final : public ScanSource {
  public:
    CaptureScanSource(Capture& capture, std::int32_t displayDelayMs)
        : capture_(capture),
          delayFrames_(std::int64_t{displayDelayMs} * capture.format().sampleRate / 1000) {}

    [[nodiscard]] std::optional<std::int64_t> devicePositionFrames() override;
    [[nodiscard]] std::optional<std::int64_t> endFrame() const override { return std::nullopt; }
    [[nodiscard]] bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                      std::span<std::int16_t> second) override;
    [[nodiscard]] std::int64_t windowLimitFrames() const override {
        return capture_.format().framesPerBuffer();
    }
    [[nodiscard]] bool endOfData() const override { return false; }
    // The frame the last window gathered ended at.
    [[nodiscard]] std::int64_t lastWindowEnd() const { return lastWindowEnd_; }

  private:
    Capture& capture_;
    std::int64_t delayFrames_;
    std::int64_t lastWindowEnd_ = 0;
};

} // namespace korv
