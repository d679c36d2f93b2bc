#include "platform/portaudio_input.h"

#include "platform/portaudio_system.h"
#include "platform/sound_notifier.h"

#include <portaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <vector>

namespace korv {

namespace {

// The callback shares only these with the program's thread: no lock can be taken there.
static_assert(std::atomic<std::size_t>::is_always_lock_free);
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

// The default input for `channels` of `bitsPerSample`; empty when there is none.
std::optional<PaStreamParameters> defaultInputParameters(int channels, int bitsPerSample) {
    PaStreamParameters params{};
    params.device = Pa_GetDefaultInputDevice();
    const PaDeviceInfo* info =
        params.device != paNoDevice ? Pa_GetDeviceInfo(params.device) : nullptr;
    if (info == nullptr) {
        return std::nullopt;
    }
    params.channelCount = channels;
    params.sampleFormat = bitsPerSample == 8 ? paUInt8 : paInt16;
    params.suggestedLatency = info->defaultHighInputLatency;
    return params;
}

class PortAudioInput final : public SoundInput {
  public:
    PortAudioInput() : notifier_([this](const DeviceEvent& e) { deliver(e); }) {}
    ~PortAudioInput() override {
        // Nothing is reported after destruction: the sink may be gone already.
        silent_.store(true);
        closeStream();
    }
    PortAudioInput(const PortAudioInput&) = delete;
    PortAudioInput& operator=(const PortAudioInput&) = delete;

    SoundResult open(const PcmFormat& format, SoundInputSink& sink) override;
    [[nodiscard]] std::vector<int> offeredRates(std::span<const int> candidates, int channels,
                                                int bitsPerSample) override;
    SoundResult addBuffer(std::span<std::uint8_t> buffer) override;
    SoundResult start() override;
    [[nodiscard]] std::optional<std::int64_t> positionFrames() override;
    [[nodiscard]] std::int64_t overruns() const override { return overruns_.load(); }
    [[nodiscard]] std::optional<double> inputLatencyMs() const override {
        const PaStreamInfo* info = stream_ != nullptr ? Pa_GetStreamInfo(stream_) : nullptr;
        if (info == nullptr) {
            return std::nullopt;
        }
        return info->inputLatency * 1000.0;
    }
    void stop() override;
    void reset() override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return stream_ != nullptr; }
    [[nodiscard]] std::string deviceName() override;

  private:
    struct Slot {
        std::uint8_t* data = nullptr;
        std::size_t size = 0;   // as queued
        std::size_t usable = 0; // whole frames only
    };
    static constexpr std::size_t SLOTS = static_cast<std::size_t>(MAX_QUEUED_BUFFERS);

    static int callback(const void* input, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                        void* userData);
    void store(const std::uint8_t* in, std::int64_t frames) noexcept;
    void stopStream();
    void closeStream();
    void returnFront();
    void deliver(const DeviceEvent& event);

    PaStream* stream_ = nullptr;
    SoundInputSink* sink_ = nullptr;
    PcmFormat format_;
    bool capturing_ = false;
    bool started_ = false;
    DeviceNotifier notifier_;
    std::atomic<bool> silent_{false};

    // The queue of the program's buffers: the program adds at head_, the callback fills and
    // removes at tail_. While the stream is stopped the program owns both ends.
    std::array<Slot, SLOTS> slots_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
    std::atomic<std::size_t> filled_{0};    // bytes stored in the buffer at tail_
    std::atomic<std::int64_t> position_{0}; // frames stored since the first start
    std::atomic<std::int64_t> overruns_{0}; // callbacks that lost frames
};

SoundResult PortAudioInput::open(const PcmFormat& format, SoundInputSink& sink) {
    if (isOpen() || !format.isValid() || !ensurePortAudio()) {
        return SoundResult::OpenFailed;
    }
    const auto params = defaultInputParameters(format.channels, format.bitsPerSample);
    if (!params) {
        return SoundResult::OpenFailed;
    }
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, &*params, nullptr, format.sampleRate, paFramesPerBufferUnspecified,
                      paNoFlag, &PortAudioInput::callback, this) != paNoError) {
        return SoundResult::OpenFailed;
    }
    stream_ = stream;
    sink_ = &sink;
    format_ = format;
    head_.store(0);
    tail_.store(0);
    filled_.store(0);
    position_.store(0);
    overruns_.store(0);
    capturing_ = false;
    started_ = false;
    silent_.store(false);
    return SoundResult::Ok;
}

std::string PortAudioInput::deviceName() {
    const PaDeviceIndex device = ensurePortAudio() ? Pa_GetDefaultInputDevice() : paNoDevice;
    const PaDeviceInfo* info = device != paNoDevice ? Pa_GetDeviceInfo(device) : nullptr;
    if (info == nullptr || info->name == nullptr) {
        return {};
    }
    const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
    std::string name = info->name;
    return host != nullptr && host->name != nullptr ? std::string(host->name) + ": " + name : name;
}

std::vector<int> PortAudioInput::offeredRates(std::span<const int> candidates, int channels,
                                              int bitsPerSample) {
    std::vector<int> offered;
    const auto params =
        ensurePortAudio() ? defaultInputParameters(channels, bitsPerSample) : std::nullopt;
    if (!params) {
        return offered;
    }
    for (const int rate : candidates) {
        if (PcmFormat{rate, channels, bitsPerSample}.isValid() &&
            Pa_IsFormatSupported(&*params, nullptr, rate) == paFormatIsSupported) {
            offered.push_back(rate);
        }
    }
    return offered;
}

SoundResult PortAudioInput::addBuffer(std::span<std::uint8_t> buffer) {
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    if (!isOpen() || buffer.size() < frameBytes) {
        return SoundResult::PrepareFailed;
    }
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= SLOTS) {
        return SoundResult::PrepareFailed;
    }
    slots_[head % SLOTS] =
        Slot{buffer.data(), buffer.size(), buffer.size() / frameBytes * frameBytes};
    head_.store(head + 1, std::memory_order_release);
    return SoundResult::Ok;
}

SoundResult PortAudioInput::start() {
    if (!isOpen() || capturing_) {
        return SoundResult::WriteFailed;
    }
    stopStream();
    notifier_.start();
    if (Pa_StartStream(stream_) != paNoError) {
        notifier_.stopAndDrain();
        return SoundResult::WriteFailed;
    }
    capturing_ = true;
    started_ = true;
    return SoundResult::Ok;
}

std::optional<std::int64_t> PortAudioInput::positionFrames() {
    if (!started_) {
        return std::nullopt;
    }
    return position_.load(std::memory_order_acquire);
}

void PortAudioInput::stop() {
    if (!isOpen()) {
        return;
    }
    stopStream();
    capturing_ = false;
    // Buffers the callback filled go out first, then the one it was filling.
    notifier_.stopAndDrain();
    if (head_.load() != tail_.load() && filled_.load() > 0) {
        returnFront();
    }
}

void PortAudioInput::reset() {
    stop();
    while (head_.load() != tail_.load()) {
        returnFront();
    }
}

void PortAudioInput::close() {
    if (!isOpen()) {
        return;
    }
    reset();
    closeStream();
    SoundInputSink* sink = sink_;
    sink_ = nullptr;
    if (!silent_.load()) {
        sink->inputClosed();
    }
}

void PortAudioInput::stopStream() {
    if (stream_ != nullptr && Pa_IsStreamStopped(stream_) == 0) {
        Pa_AbortStream(stream_);
    }
}

void PortAudioInput::closeStream() {
    stopStream();
    notifier_.stopAndDrain();
    capturing_ = false;
    if (stream_ != nullptr) {
        Pa_CloseStream(stream_);
        stream_ = nullptr;
    }
}

void PortAudioInput::returnFront() {
    // Only with the stream stopped: the program's thread owns the queue then.
    const std::size_t tail = tail_.load();
    const Slot slot = slots_[tail % SLOTS];
    const std::size_t bytes = filled_.exchange(0);
    tail_.store(tail + 1);
    deliver(DeviceEvent{DeviceEvent::Kind::BufferDone, slot.data, slot.size, bytes});
}

void PortAudioInput::deliver(const DeviceEvent& event) {
    if (!silent_.load() && sink_ != nullptr) {
        sink_->bufferDone(std::span<std::uint8_t>(event.data, event.size), event.bytesRecorded);
    }
}

void PortAudioInput::store(const std::uint8_t* in, std::int64_t frames) noexcept {
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    std::size_t tail = tail_.load(std::memory_order_relaxed);
    std::size_t filled = filled_.load(std::memory_order_relaxed);
    std::int64_t stored = position_.load(std::memory_order_relaxed);
    while (frames > 0 && tail != head_.load(std::memory_order_acquire)) {
        const Slot& slot = slots_[tail % SLOTS];
        const auto room = static_cast<std::int64_t>((slot.usable - filled) / frameBytes);
        const std::int64_t run = std::min(frames, room);
        const auto bytes = static_cast<std::size_t>(run) * frameBytes;
        if (in != nullptr) {
            std::memcpy(slot.data + filled, in, bytes);
            in += bytes;
        } else {
            std::memset(slot.data + filled, silenceByte(format_), bytes);
        }
        filled += bytes;
        frames -= run;
        stored += run;
        // The frames are in the buffer before the program can see the new position.
        position_.store(stored, std::memory_order_release);
        if (filled == slot.usable) {
            notifier_.post(
                DeviceEvent{DeviceEvent::Kind::BufferDone, slot.data, slot.size, filled});
            filled = 0;
            tail_.store(++tail, std::memory_order_release);
        }
    }
    // Frames left over had no buffer to go to: they are lost, as on any capture device, and
    // counted so the program can say so.
    filled_.store(filled, std::memory_order_relaxed);
    if (frames > 0) {
        overruns_.fetch_add(1, std::memory_order_relaxed);
    }
}

// The real-time side: it allocates nothing and takes no lock (atomics, and the notifier's
// wait-free post), and copies the frames of this one call, no more, into the queued buffers.
int PortAudioInput::callback(const void* input, void*, unsigned long frameCount,
                             const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags statusFlags,
                             void* userData) {
    auto* self = static_cast<PortAudioInput*>(userData);
    if ((statusFlags & paInputOverflow) != 0) {
        self->overruns_.fetch_add(1, std::memory_order_relaxed);
    }
    self->store(static_cast<const std::uint8_t*>(input), static_cast<std::int64_t>(frameCount));
    return paContinue;
}

} // namespace

std::unique_ptr<SoundInput> makePortAudioInput() {
    return std::make_unique<PortAudioInput>();
}

} // namespace korv
