#pragma once

#include "platform/sound_format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korv {

// Receives the input device's notifications. May be called on any thread (a device thread, or
// the thread calling stop/reset/close), so implementations must be thread-safe and must not call
// back into the device; the program's sink posts events to the GUI thread.
class SoundInputSink {
  public:
    virtual ~SoundInputSink() = default;
    // A queued buffer has been filled, or returned by stop/reset with what it holds. Buffers
    // come back in the order they were queued. `buffer` is the span given to addBuffer.
    virtual void bufferDone(std::span<std::uint8_t> buffer, std::size_t bytesRecorded) = 0;
    // The device has been closed; after this nothing more is reported.
    virtual void inputClosed() = 0;
};

// The default sound input, filling the buffers the program queues, one after the other.
//
// Lifecycle: open -> addBuffer (twice, then again after each bufferDone) -> start -> stop/reset
// -> close. Every call is made on the program's thread; only the sink is called from elsewhere.
class SoundInput {
  public:
    static constexpr int MAX_QUEUED_BUFFERS = 8;

    virtual ~SoundInput() = default; // resets and closes without notifying

    // Opens the default input for `format`. OpenFailed when no device can be had or the format
    // is refused; nothing stays open then.
    virtual SoundResult open(const PcmFormat& format, SoundInputSink& sink) = 0;

    // Of the `candidates` (rates in Hz), those the default input takes for `channels` of
    // `bitsPerSample`, in the candidates' order; empty when it cannot say (no device).
    [[nodiscard]] virtual std::vector<int> offeredRates(std::span<const int> candidates,
                                                        int channels, int bitsPerSample) = 0;

    // Queues one of the program's buffers; it is filled with whole frames only, and must stay
    // alive until it has come back through bufferDone. PrepareFailed when not open, the buffer
    // holds no whole frame or MAX_QUEUED_BUFFERS are already queued.
    virtual SoundResult addBuffer(std::span<std::uint8_t> buffer) = 0;

    // Starts capturing. Frames arriving while no buffer is queued are lost and not counted.
    // WriteFailed when not open, already started or the stream does not start.
    virtual SoundResult start() = 0;

    // Frames stored into the buffers since the first start() after open(), counting on across a
    // stop and a new start. The frames below this position have all been written to their
    // buffers and may be read by the program. Empty before the first start().
    [[nodiscard]] virtual std::optional<std::int64_t> positionFrames() = 0;

    // How often sound was lost since open(): it came while no buffer was queued, or the device
    // itself could not keep up. Lost frames are not counted in the position.
    [[nodiscard]] virtual std::int64_t overruns() const = 0;

    // How long sound takes from the device's input to the buffers, as the device reports it
    // while open; empty when it cannot say.
    [[nodiscard]] virtual std::optional<double> inputLatencyMs() const { return std::nullopt; }

    // Stops capturing; the buffer being filled comes back with what it holds, before stop()
    // returns. Buffers still empty stay queued. start() may be called again.
    virtual void stop() = 0;
    // Stops capturing and returns every queued buffer, in order, before reset() returns.
    virtual void reset() = 0;
    // Resets and closes the device; inputClosed is reported before close() returns, once per
    // successful open. Safe to call when not open.
    virtual void close() = 0;

    [[nodiscard]] virtual bool isOpen() const = 0;

    // The device's name as the user knows it, which a calibration is stored under; empty when
    // there is no device.
    [[nodiscard]] virtual std::string deviceName() = 0;
};

} // namespace korv
