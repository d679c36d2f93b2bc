#include "modes/capture.h"

#include "audio/wave_header.h"
#include "platform/clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <new>

namespace korv {

namespace {

class CaptureEvent : public QEvent {
  public:
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    CaptureEvent(std::uint8_t* buffer, std::size_t recorded, bool isClose)
        : QEvent(eventType()), data(buffer), bytes(recorded), closed(isClose) {}
    std::uint8_t* data;
    std::size_t bytes;
    bool closed;
};

} // namespace

// The device's sink: completions, from whatever thread they come, become events for the GUI
// thread, delivered in the order posted.
class Capture::Relay final : public QObject, public SoundInputSink {
  public:
    explicit Relay(Capture& capture) : capture_(capture) {}
    ~Relay() override { QCoreApplication::removePostedEvents(this, CaptureEvent::eventType()); }

    void bufferDone(std::span<std::uint8_t> buffer, std::size_t bytesRecorded) override {
        QCoreApplication::postEvent(this, new CaptureEvent(buffer.data(), bytesRecorded, false));
    }
    void inputClosed() override {
        QCoreApplication::postEvent(this, new CaptureEvent(nullptr, 0, true));
    }
    bool event(QEvent* e) override {
        if (e->type() != CaptureEvent::eventType()) {
            return QObject::event(e);
        }
        const auto* c = static_cast<CaptureEvent*>(e);
        if (!c->closed) {
            capture_.handleBufferDone(c->data, c->bytes);
        }
        return true;
    }
    // Hands every completion posted so far to the capture.
    void deliver() { QCoreApplication::sendPostedEvents(this, CaptureEvent::eventType()); }

  private:
    Capture& capture_;
};

Capture::Capture(SoundInput& input, Clock& clock)
    : input_(input), clock_(clock), relay_(std::make_unique<Relay>(*this)) {}

Capture::~Capture() {
    stop();
}

Capture::Opened Capture::open(const CaptureFormat& format, BufferHandler onBuffer) {
    format_ = format;
    onBuffer_ = std::move(onBuffer);
    stopping_ = false;
    const auto bytes = static_cast<std::size_t>(format.bufferBytes());
    // The header area stays in front of the pair, as in every sample block of the program.
    block_.reset(new (std::nothrow) std::uint8_t[WAVE_HEADER_SIZE + 2 * bytes]());
    if (!block_) {
        return Opened::NoMemory;
    }
    blockCount_ = AllocationHandle::acquire();
    const PcmFormat pcm{format.sampleRate, format.channels, format.bytesPerSample * 8};
    if (input_.open(pcm, *relay_) != SoundResult::Ok) {
        release();
        return Opened::NoDevice;
    }
    std::uint8_t* first = block_.get() + WAVE_HEADER_SIZE;
    if (input_.addBuffer({first, bytes}) != SoundResult::Ok ||
        input_.addBuffer({first + bytes, bytes}) != SoundResult::Ok) {
        stop();
        return Opened::Failed;
    }
    return Opened::Ok;
}

bool Capture::start() {
    if (input_.start() != SoundResult::Ok) {
        stop();
        return false;
    }
    startMs_ = static_cast<double>(clock_.nowMs());
    completedFrames_ = 0;
    return true;
}

void Capture::handleBufferDone(std::uint8_t* data, std::size_t bytesRecorded) {
    if (!block_) {
        return;
    }
    const auto bytes = static_cast<std::size_t>(format_.bufferBytes());
    const double began = static_cast<double>(completedFrames_) * 1000.0 / format_.sampleRate;
    completedFrames_ += format_.framesPerBuffer();
    // The device fills the other buffer meanwhile, so this one is written out before it is
    // queued again.
    if (onBuffer_) {
        onBuffer_({data, std::min(bytesRecorded, bytes)}, began);
    }
    if (!stopping_ && input_.isOpen()) {
        (void)input_.addBuffer({data, bytes});
    }
}

void Capture::stop() {
    stopping_ = true;
    if (input_.isOpen()) {
        input_.stop();
        input_.reset();
        input_.close();
    }
    relay_->deliver();
    release();
}

void Capture::release() {
    block_.reset();
    blockCount_.release();
}

double Capture::soundMs() {
    const std::optional<std::int64_t> position = input_.positionFrames();
    if (position) {
        return static_cast<double>(*position) * 1000.0 / format_.sampleRate;
    }
    return static_cast<double>(clock_.nowMs()) - startMs_;
}

std::span<const std::uint8_t> Capture::ring() const {
    if (!block_) {
        return {};
    }
    return {block_.get() + WAVE_HEADER_SIZE, static_cast<std::size_t>(2 * format_.bufferBytes())};
}

std::optional<std::int64_t> CaptureScanSource::devicePositionFrames() {
    const std::optional<std::int64_t> p = capture_.positionFrames();
    if (!p) {
        return std::nullopt;
    }
    return *p - delayFrames_;
}

bool CaptureScanSource::framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                       std::span<std::int16_t> second) {
    const CaptureFormat& f = capture_.format();
    const std::int64_t ring = 2 * f.framesPerBuffer();
    // Nothing before the first whole window has been heard.
    if (position < static_cast<std::int64_t>(first.size()) || ring <= 0) {
        return false;
    }
    lastWindowEnd_ = position;
    return gatherLoopFrames(capture_.ring(), f.framesPerBuffer(), f.channels, f.bytesPerSample,
                            position % ring, first, second);
}

} // namespace korv
