#pragma once
// The arithmetic of playback through one looping buffer of two halves: how big the buffer is,
// how many loops the device is told to play, what a half is refilled with and when, and how
// the play position maps onto the spectral image view. No device is touched here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace korv {

// PLAY and PLAY WDW hold about this many bytes, and never less than two seconds of sound.
inline constexpr std::int64_t PLAY_BUFFER_TARGET_BYTES = 176400;
inline constexpr std::int64_t PLAY_BUFFER_MIN_SECONDS = 2;
// Scan File streams through a buffer of this many frames (plus the 8 bytes of rounding).
inline constexpr std::int64_t STREAM_BUFFER_FRAMES = 65536;
// Buffers are rounded down to a multiple of this and this is added, so both halves hold whole
// frames of every format.
inline constexpr std::int64_t LOOP_BUFFER_GRANULE = 8;

// Unsigned 8-bit silence is 128; 16-bit signed silence is 0.
[[nodiscard]] constexpr std::uint8_t pcmSilence(int bitsPerSample) {
    return bitsPerSample == 8 ? std::uint8_t{128} : std::uint8_t{0};
}

// The PLAY / PLAY WDW buffer in bytes for a format of `bytesPerSecond` (> 0).
[[nodiscard]] std::int64_t playBufferBytes(std::int64_t bytesPerSecond);
// The Scan File buffer in bytes for frames of `blockAlign` bytes (> 0).
[[nodiscard]] std::int64_t streamBufferBytes(int blockAlign);

// PLAY and Scan File: enough loops to cover the data, the time check ends it earlier.
[[nodiscard]] int playAllLoops(std::int64_t dataBytes, std::int64_t bufferBytes);
// PLAY WDW: the loops that cover `viewColumns` columns of `timeScaleMsec` each.
[[nodiscard]] int playWindowLoops(int viewColumns, double timeScaleMsec, int bytesPerSecond,
                                  std::int64_t bufferBytes);

// The view's width in image columns that playback works with: the whole view, or one pane of
// the dual stereo layout (half the view less the separator).
[[nodiscard]] int playPaneColumns(int viewWidth, bool dualStereo);
// Where the PLAY WDW marker stops the sound: the view's right edge, or the left pane's.
[[nodiscard]] int playMarkerStopColumn(int viewWidth, bool dualStereo);

// The play position after `elapsedMs` of playing.
[[nodiscard]] std::int64_t playedFrames(double elapsedMs, int sampleRate);
[[nodiscard]] int playColumn(double elapsedMs, double timeScaleMsec);

enum class Half { First, Second };

// The halves of a loop buffer of `buffer.size()` bytes (an even count).
[[nodiscard]] std::span<std::uint8_t> loopBufferHalf(std::span<std::uint8_t> buffer, Half which);

// A read cursor into held sample bytes.
struct SampleCursor {
    std::span<const std::uint8_t> data;
    std::size_t next = 0;
    [[nodiscard]] std::size_t remaining() const {
        return next < data.size() ? data.size() - next : 0;
    }
};

// Copies the next stretch of the cursor's data into `half` and advances the cursor. Where the
// data ends before the half does, the rest of the half is set to `silence`, so a late stop
// plays silence rather than a stale stretch of an earlier pass. Returns the bytes copied.
std::size_t refillHalf(std::span<std::uint8_t> half, SampleCursor& cursor, std::uint8_t silence);

// Which half the device is in, and when the other one may be rewritten.
class HalfCrossing {
  public:
    // `guardFrames`: a half is rewritten only once the position is at least this far into the
    // other half (Scan File keeps its analysis window out of the way; PLAY passes 0).
    explicit HalfCrossing(std::int64_t framesPerBuffer, std::int64_t guardFrames = 0)
        : framesPerBuffer_(framesPerBuffer), guardFrames_(guardFrames) {}

    // For the position `frames` (counted from the start, across loops): the half to refill now,
    // if any. Each entry into a half asks for one refill of the other half.
    [[nodiscard]] std::optional<Half> step(std::int64_t frames);

    [[nodiscard]] std::int64_t framesPerBuffer() const { return framesPerBuffer_; }

  private:
    std::int64_t framesPerBuffer_;
    std::int64_t guardFrames_;
    // The half the last position fell in. The start counts as leaving the second half, so the
    // first position asks for the second half's fill.
    Half playing_ = Half::Second;
    bool refillPending_ = false;
};

// PLAY uncovers the image as the sound passes: the image columns to copy into the pane, from
// its left edge, and whether the view has paged (the scroll position is then sourceColumn).
struct UncoverStep {
    int sourceColumn = 0;
    int columns = 0;
    bool paging = false;
    friend bool operator==(const UncoverStep&, const UncoverStep&) = default;
};
[[nodiscard]] UncoverStep uncoverStep(int markerColumn, int paneColumns, int imageWidth);

} // namespace korv
