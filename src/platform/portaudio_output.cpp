#include "platform/portaudio_output.h"

#include "platform/portaudio_system.h"
#include "platform/sound_notifier.h"

#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>

namespace korv {

namespace {

class PortAudioOutput final : public SoundOutput {
  public:
    PortAudioOutput() : notifier_([this](const DeviceEvent&) { reportDone(); }) {}
    ~PortAudioOutput() override {
        // Nothing is reported after destruction: the sink may be gone already.
        outstanding_.store(false);
        closeStream();
    }
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    SoundResult open(const PcmFormat& format, SoundOutputSink& sink) override;
    SoundResult prepare(std::span<const std::uint8_t> buffer, int loops) override;
    SoundResult write() override;
    [[nodiscard]] std::optional<std::int64_t> positionFrames() override;
    void reset() override;
    void unprepare() override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return stream_ != nullptr; }

  private:
    static int callback(const void* input, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                        void* userData);
    static void finished(void* userData);
    int fill(std::uint8_t* out, std::int64_t frames, double dacTime, double callbackTime) noexcept;
    // Frames that have reached the speaker: those handed over less those still on their way.
    [[nodiscard]] std::int64_t heardFrames() const;
    void stopStream();
    void closeStream();
    void reportDone();

    PaStream* stream_ = nullptr;
    SoundOutputSink* sink_ = nullptr;
    PcmFormat format_;
    DeviceNotifier notifier_;

    // Set by the program before the stream starts, only read by the callback while it runs.
    const std::uint8_t* data_ = nullptr;
    std::int64_t framesPerBuffer_ = 0;
    std::int64_t totalFrames_ = 0;
    bool prepared_ = false;
    bool written_ = false;

    std::atomic<std::int64_t> delivered_{0}; // frames handed to the stream since write()
    std::atomic<bool> outstanding_{false};   // written and its completion not yet reported
    // Frames handed over before the latest callback's buffer less its time at the speaker in
    // frames of stream time: the stream time now gives the frame being heard.
    std::atomic<std::int64_t> dacOffset_{0};
    std::atomic<bool> dacKnown_{false};
    std::atomic<bool> playedOut_{false}; // the stream ended by itself: all of it was heard
    std::atomic<bool> aborting_{false};
    std::int64_t latencyFrames_ = 0; // the stream's own latency, when it gives no times
    std::int64_t lastHeard_ = 0;
    std::optional<std::int64_t> stoppedAt_; // the position a reset left
};

SoundResult PortAudioOutput::open(const PcmFormat& format, SoundOutputSink& sink) {
    if (isOpen() || !format.isValid() || !ensurePortAudio()) {
        return SoundResult::OpenFailed;
    }
    PaStreamParameters params{};
    params.device = Pa_GetDefaultOutputDevice();
    if (params.device == paNoDevice) {
        return SoundResult::OpenFailed;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(params.device);
    if (info == nullptr) {
        return SoundResult::OpenFailed;
    }
    params.channelCount = format.channels;
    params.sampleFormat = format.bitsPerSample == 8 ? paUInt8 : paInt16;
    params.suggestedLatency = info->defaultHighOutputLatency;
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &params, format.sampleRate, paFramesPerBufferUnspecified,
                      paNoFlag, &PortAudioOutput::callback, this) != paNoError) {
        return SoundResult::OpenFailed;
    }
    if (Pa_SetStreamFinishedCallback(stream, &PortAudioOutput::finished) != paNoError) {
        Pa_CloseStream(stream);
        return SoundResult::OpenFailed;
    }
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
    latencyFrames_ =
        streamInfo != nullptr && streamInfo->outputLatency > 0.0
            ? static_cast<std::int64_t>(std::llround(streamInfo->outputLatency * format.sampleRate))
            : 0;
    stream_ = stream;
    sink_ = &sink;
    format_ = format;
    written_ = false;
    return SoundResult::Ok;
}

SoundResult PortAudioOutput::prepare(std::span<const std::uint8_t> buffer, int loops) {
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    if (!isOpen() || prepared_ || buffer.size() < frameBytes || loops < 1) {
        return SoundResult::PrepareFailed;
    }
    data_ = buffer.data();
    framesPerBuffer_ = static_cast<std::int64_t>(buffer.size() / frameBytes);
    totalFrames_ = framesPerBuffer_ * loops;
    prepared_ = true;
    return SoundResult::Ok;
}

SoundResult PortAudioOutput::write() {
    if (!prepared_ || outstanding_.load()) {
        return SoundResult::WriteFailed;
    }
    // A stream that ended by itself must be stopped before it can start again; a late report of
    // that earlier end is dropped here, as nothing is outstanding yet.
    stopStream();
    notifier_.stopAndDrain();
    delivered_.store(0);
    dacKnown_.store(false);
    playedOut_.store(false);
    lastHeard_ = 0;
    stoppedAt_.reset();
    outstanding_.store(true);
    notifier_.start();
    if (Pa_StartStream(stream_) != paNoError) {
        outstanding_.store(false);
        notifier_.stopAndDrain();
        return SoundResult::WriteFailed;
    }
    written_ = true;
    return SoundResult::Ok;
}

std::optional<std::int64_t> PortAudioOutput::positionFrames() {
    if (!written_) {
        return std::nullopt;
    }
    if (stoppedAt_) {
        return *stoppedAt_;
    }
    lastHeard_ = std::max(lastHeard_, heardFrames());
    return lastHeard_;
}

std::int64_t PortAudioOutput::heardFrames() const {
    const std::int64_t delivered = delivered_.load(std::memory_order_acquire);
    if (playedOut_.load()) {
        return delivered;
    }
    std::int64_t heard = delivered - latencyFrames_;
    if (dacKnown_.load(std::memory_order_acquire) && stream_ != nullptr) {
        const double now = Pa_GetStreamTime(stream_);
        if (now > 0.0) {
            heard = dacOffset_.load(std::memory_order_acquire) +
                    static_cast<std::int64_t>(std::floor(now * format_.sampleRate));
        }
    }
    return std::clamp<std::int64_t>(heard, 0, delivered);
}

void PortAudioOutput::reset() {
    if (!isOpen()) {
        return;
    }
    if (written_ && !stoppedAt_) {
        // What is still on its way to the speaker is dropped: the position stays where the
        // sound stopped.
        stoppedAt_ = std::max(lastHeard_, heardFrames());
    }
    aborting_.store(true);
    stopStream();
    aborting_.store(false);
    // Whatever the stream reported is delivered now; a write cut short is completed here.
    notifier_.stopAndDrain();
    reportDone();
}

void PortAudioOutput::unprepare() {
    reset();
    prepared_ = false;
    data_ = nullptr;
}

void PortAudioOutput::close() {
    if (!isOpen()) {
        return;
    }
    unprepare();
    closeStream();
    sink_ = nullptr;
}

void PortAudioOutput::stopStream() {
    if (stream_ != nullptr && Pa_IsStreamStopped(stream_) == 0) {
        Pa_AbortStream(stream_);
    }
}

void PortAudioOutput::closeStream() {
    stopStream();
    notifier_.stopAndDrain();
    if (stream_ != nullptr) {
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }
    prepared_ = false;
    data_ = nullptr;
}

void PortAudioOutput::reportDone() {
    // Once per write, whether the stream finished or the program reset it.
    if (outstanding_.exchange(false) && sink_ != nullptr) {
        sink_->outputDone();
    }
}

int PortAudioOutput::fill(std::uint8_t* out, std::int64_t frames, double dacTime,
                          double callbackTime) noexcept {
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    std::int64_t pos = delivered_.load(std::memory_order_relaxed);
    // Some hosts (ALSA through a sound server) give the callback's own time as the speaker's,
    // which says nothing; the stream's latency stands in for it then.
    const bool dacKnown = dacTime > callbackTime && callbackTime > 0.0;
    if (dacKnown) {
        dacOffset_.store(pos - static_cast<std::int64_t>(std::floor(dacTime * format_.sampleRate)),
                         std::memory_order_release);
    }
    dacKnown_.store(dacKnown, std::memory_order_release);
    const std::int64_t end = std::min(totalFrames_, pos + frames);
    while (pos < end) {
        // Up to the end of the program's buffer, then round to its start for the next loop.
        const std::int64_t inBuffer = pos % framesPerBuffer_;
        const std::int64_t run = std::min(end - pos, framesPerBuffer_ - inBuffer);
        const auto bytes = static_cast<std::size_t>(run) * frameBytes;
        std::memcpy(out, data_ + static_cast<std::size_t>(inBuffer) * frameBytes, bytes);
        out += bytes;
        pos += run;
        frames -= run;
    }
    if (frames > 0) {
        std::memset(out, silenceByte(format_), static_cast<std::size_t>(frames) * frameBytes);
    }
    delivered_.store(pos, std::memory_order_release);
    return pos >= totalFrames_ ? paComplete : paContinue;
}

int PortAudioOutput::callback(const void*, void* output, unsigned long frameCount,
                              const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags,
                              void* userData) {
    auto* self = static_cast<PortAudioOutput*>(userData);
    return self->fill(static_cast<std::uint8_t*>(output), static_cast<std::int64_t>(frameCount),
                      timeInfo != nullptr ? timeInfo->outputBufferDacTime : 0.0,
                      timeInfo != nullptr ? timeInfo->currentTime : 0.0);
}

void PortAudioOutput::finished(void* userData) {
    // Called on the stream's thread once it has played out (or was aborted): hand over to the
    // notifier rather than call the program from here.
    auto* self = static_cast<PortAudioOutput*>(userData);
    if (!self->aborting_.load()) {
        // A stream that completes by itself has played out everything it was given.
        self->playedOut_.store(true);
    }
    self->notifier_.signalDone();
}

} // namespace

std::unique_ptr<SoundOutput> makePortAudioOutput() {
    return std::make_unique<PortAudioOutput>();
}

} // namespace korv
