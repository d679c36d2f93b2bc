#include "audio/playback_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace korv {

namespace {

std::int64_t roundToGranule(std::int64_t bytes) {
    return bytes / LOOP_BUFFER_GRANULE * LOOP_BUFFER_GRANULE + LOOP_BUFFER_GRANULE;
}

// A loop count the device accepts: at least one, and within int.
int clampLoops(double loops) {
    if (!(loops >= 1.0)) {
        return 1;
    }
    if (loops >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(loops);
}

} // namespace

std::int64_t playBufferBytes(std::int64_t bytesPerSecond) {
    const std::int64_t perSecond = std::max<std::int64_t>(bytesPerSecond, 1);
    const std::int64_t seconds =
        std::max(PLAY_BUFFER_TARGET_BYTES / perSecond, PLAY_BUFFER_MIN_SECONDS);
    return roundToGranule(perSecond * seconds);
}

std::int64_t streamBufferBytes(int blockAlign) {
    return roundToGranule(STREAM_BUFFER_FRAMES * std::max(blockAlign, 1));
}

int playAllLoops(std::int64_t dataBytes, std::int64_t bufferBytes) {
    if (bufferBytes <= 0) {
        return 1;
    }
    return clampLoops(static_cast<double>(std::max<std::int64_t>(dataBytes, 0) / bufferBytes + 1));
}

int playWindowLoops(int viewColumns, double timeScaleMsec, int bytesPerSecond,
                    std::int64_t bufferBytes) {
    if (bufferBytes <= 0) {
        return 1;
    }
    const double bytes =
        static_cast<double>(viewColumns) * timeScaleMsec * static_cast<double>(bytesPerSecond);
    return clampLoops(std::trunc(bytes / (static_cast<double>(bufferBytes) * 1000.0) + 1.0));
}

int playPaneColumns(int viewWidth, bool dualStereo) {
    return dualStereo ? viewWidth / 2 - 3 : viewWidth;
}

int playMarkerStopColumn(int viewWidth, bool dualStereo) {
    return dualStereo ? viewWidth / 2 - 4 : viewWidth;
}

std::int64_t playedFrames(double elapsedMs, int sampleRate) {
    const double frames = static_cast<double>(sampleRate) * std::max(elapsedMs, 0.0) / 1000.0;
    if (!(frames < static_cast<double>(std::numeric_limits<std::int64_t>::max()))) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(frames);
}

int playColumn(double elapsedMs, double timeScaleMsec) {
    if (!(timeScaleMsec > 0.0)) {
        return 0;
    }
    const double column = std::trunc(std::max(elapsedMs, 0.0) / timeScaleMsec);
    if (!(column < static_cast<double>(std::numeric_limits<int>::max()))) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(column);
}

std::span<std::uint8_t> loopBufferHalf(std::span<std::uint8_t> buffer, Half which) {
    const std::size_t half = buffer.size() / 2;
    return buffer.subspan(which == Half::First ? 0 : half, half);
}

std::size_t refillHalf(std::span<std::uint8_t> half, SampleCursor& cursor, std::uint8_t silence) {
    const std::size_t n = std::min(half.size(), cursor.remaining());
    if (n > 0) {
        std::memcpy(half.data(), cursor.data.data() + cursor.next, n);
        cursor.next += n;
    }
    std::fill(half.begin() + static_cast<std::ptrdiff_t>(n), half.end(), silence);
    return n;
}

std::optional<Half> HalfCrossing::step(std::int64_t frames) {
    if (framesPerBuffer_ < 2) {
        return std::nullopt;
    }
    const std::int64_t halfFrames = framesPerBuffer_ / 2;
    const std::int64_t pos = std::max<std::int64_t>(frames, 0) % framesPerBuffer_;
    // Frame halfFrames is the first frame of the second half.
    const Half now = pos < halfFrames ? Half::First : Half::Second;
    if (playing_ != now) {
        playing_ = now;
        refillPending_ = true;
    }
    const std::int64_t intoHalf = now == Half::First ? pos : pos - halfFrames;
    if (refillPending_ && intoHalf >= guardFrames_) {
        refillPending_ = false;
        return now == Half::First ? Half::Second : Half::First;
    }
    return std::nullopt;
}

UncoverStep uncoverStep(int markerColumn, int paneColumns, int imageWidth) {
    const int width = std::max(imageWidth, 0);
    const int column = std::clamp(markerColumn, 0, width);
    if (column < paneColumns) {
        return UncoverStep{0, std::min(column + 1, width), false};
    }
    return UncoverStep{column - paneColumns, paneColumns, true};
}

} // namespace korv
