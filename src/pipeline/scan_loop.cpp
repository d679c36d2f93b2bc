#include "pipeline/scan_loop.h"

#include "analysis/column_pipeline.h"
#include "analysis/levels.h"
#include "analysis/parameters.h"
#include "audio/playback_buffer.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <new>

namespace korv {

namespace {

std::int16_t sampleAt(const std::uint8_t* p, int bytesPerSample) {
    if (bytesPerSample == 1) {
        return toAnalysisSample(p[0]);
    }
    return toAnalysisSample(
        static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8))));
}

// The W = first.size() frames ending at `bufferPosition` of a loop buffer of two halves, each
// sample of frame f and channel c as `at(f, c)` gives it.
template <typename Sample, typename At>
bool gatherFrames(std::int64_t halfFrames, int channels, std::int64_t bufferPosition,
                  std::span<Sample> first, std::span<Sample> second, const At& at) {
    const auto w = static_cast<std::int64_t>(first.size());
    if (halfFrames <= 0 || w > halfFrames || bufferPosition < 0 ||
        bufferPosition >= 2 * halfFrames || (channels == 2 && second.size() < first.size())) {
        return false;
    }
    const bool inSecond = bufferPosition >= halfFrames;
    const std::int64_t current = inSecond ? halfFrames : 0;
    const std::int64_t other = inSecond ? 0 : halfFrames;
    const std::int64_t start = bufferPosition - current - w;
    for (std::int64_t i = 0; i < w; ++i) {
        const std::int64_t k = start + i;
        // Frames before the current half's start are the end of the other half.
        const std::int64_t frame = k < 0 ? other + halfFrames + k : current + k;
        first[static_cast<std::size_t>(i)] = at(frame, 0);
        if (channels == 2) {
            second[static_cast<std::size_t>(i)] = at(frame, 1);
        }
    }
    return true;
}

// The first `frames` of channel `ch`'s window; empty for a channel the sound does not have.
template <typename Sample>
std::span<Sample> firstFrames(std::vector<std::vector<Sample>>& windows, std::size_t ch,
                              std::size_t frames) {
    return ch < windows.size() ? std::span<Sample>(windows[ch]).first(frames) : std::span<Sample>{};
}

class Loop {
  public:
    Loop(const ScanLoopInputs& in, ScanSource& source, ScanDisplay& display, ScanPacer& pacer,
         bool& stopRequested, ScanRun& run)
        : in_(in), source_(source), display_(display), pacer_(pacer), stop_(stopRequested),
          run_(run) {}

    SetupResult setup();
    void run();
    void release() {
        pipeline_.release();
        windows_.clear();
        exactWindows_.clear();
    }

    // One step at the play position; false when the frames cannot be had there.
    bool stepAt(std::int64_t position);

  private:
    // The pitch detector follows sound as it plays; a point spectrum has no such sound.
    [[nodiscard]] bool pitchOn() const { return in_.pitchDetector && !in_.pointMode; }
    // Pacing and the play position; nothing when the loop is to end.
    std::optional<std::int64_t> nextPosition();
    // The device's largest lag behind the clock over the last stretch, `lag` now among them.
    [[nodiscard]] std::int64_t recentDeviceLag(double nowMs, std::int64_t lag);
    // Sleeps `ms` in pieces, letting the source keep up with its device between them.
    void sleepKeepingUp(std::int64_t ms);
    void analyse(const std::optional<PitchResult>& pitch, std::int64_t endFrame);

    const ScanLoopInputs& in_;
    ScanSource& source_;
    ScanDisplay& display_;
    ScanPacer& pacer_;
    bool& stop_;
    ScanRun& run_;
    // The frames a step looks at and their first and last columns (all frames, then the
    // first); the frames the envelope and pitch see are the last `baseFrames_`.
    void addFrames(int channel, long frames);
    [[nodiscard]] long framesThisStep(std::int64_t position) const;
    // The frames of a channel's window the envelope and the pitch go by: the last of the step.
    [[nodiscard]] std::span<const std::int16_t>
    seen(const std::vector<std::int16_t>& window) const {
        return std::span(window).first(windowNow_).last(static_cast<std::size_t>(baseFrames_));
    }
    // The envelope of a channel: around the centre of the last FFT's frames, so the waveform
    // strip stands over the column's own sound, however long the pitch detector's window.
    [[nodiscard]] ScanEnvelope envelopeOf(const std::vector<std::int16_t>& window) const {
        return scanEnvelope(seen(window).last(static_cast<std::size_t>(fftSize_)), in_.sampleRate,
                            in_.analysisWindowMsec, fftSize_);
    }

    ColumnPipeline pipeline_;
    std::vector<std::vector<std::int16_t>> windows_; // per channel the step's W frames
    std::vector<std::vector<float>> exactWindows_;   // and their exact values, for such sound
    PitchState pitch_;
    int fftSize_ = 0;
    long pointStep_ = 0;
    int baseFrames_ = 0;             // the window without Max Over Step
    std::int64_t lastPosition_ = -1; // the previous step's end frame
    bool deviceSaid_ = false;        // the latest position is the device's, not the clock's
    // The device's lags behind the clock over the last SCAN_DEVICE_LAG_MEMORY_MS, each with
    // the time it was seen, the largest first: each is larger than every later one.
    std::deque<std::pair<double, std::int64_t>> recentLags_;
    long framesNow_ = 1;        // frames of the step being analysed
    std::size_t windowNow_ = 0; // the frames it gathered: the last of each window
};

SetupResult Loop::setup() {
    const int channels = in_.channels;
    if ((channels != 1 && channels != 2) || in_.sampleRate <= 0) {
        return SetupResult::Unusable;
    }
    ColumnPipelineInputs p;
    p.sampleRate = in_.sampleRate;
    p.channels = channels;
    p.log2FftSize = in_.log2FftSize;
    p.windowSamples = in_.windowSamples;
    p.frequencyScale = in_.frequencyScale;
    p.lowBandHz = in_.lowBandHz;
    p.highBandHz = in_.highBandHz;
    p.rows = display_.rows();
    p.corrections = in_.corrections;
    p.averageCount = std::max(in_.averageCount, 1);
    p.binLevels = display_.wantsBins();
    p.wholeAverages = true; // the display shows the integer mean
    p.floatFrames = source_.exact();
    if (const SetupResult result = pipeline_.setup(p); result != SetupResult::Ok) {
        return result;
    }
    fftSize_ = pipeline_.fftSize();
    baseFrames_ = std::max(pitchOn() ? pitchWindowFrames(in_.sampleRate) : fftSize_, fftSize_);
    run_.windowFrames = baseFrames_;
    if (in_.maxOverStep && !in_.pointMode) {
        // Room for twice the time scale's frames, so a late step still sees its whole stretch.
        const auto step = static_cast<std::int64_t>(
            std::ceil(static_cast<double>(in_.timeScaleMsec) * in_.sampleRate / 1000.0));
        const std::int64_t wanted =
            std::min(std::int64_t{fftSize_} + 2 * step, source_.windowLimitFrames());
        run_.windowFrames = static_cast<int>(std::max<std::int64_t>(baseFrames_, wanted));
    }
    run_.rows = p.rows;
    run_.averageCount = p.averageCount;
    try {
        const auto w = static_cast<std::size_t>(run_.windowFrames);
        windows_.assign(static_cast<std::size_t>(channels), std::vector<std::int16_t>(w, 0));
        if (p.floatFrames) {
            exactWindows_.assign(static_cast<std::size_t>(channels), std::vector<float>(w, 0.0f));
        }
    } catch (const std::bad_alloc&) {
        return SetupResult::NoMemory;
    }
    if (pitchOn()) {
        pitch_ = startPitchDetector(in_.sampleRate);
    }
    run_.stepsTaken = 0;
    run_.usedCount = 0;
    run_.columnsDrawn = 0;
    run_.lastEndFrame = -1;
    run_.endReached = false;
    run_.loopStartMs = run_.lastStepMs = static_cast<double>(pacer_.nowMs());
    return SetupResult::Ok;
}

std::optional<std::int64_t> Loop::nextPosition() {
    if (in_.pointMode) {
        // Fixed steps of a quarter window, from the first whole window on.
        const std::int64_t p = run_.windowFrames + pointStep_ * (run_.windowFrames / 4);
        ++pointStep_;
        const std::optional<std::int64_t> end = source_.endFrame();
        if (end && p > *end) {
            stop_ = true;
            run_.endReached = true;
            return std::nullopt;
        }
        return p;
    }
    double now = static_cast<double>(pacer_.nowMs());
    const double scale = static_cast<double>(in_.timeScaleMsec);
    if (std::trunc(scale) <= SCAN_SLEEP_SLACK_MS) {
        // Below three msec a column the slack leaves nothing to sleep. The columns keep a
        // schedule instead, each due one interval after the last was due: a sleep that ends a
        // fraction of the clock's millisecond late, or a step delayed by a present of the
        // window, is made up by the next steps rather than lost. Further behind than that, the
        // schedule starts again from now.
        const double due = run_.lastStepMs + scale;
        if (now < due) {
            const auto rest = static_cast<std::int64_t>(std::ceil(due - now));
            sleepKeepingUp(rest);
            now += static_cast<double>(rest);
        }
        run_.lastStepMs = now - due < static_cast<double>(SCAN_CATCH_UP_MS) ? due : now;
    } else {
        if (now - run_.lastStepMs < scale) {
            const auto sleep = static_cast<std::int64_t>(std::trunc(scale) - std::trunc(now) +
                                                         std::trunc(run_.lastStepMs)) -
                               SCAN_SLEEP_SLACK_MS;
            if (sleep > 0) {
                sleepKeepingUp(sleep);
                now += static_cast<double>(sleep + SCAN_SLEEP_SLACK_MS);
            }
        }
        run_.lastStepMs = now;
    }
    const std::int64_t frames =
        playedFrames(now - static_cast<double>(in_.startTimeMs), in_.sampleRate);
    // The device knows best where the sound is; the clock stands in when it cannot say. A
    // device may stand still a while (a sound server filling its buffer) or hand its frames
    // over in lumps (a server's input, half a second at a time): the columns follow the clock
    // at the device's worst recent lag behind it, so each step's frames are the device's and
    // come one step on from the last, not the same frames again until the next lump.
    const std::optional<std::int64_t> device = source_.devicePositionFrames();
    deviceSaid_ = device.has_value();
    const std::int64_t position = device ? frames - recentDeviceLag(now, frames - *device) : frames;
    if (device) {
        run_.deviceLagMs = std::max(run_.deviceLagMs, static_cast<double>(frames - *device) *
                                                          1000.0 / in_.sampleRate);
    }
    // The run ends when the last frame is played, not when the clock says it should have
    // been: a sound server that starts late would otherwise cut off the end of every file.
    // The clock still ends a run whose device stalls for good.
    const std::optional<std::int64_t> end = source_.endFrame();
    const std::int64_t grace =
        static_cast<std::int64_t>(in_.sampleRate) * SCAN_DEVICE_GRACE_MS / 1000;
    if (end && (position >= *end || frames >= *end + grace)) {
        stop_ = true;
        run_.endReached = true;
        return std::nullopt;
    }
    if (in_.showTimeNow) {
        in_.showTimeNow(now - static_cast<double>(in_.startTimeMs));
    }
    return position;
}

std::int64_t Loop::recentDeviceLag(double nowMs, std::int64_t lag) {
    while (!recentLags_.empty() && recentLags_.back().second <= lag) {
        recentLags_.pop_back();
    }
    recentLags_.emplace_back(nowMs, lag);
    while (recentLags_.front().first < nowMs - SCAN_DEVICE_LAG_MEMORY_MS) {
        recentLags_.pop_front();
    }
    return recentLags_.front().second;
}

void Loop::sleepKeepingUp(std::int64_t ms) {
    while (ms > 0) {
        const std::int64_t piece = std::min(ms, SCAN_KEEP_UP_MS);
        pacer_.sleep(piece);
        ms -= piece;
        source_.keepUp();
    }
}

void Loop::analyse(const std::optional<PitchResult>& pitch, std::int64_t endFrame) {
    ScanStep step;
    run_.stepsTaken += 1;
    run_.usedCount = in_.fullAverage && in_.fullAverage()
                         ? run_.averageCount
                         : static_cast<int>(std::min<long>(run_.stepsTaken, run_.averageCount));
    if (in_.liveLevelScaleCode != nullptr) {
        pipeline_.setLevelScaleCode(*in_.liveLevelScaleCode);
    }
    for (std::size_t ch = 0; ch < windows_.size(); ++ch) {
        const int channel = static_cast<int>(ch);
        addFrames(channel, framesNow_);
        pipeline_.finishChannel(channel, run_.usedCount);
        step.rows[ch] = pipeline_.averaged(channel);
        step.bins[ch] = pipeline_.averagedBins(channel);
        step.envelope[ch] = envelopeOf(windows_[ch]);
    }
    pipeline_.nextSlot();
    step.pitch = pitch;
    step.endFrame = endFrame;
    display_.step(step);
    if (run_.columnsDrawn == 0) {
        run_.firstEndFrame = endFrame;
    }
    run_.columnsDrawn += 1;
    run_.lastEndFrame = endFrame;
}

long Loop::framesThisStep(std::int64_t position) const {
    if (!in_.maxOverStep || in_.pointMode || lastPosition_ < 0) {
        return 1;
    }
    const int length = pipeline_.windowLength();
    const long stride = std::max(length / 2, 1);
    // Frames ending `stride` apart from the position back, as many as the window holds.
    const long fit = 1 + (static_cast<long>(windowNow_) - fftSize_) / stride;
    const std::int64_t stretch = std::max<std::int64_t>(position - lastPosition_, 1);
    return std::min(framesOverStep(static_cast<long>(stretch), length), fit);
}

void Loop::addFrames(int channel, long frames) {
    const auto ch = static_cast<std::size_t>(channel);
    const auto n = static_cast<std::ptrdiff_t>(fftSize_);
    const auto w = static_cast<std::ptrdiff_t>(windowNow_);
    for (long i = 0; i < frames; ++i) {
        // Frame i ends (frames - 1 - i) offsets before the window's end; the last at its end.
        const auto end = w - static_cast<std::ptrdiff_t>(
                                 frameOffsetInStep(frames - 1 - i, pipeline_.windowLength()));
        if (exactWindows_.empty()) {
            const std::vector<std::int16_t>& window = windows_[ch];
            std::copy(window.begin() + end - n, window.begin() + end,
                      pipeline_.frame16(channel).begin());
        } else {
            const std::vector<float>& exact = exactWindows_[ch];
            std::copy(exact.begin() + end - n, exact.begin() + end,
                      pipeline_.frame(channel).begin());
        }
        pipeline_.addFrame(channel, i == 0, i + 1 == frames);
    }
}

void Loop::run() {
    while (!stop_) {
        pacer_.pumpMessages();
        if (stop_) {
            break;
        }
        const std::optional<std::int64_t> position = nextPosition();
        if (!position) {
            break;
        }
        // A device not heard yet (a sound server starting) has no sound to show: a column there
        // would hold the silence before the sound, under a time the sound never had. Nor has
        // one that has not moved since the last column (a sound server filling its buffer
        // before it plays): its columns would repeat the same frames as a steady tone.
        if (*position <= 0 || (deviceSaid_ && *position == lastPosition_)) {
            continue;
        }
        // Without the frames the position is read again.
        static_cast<void>(stepAt(*position));
    }
    run_.endMs = static_cast<double>(pacer_.nowMs());
}

bool Loop::stepAt(std::int64_t position) {
    // A long window reaches back only as far as the sound goes, so the first columns come as
    // soon as they would without it.
    windowNow_ = static_cast<std::size_t>(
        std::clamp<std::int64_t>(position, baseFrames_, run_.windowFrames));
    if (!source_.framesEndingAt(position, firstFrames(windows_, 0, windowNow_),
                                firstFrames(windows_, 1, windowNow_)) ||
        (!exactWindows_.empty() &&
         !source_.exactFramesEndingAt(position, firstFrames(exactWindows_, 0, windowNow_),
                                      firstFrames(exactWindows_, 1, windowNow_)))) {
        return false;
    }
    std::optional<PitchResult> pitch;
    if (pitchOn()) {
        pitch = detectPitch(pitch_, seen(windows_[0]), envelopeOf(windows_[0]));
    }
    framesNow_ = framesThisStep(position);
    lastPosition_ = position;
    analyse(pitch, position);
    return true;
}

} // namespace

std::optional<double> lastStepMsec(const ScanRun& run, const ScanLoopInputs& in) {
    if (run.lastEndFrame < 0 || in.sampleRate <= 0) {
        return std::nullopt;
    }
    // The transform takes the last N frames of the step; its window peaks half its length in.
    const std::int64_t n = std::int64_t{1} << std::clamp(in.log2FftSize, 0, 30);
    const std::int64_t centre = std::max<std::int64_t>(
        run.lastEndFrame - n + std::clamp<std::int64_t>(in.windowSamples, 0, n) / 2, 0);
    return static_cast<double>(centre) * 1000.0 / in.sampleRate;
}

SetupResult runScanLoop(const ScanLoopInputs& inputs, ScanSource& source, ScanDisplay& display,
                        ScanPacer& pacer, bool& stopRequested, ScanRun& run) {
    Loop loop(inputs, source, display, pacer, stopRequested, run);
    const SetupResult setup = loop.setup();
    run.setupFailed = setup != SetupResult::Ok;
    if (setup == SetupResult::Ok) {
        loop.run();
        display.finish();
    }
    loop.release();
    return setup;
}

SetupResult runScanSteps(const ScanLoopInputs& inputs, ScanSource& source, ScanDisplay& display,
                         ScanRun& run,
                         const std::function<std::optional<std::int64_t>()>& nextPosition) {
    // No pacing: a clock that stands still and no messages.
    class Unpaced final : public ScanPacer {
      public:
        std::int64_t nowMs() override { return 0; }
        void sleep(std::int64_t) override {}
        void pumpMessages() override {}
    } pacer;
    bool stopRequested = false;
    Loop loop(inputs, source, display, pacer, stopRequested, run);
    const SetupResult setup = loop.setup();
    run.setupFailed = setup != SetupResult::Ok;
    if (setup == SetupResult::Ok) {
        while (const std::optional<std::int64_t> position = nextPosition()) {
            static_cast<void>(loop.stepAt(*position));
        }
        display.finish();
    }
    loop.release();
    return setup;
}

bool gatherLoopFrames(std::span<const std::uint8_t> buffer, std::int64_t halfFrames, int channels,
                      int bytesPerSample, std::int64_t bufferPosition,
                      std::span<std::int16_t> first, std::span<std::int16_t> second) {
    const std::int64_t frameBytes = channels * bytesPerSample;
    return static_cast<std::int64_t>(buffer.size()) >= 2 * halfFrames * frameBytes &&
           gatherFrames(halfFrames, channels, bufferPosition, first, second,
                        [&](std::int64_t frame, int channel) {
                            return sampleAt(buffer.data() + frame * frameBytes +
                                                channel * bytesPerSample,
                                            bytesPerSample);
                        });
}

bool gatherLoopExact(std::span<const float> buffer, std::int64_t halfFrames, int channels,
                     std::int64_t bufferPosition, std::span<float> first, std::span<float> second) {
    return static_cast<std::int64_t>(buffer.size()) >= 2 * halfFrames * channels &&
           gatherFrames(halfFrames, channels, bufferPosition, first, second,
                        [&](std::int64_t frame, int channel) {
                            return buffer[static_cast<std::size_t>(frame * channels + channel)];
                        });
}

std::optional<double> columnMsecFromFrames(std::int64_t firstEndFrame, std::int64_t lastEndFrame,
                                           long columns, std::int32_t sampleRate) {
    if (columns < 2 || sampleRate <= 0 || lastEndFrame <= firstEndFrame) {
        return std::nullopt;
    }
    return static_cast<double>(lastEndFrame - firstEndFrame) * 1000.0 / sampleRate /
           static_cast<double>(columns - 1);
}

ScanEnvelope scanEnvelope(std::span<const std::int16_t> frames, std::int32_t sampleRate,
                          float analysisWindowMsec, int fftSize) {
    const double window = static_cast<double>(sampleRate) * analysisWindowMsec / 1000.0;
    const auto c = static_cast<long>(std::min(window, static_cast<double>(fftSize)) / 2.0);
    ScanEnvelope e;
    const long first = std::max(c - SCAN_ENVELOPE_REACH + 1, 0L);
    const long last = std::min(c + SCAN_ENVELOPE_REACH, static_cast<long>(frames.size()));
    for (long i = first; i < last; ++i) {
        const int v = frames[static_cast<std::size_t>(i)];
        e.smallest = std::min(e.smallest, v);
        e.largest = std::max(e.largest, v);
    }
    return e;
}

} // namespace korv
