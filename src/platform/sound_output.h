#pragma once

#include "platform/sound_format.h"

#include <cstdint>
#include <optional>
#include <span>

namespace korv {

// Receives the output device's completion. May be called on any thread (a device thread, or the
// thread calling reset()), so implementations must be thread-safe and must not call back into
// the device; the program's sink posts an "output done" event to the GUI thread.
class SoundOutputSink {
  public:
    virtual ~SoundOutputSink() = default;
    // Exactly once per successful write(): when the last loop has been played, or from reset().
    virtual void outputDone() = 0;
};

// The default sound output, playing one looping buffer of two halves. While the device plays one
// half the program refills the other, so one buffer serves the whole playback.
//
// Lifecycle: open -> prepare -> write -> (outputDone) -> reset/unprepare -> close. Every call is
// made on the program's thread; only the sink is called from elsewhere.
class SoundOutput {
  public:
    virtual ~SoundOutput() = default; // stops and closes; no completion after destruction

    // Opens the default device for `format`. OpenFailed when no device can be had or the format
    // is refused; nothing stays open then.
    virtual SoundResult open(const PcmFormat& format, SoundOutputSink& sink) = 0;

    // Hands over the program's buffer and how many times to play it. The device reads only
    // buffer.size() / blockAlign whole frames from it, never beyond, and never writes to it. The
    // buffer must stay alive and in place until unprepare() or close(). PrepareFailed when not
    // open, already prepared, the buffer holds no whole frame or loops < 1.
    virtual SoundResult prepare(std::span<const std::uint8_t> buffer, int loops) = 0;

    // Starts playing the prepared buffer `loops` times from its first byte. WriteFailed when not
    // prepared, while an earlier write is still outstanding, or when the stream does not start.
    virtual SoundResult write() = 0;

    // Frames played since the last write(), counting across loops: heard, not merely handed to
    // the sound system. Stops growing at the end or at a reset. Empty when nothing has been
    // written since open().
    [[nodiscard]] virtual std::optional<std::int64_t> positionFrames() = 0;

    // Stops at once. When a write is outstanding its completion is reported before reset()
    // returns; otherwise nothing is reported. The buffer stays prepared.
    virtual void reset() = 0;
    // Releases the buffer (resetting first if needed); the program may then free it.
    virtual void unprepare() = 0;
    // Releases the device (unpreparing first if needed). Safe to call when not open.
    virtual void close() = 0;

    [[nodiscard]] virtual bool isOpen() const = 0;
};

} // namespace korv
