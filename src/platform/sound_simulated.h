#pragma once

#include "platform/clock.h"
#include "platform/sound_input.h"
#include "platform/sound_output.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace korv {

// Where a simulated device can be told to fail, to exercise the program's error paths.
enum class SimulatedFailure {
    None,
    Open,    // open() returns OpenFailed
    Prepare, // prepare() / addBuffer() return PrepareFailed
    Write,   // write() / start() return WriteFailed
};

// An output on the virtual clock: after write() it plays sampleRate frames per second of virtual
// time from the program's buffer and keeps every byte it played. Like a sound server it may take
// the frames from the buffer some time before they are heard (setLatencyMs); its position counts
// the frames heard, and a reset drops those still on their way. Completion is reported through
// the sink on the clock's thread.
class SimulatedSoundOutput final : public SoundOutput {
  public:
    explicit SimulatedSoundOutput(VirtualClock& clock);
    ~SimulatedSoundOutput() override;
    SimulatedSoundOutput(const SimulatedSoundOutput&) = delete;
    SimulatedSoundOutput& operator=(const SimulatedSoundOutput&) = delete;

    SoundResult open(const PcmFormat& format, SoundOutputSink& sink) override;
    SoundResult prepare(std::span<const std::uint8_t> buffer, int loops) override;
    SoundResult write() override;
    [[nodiscard]] std::optional<std::int64_t> positionFrames() override;
    void reset() override;
    void unprepare() override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return sink_ != nullptr; }

    void failAt(SimulatedFailure failure) { failure_ = failure; }
    // open() refuses this one rate only, as a device that cannot play it (0: none refused).
    void refuseRate(std::int32_t rate) { refusedRate_ = rate; }
    // How long before it is heard a frame is taken from the program's buffer (0: as it plays).
    void setLatencyMs(std::int64_t ms) { latencyMs_ = std::max<std::int64_t>(ms, 0); }
    // How long after write() the first frame is heard, as a sound server starting up may take;
    // the position stays at 0 until then.
    void setStartDelayMs(std::int64_t ms) { startDelayMs_ = std::max<std::int64_t>(ms, 0); }
    // A pause after the first `afterFrames` frames are heard, as a sound server filling its
    // buffer may make: for `ms` nothing more is taken or heard and the position stands still.
    void setStall(std::int64_t afterFrames, std::int64_t ms) {
        stallAfterFrames_ = std::max<std::int64_t>(afterFrames, 0);
        stallMs_ = std::max<std::int64_t>(ms, 0);
    }
    // Every byte played (heard) since the device was created, in the order played.
    [[nodiscard]] const std::vector<std::uint8_t>& played() const { return played_; }
    [[nodiscard]] bool isPlaying() const { return playing_; }
    [[nodiscard]] const PcmFormat& format() const { return format_; }
    // How many times open() has succeeded, to check that a failed start-up opened nothing.
    [[nodiscard]] int openCount() const { return openCount_; }

  private:
    void onTick(std::int64_t nowMs);
    [[nodiscard]] std::int64_t framesDueAfter(std::int64_t elapsedMs) const;
    void takeUpTo(std::int64_t frames);
    void hearUpTo(std::int64_t frames);
    void finish();

    VirtualClock& clock_;
    VirtualClock::ListenerId listener_;
    SimulatedFailure failure_ = SimulatedFailure::None;
    std::int32_t refusedRate_ = 0;
    SoundOutputSink* sink_ = nullptr;
    PcmFormat format_;
    std::span<const std::uint8_t> buffer_;
    bool prepared_ = false;
    bool playing_ = false; // a write is outstanding
    bool written_ = false; // the position counts from the latest write
    std::int64_t framesPerBuffer_ = 0;
    std::int64_t totalFrames_ = 0;
    std::int64_t startMs_ = 0;
    std::int64_t latencyMs_ = 0;
    std::int64_t startDelayMs_ = 0;
    std::int64_t stallAfterFrames_ = 0;
    std::int64_t stallMs_ = 0;
    std::int64_t framesTaken_ = 0;  // from the program's buffer
    std::int64_t framesPlayed_ = 0; // of those, heard
    std::vector<std::uint8_t> inFlight_;
    int openCount_ = 0;
    std::vector<std::uint8_t> played_;
};

// An input on the virtual clock: after start() it produces sampleRate frames per second of
// virtual time into the queued buffers and reports each full buffer through the sink.
class SimulatedSoundInput final : public SoundInput {
  public:
    // Sample value in -1..1 for a frame index (counted from start()) and a channel.
    using Signal = std::function<double(std::int64_t frame, int channel)>;

    static constexpr const char* kDefaultName = "Simulated input";

    explicit SimulatedSoundInput(VirtualClock& clock);
    ~SimulatedSoundInput() override;
    SimulatedSoundInput(const SimulatedSoundInput&) = delete;
    SimulatedSoundInput& operator=(const SimulatedSoundInput&) = delete;

    SoundResult open(const PcmFormat& format, SoundInputSink& sink) override;
    [[nodiscard]] std::vector<int> offeredRates(std::span<const int> candidates, int channels,
                                                int bitsPerSample) override;
    SoundResult addBuffer(std::span<std::uint8_t> buffer) override;
    SoundResult start() override;
    [[nodiscard]] std::optional<std::int64_t> positionFrames() override;
    [[nodiscard]] std::int64_t overruns() const override { return overruns_; }
    void stop() override;
    void reset() override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return sink_ != nullptr; }
    [[nodiscard]] std::string deviceName() override { return name_; }
    void setDeviceName(std::string name) { name_ = std::move(name); }

    void failAt(SimulatedFailure failure) { failure_ = failure; }
    // The rates the device takes; once set, open() refuses any other. Until then it offers the
    // five rates sound cards have always had, and opens at any rate.
    void setRates(std::vector<int> rates) { rates_ = std::move(rates); }
    // The sound heard: a signal (scaled to the format, clipped), or PCM bytes in the device's
    // format taken in order and followed by silence. The last one given counts; default silence.
    void setSignal(Signal signal);
    void setBytes(std::vector<std::uint8_t> bytes);
    // A hang, as a USB device or a sound server may have: from `fromMs` after start() for
    // `forMs` nothing reaches the buffers and the position stands still; then everything heard
    // meanwhile arrives at once.
    void addStall(std::int64_t fromMs, std::int64_t forMs) { stalls_.push_back({fromMs, forMs}); }
    [[nodiscard]] bool isCapturing() const { return capturing_; }
    [[nodiscard]] int queuedBuffers() const { return static_cast<int>(queue_.size()); }
    [[nodiscard]] int openCount() const { return openCount_; }

  private:
    struct Queued {
        std::span<std::uint8_t> buffer;
        std::size_t filled = 0;
    };
    void onTick(std::int64_t nowMs);
    void produceFrame(std::uint8_t* out);
    void returnFront();

    VirtualClock& clock_;
    VirtualClock::ListenerId listener_;
    SimulatedFailure failure_ = SimulatedFailure::None;
    SoundInputSink* sink_ = nullptr;
    PcmFormat format_;
    Signal signal_;
    std::optional<std::vector<int>> rates_;
    std::vector<std::uint8_t> bytes_;
    std::size_t bytesRead_ = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> stalls_; // from, for (msec after start)
    std::string name_ = kDefaultName;
    std::deque<Queued> queue_;
    bool capturing_ = false;
    bool started_ = false;
    std::int64_t startMs_ = 0;
    std::int64_t framesAtStart_ = 0; // frames heard before the latest start()
    std::int64_t framesHeard_ = 0;   // frames the device has heard since open()
    std::int64_t framesStored_ = 0;  // of those, frames written into buffers
    std::int64_t overruns_ = 0;      // stretches of frames lost for want of a buffer
    bool losing_ = false;            // the last frame heard was lost
    int openCount_ = 0;
};

} // namespace korv
