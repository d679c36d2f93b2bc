#include "modes/scan_file_source.h"

#include "app/playback.h"

#include <algorithm>
#include <new>

namespace korv {

FileScanSource::FileScanSource(Playback& playback, HeldSampleStream& file, int channels,
                               int bytesPerSample, std::int64_t dataBytes)
    : playback_(playback), file_(file), channels_(channels), bytesPerSample_(bytesPerSample),
      dataBytes_(std::max<std::int64_t>(dataBytes, 0)) {}

bool FileScanSource::keepExactValues() {
    try {
        exact_.assign(playback_.loopBuffer().size() / 2, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::size_t FileScanSource::readFirstHalf() {
    return readHalf(Half::First);
}

std::size_t FileScanSource::readHalf(Half which) {
    const std::span<std::uint8_t> half = playback_.half(which);
    if (half.empty()) {
        return 0;
    }
    // Never past the data the header names, whatever follows it in the file.
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(half.size()),
                               std::max<std::int64_t>(dataBytes_ - fileBytesRead_, 0)));
    // The half's exact values, where the file has them, lie at the same place in theirs.
    const std::span<float> exactHalf =
        exact_.empty() ? std::span<float>{}
                       : std::span(exact_).subspan(which == Half::First ? 0 : half.size() / 2,
                                                   half.size() / 2);
    std::size_t got = 0;
    while (got < wanted) {
        const std::size_t n =
            file_.read(half.subspan(got, wanted - got),
                       exactHalf.empty() ? exactHalf : exactHalf.subspan(got / 2));
        if (n == 0) {
            break;
        }
        got += n;
    }
    // The rest of a last half plays as silence rather than as the sound of a pass before.
    std::fill(half.begin() + static_cast<std::ptrdiff_t>(got), half.end(),
              pcmSilence(bytesPerSample_ * 8));
    if (!exactHalf.empty()) {
        std::fill(exactHalf.begin() + static_cast<std::ptrdiff_t>(got / 2), exactHalf.end(), 0.0f);
    }
    fileBytesRead_ += static_cast<std::int64_t>(got);
    if (got < half.size()) {
        endOfFile_ = true;
    }
    return got;
}

void FileScanSource::refillFor(std::int64_t played) {
    const std::int64_t halfFrames = playback_.framesPerBuffer() / 2;
    if (halfFrames < 1) {
        return;
    }
    // Half k takes the place of half k - 2: once the device is W frames into half k - 1, the
    // window ending at its position no longer reaches back into that place. Past the end of
    // the data the halves are read as silence, so the device never plays a stale pass.
    while (played >= (nextHalf_ - 1) * halfFrames + windowFrames_) {
        readHalf(nextHalf_ % 2 == 0 ? Half::First : Half::Second);
        ++nextHalf_;
    }
}

void FileScanSource::keepUp() {
    if (const std::optional<std::int64_t> played = playback_.devicePositionFrames()) {
        refillFor(*played);
    }
}

std::optional<std::int64_t> FileScanSource::devicePositionFrames() {
    return playback_.devicePositionFrames();
}

std::optional<std::int64_t> FileScanSource::endFrame() const {
    const std::int64_t frameBytes = channels_ * bytesPerSample_;
    return (endOfFile_ ? fileBytesRead_ : dataBytes_) / frameBytes;
}

bool FileScanSource::framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                    std::span<std::int16_t> second) {
    const std::span<std::uint8_t> buffer = playback_.loopBuffer();
    const std::int64_t framesPerBuffer = playback_.framesPerBuffer();
    if (buffer.empty() || framesPerBuffer < 2 || position < 0) {
        return false;
    }
    windowFrames_ = static_cast<std::int64_t>(first.size());
    refillFor(position);
    return gatherLoopFrames(buffer, framesPerBuffer / 2, channels_, bytesPerSample_,
                            position % framesPerBuffer, first, second);
}

std::int64_t FileScanSource::windowLimitFrames() const {
    return playback_.framesPerBuffer() / 4;
}

bool FileScanSource::exactFramesEndingAt(std::int64_t position, std::span<float> first,
                                         std::span<float> second) {
    const std::int64_t framesPerBuffer = playback_.framesPerBuffer();
    if (exact_.empty() || framesPerBuffer < 2 || position < 0) {
        return false;
    }
    // framesEndingAt read what the position needs.
    return gatherLoopExact(exact_, framesPerBuffer / 2, channels_, position % framesPerBuffer,
                           first, second);
}

} // namespace korv
