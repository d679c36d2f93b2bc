#include "app/playback.h"

#include "audio/playback_messages.h"
#include "audio/sample_encoding.h"
#include "audio/time_expansion.h"
#include "audio/wave_file.h"
#include "audio/wave_header.h"
#include "base/user_message.h"
#include "platform/commands.h"
#include "platform/prompts.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <new>

namespace korv {

namespace {

// Pumps given to a completion that the device has already posted; a device that never reports
// is released without it after these.
constexpr int kCompletionPumps = 1000;

class OutputDoneEvent : public QEvent {
  public:
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    explicit OutputDoneEvent(unsigned generation) : QEvent(eventType()), generation_(generation) {}
    [[nodiscard]] unsigned generation() const { return generation_; }

  private:
    unsigned generation_;
};

} // namespace

// The device's sink: turns the completion, on whatever thread it comes, into an event for the
// GUI thread, like the desktop's "output done" message. Each write has its own generation, so
// a late report of an earlier write is recognised and dropped.
class Playback::Relay final : public QObject, public SoundOutputSink {
  public:
    explicit Relay(Playback& playback) : playback_(playback) {}
    ~Relay() override { QCoreApplication::removePostedEvents(this, OutputDoneEvent::eventType()); }

    void setGeneration(unsigned generation) { generation_.store(generation); }
    void outputDone() override {
        QCoreApplication::postEvent(this, new OutputDoneEvent(generation_.load()));
    }
    bool event(QEvent* e) override {
        if (e->type() != OutputDoneEvent::eventType()) {
            return QObject::event(e);
        }
        playback_.handleDone(static_cast<OutputDoneEvent*>(e)->generation());
        return true;
    }

  private:
    Playback& playback_;
    std::atomic<unsigned> generation_{0};
};

Playback::Playback(SoundOutput& output, Clock& clock, PlaybackView& view, bool& stopRequested)
    : output_(output), clock_(clock), view_(view), stopRequested_(stopRequested),
      relay_(std::make_unique<Relay>(*this)) {}

Playback::~Playback() {
    // The device goes first: nothing may report to the relay once it is gone.
    if (active()) {
        output_.close();
    }
    written_ = false;
    releaseAll();
}

// ---------------------------------------------------------------------------------------------
// PLAY and PLAY WDW

// A segment read from its file into each half as it comes up.
class Playback::FileSource {
  public:
    [[nodiscard]] bool open(const FileSegment& segment, std::int64_t from, std::int64_t end) {
        segment_ = segment;
        next_ = from;
        end_ = end;
        return !reader_.open(segment.path, segment.format, segment.source, segment.startByte,
                             segment.bytes);
    }

    // The next stretch into `half`, silence after the end (and where the file fails).
    void refill(std::span<std::uint8_t> half, std::uint8_t silence) {
        const auto n = static_cast<std::size_t>(
            std::clamp<std::int64_t>(end_ - next_, 0, static_cast<std::int64_t>(half.size())));
        std::size_t copied = 0;
        if (n > 0) {
            precise_.resize(encodingConverted(segment_.source.encoding) ? n / 2 : 0);
            copied = reader_.read(segment_.startByte + next_, half.first(n), precise_) ? n : 0;
            next_ += static_cast<std::int64_t>(n);
        }
        for (std::uint8_t& byte : half.subspan(copied)) {
            byte = silence;
        }
    }

  private:
    FileSegment segment_;
    HeldSampleReader reader_;
    std::vector<float> precise_;
    std::int64_t next_ = 0;
    std::int64_t end_ = 0;
};

void Playback::startPlayAll(const SampleStore& store, const PlayGeometry& geometry) {
    // The header may claim more than is held; only held bytes are played.
    start(Use::Play,
          {waveHeaderFormat(store.header()),
           std::min<std::size_t>(waveHeaderDataBytes(store.header()), store.heldBytes()),
           store.samples(), nullptr},
          geometry);
}

void Playback::startPlayWindow(const SampleStore& store, const PlayGeometry& geometry) {
    start(Use::PlayWindow,
          {waveHeaderFormat(store.header()),
           std::min<std::size_t>(waveHeaderDataBytes(store.header()), store.heldBytes()),
           store.samples(), nullptr},
          geometry);
}

void Playback::startPlayAll(const FileSegment& segment, const PlayGeometry& geometry) {
    start(Use::Play,
          {segment.format,
           static_cast<std::size_t>(std::max<std::int64_t>(segment.bytes, 0)),
           {},
           &segment},
          geometry);
}

void Playback::startPlayWindow(const FileSegment& segment, const PlayGeometry& geometry) {
    start(Use::PlayWindow,
          {segment.format,
           static_cast<std::size_t>(std::max<std::int64_t>(segment.bytes, 0)),
           {},
           &segment},
          geometry);
}

void Playback::start(Use use, const PlaySamples& samples, const PlayGeometry& geometry) {
    if (active() || samples.dataBytes == 0 || !openSource(use, samples, geometry) ||
        !openDevice(use, samples, geometry) || !startSound(use)) {
        return;
    }
    runPlayLoop();
    waitForCompletion();
    view_.playLoopEnded();
    if (view_.takeLayoutPending()) {
        view_.relayoutAndReanalyse();
    }
}

// Where the sound comes from and where it starts; false with the message shown.
bool Playback::openSource(Use use, const PlaySamples& samples, const PlayGeometry& geometry) {
    const WaveFormat wave = samples.format;
    fileRate_ = static_cast<std::int32_t>(wave.sampleRate);
    format_ = PcmFormat{expandedSampleRate(fileRate_, geometry.timeExpansion), wave.channels,
                        wave.bitsPerSample};
    if (!format_.isValid()) {
        // No device opens for it.
        showMessage(kCannotOpenAudioDevice);
        return false;
    }
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    const std::size_t dataBytes = samples.dataBytes;
    std::size_t offset = 0;
    if (use == Use::PlayWindow) {
        const auto wanted = static_cast<std::int64_t>(std::max(geometry.scrollColumn, 0)) *
                            std::max(geometry.columnStepSamples, 0) * format_.bytesPerSample();
        // Whole frames only: a start inside a frame would swap the channels.
        offset = std::min(static_cast<std::size_t>(wanted), dataBytes) / frameBytes * frameBytes;
    }
    geometry_ = geometry;
    source_ = SampleCursor{samples.held.first(std::min(dataBytes, samples.held.size())), offset};
    fileSource_.reset();
    if (samples.segment != nullptr) {
        fileSource_ = std::make_unique<FileSource>();
        if (!fileSource_->open(*samples.segment, static_cast<std::int64_t>(offset),
                               static_cast<std::int64_t>(dataBytes))) {
            fileSource_.reset();
            showMessage(kErrorReadingFile);
            return false;
        }
    }
    // The time check ends the sound where the held data ends, counted from where it starts.
    totalFrames_ = static_cast<std::int64_t>((dataBytes - offset) / frameBytes);

    return true;
}

// The buffer filled and the device opened and given it; false with the message shown.
bool Playback::openDevice(Use use, const PlaySamples& samples, const PlayGeometry& geometry) {
    const std::int64_t bufferBytes = playBufferBytes(format_.bytesPerSecond());
    if (!allocateBuffer(bufferBytes, pcmSilence(format_.bitsPerSample))) {
        showMessage(kNotEnoughMemory);
        view_.reloadSettings();
        return false;
    }
    use_ = use;
    refillHalf(Half::First);
    const int loops =
        use == Use::Play
            ? playAllLoops(static_cast<std::int64_t>(samples.dataBytes), bufferBytes)
            : playWindowLoops(
                  playPaneColumns(geometry.viewWidth, geometry.dualStereo), geometry.columnMsec,
                  PcmFormat{fileRate_, format_.channels, format_.bitsPerSample}.bytesPerSecond(),
                  bufferBytes);

    // A machine without a sound card fails here, whatever the stretch; the device that opens
    // but refuses the buffer wants a shorter one. One that refuses a slowed rate is named so,
    // but only when a device is there at all: else a smaller expansion would not help either.
    if (output_.open(format_, *relay_) != SoundResult::Ok) {
        failStart(format_.sampleRate != fileRate_ && outputOpensAtCommonRate()
                      ? slowedRateRefused(format_.sampleRate, fileRate_, geometry.timeExpansion)
                      : kCannotOpenAudioDevice);
        return false;
    }
    if (output_.prepare(*buffer_, loops) != SoundResult::Ok) {
        failStart(kDragSelectSmallerSegment);
        return false;
    }
    return true;
}

// The view set for playing and the first write made; false with the message shown.
bool Playback::startSound(Use use) {
    if (use == Use::Play) {
        view_.blankImageArea();
    }
    view_.enterPlaying();
    playing_ = true;
    resetIssued_ = false;
    markerColumn_.reset();
    stopRequested_ = false;
    if (use == Use::Play) {
        view_.setScrollPosition(0);
    }

    relay_->setGeneration(++generation_);
    if (use == Use::Play) {
        startTimeMs_ = clock_.nowMs();
    }
    if (output_.write() != SoundResult::Ok) {
        playing_ = false;
        failStart(kDragSelectSmallerSegment);
        // The view was set up for sound that never came: put it back.
        view_.playbackStopped();
        view_.playLoopEnded();
        return false;
    }
    written_ = true;
    if (use == Use::PlayWindow) {
        startTimeMs_ = clock_.nowMs();
    }

    return true;
}

void Playback::runPlayLoop() {
    while (playing_) {
        pumpMessages();
        if (!playing_) {
            break; // the completion (or STOP) was handled meanwhile
        }
        if (stopRequested_) {
            // Another part of the program ends the run (a window close, a resize).
            playing_ = false;
            output_.reset();
            break;
        }
        const double elapsed = static_cast<double>(clock_.nowMs() - startTimeMs_);
        // Slowed or not, the view and the readout go by the file's time of the sound heard.
        const double heard = fileMsecHeard(elapsed, format_.sampleRate, fileRate_);
        // The column whose window is centred on the sound now heard.
        const int column = playColumn(heard - geometry_.windowCentreMsec, geometry_.columnMsec);
        view_.showPlayTime(heard);
        const std::int64_t frames = playedFrames(elapsed, format_.sampleRate);
        if (frames >= totalFrames_) {
            stopRequested_ = true;
            playing_ = false;
            output_.reset();
            break;
        }
        if (const auto half = crossing_.step(frames)) {
            refillHalf(*half);
        }
        drawPosition(column);
    }
}

void Playback::drawPosition(int column) {
    if (resetIssued_ || column == markerColumn_) {
        return;
    }
    if (use_ == Use::Play) {
        const int pane = playPaneColumns(geometry_.viewWidth, geometry_.dualStereo);
        const UncoverStep step = uncoverStep(column, pane, geometry_.imageWidth);
        const UncoverStep last = markerColumn_
                                     ? uncoverStep(*markerColumn_, pane, geometry_.imageWidth)
                                     : UncoverStep{-1, -1, false};
        markerColumn_ = column;
        if (step == last) {
            return; // clamped at the image's end: nothing new to show
        }
        view_.uncoverColumns(step.sourceColumn, step.columns);
        if (step.paging) {
            view_.setScrollPosition(step.sourceColumn);
        }
        return;
    }
    if (column >= playMarkerStopColumn(geometry_.viewWidth, geometry_.dualStereo)) {
        // The marker has crossed the view: the window's span has been heard.
        resetIssued_ = true;
        output_.reset();
        return;
    }
    view_.movePlayMarker(markerColumn_, column);
    markerColumn_ = column;
}

void Playback::refillHalf(Half which) {
    if (!buffer_.held() || use_ == Use::Stream) {
        return;
    }
    if (fileSource_) {
        fileSource_->refill(loopBufferHalf(*buffer_, which), silence_);
        return;
    }
    korv::refillHalf(loopBufferHalf(*buffer_, which), source_, silence_);
}

// ---------------------------------------------------------------------------------------------
// Scan File

std::span<std::uint8_t> Playback::allocateStreamBuffer(const PcmFormat& format) {
    if (active() || !format.isValid()) {
        return {};
    }
    format_ = format;
    if (!allocateBuffer(streamBufferBytes(format.blockAlign()), pcmSilence(format.bitsPerSample))) {
        showMessage(kNotEnoughMemory);
        view_.reloadSettings();
        return {};
    }
    use_ = Use::Stream;
    return *buffer_;
}

bool Playback::openStreamPlayback(std::int64_t dataBytes, std::size_t firstHalfBytes) {
    if (use_ != Use::Stream || written_ || !buffer_.held()) {
        return false;
    }
    if (firstHalfBytes == 0) {
        stopRequested_ = true;
    }
    const int loops = playAllLoops(dataBytes, static_cast<std::int64_t>(buffer_->size()));
    if (output_.open(format_, *relay_) != SoundResult::Ok ||
        output_.prepare(*buffer_, loops) != SoundResult::Ok) {
        failStart(kCannotOpenAudioDevice);
        return false;
    }
    relay_->setGeneration(++generation_);
    startTimeMs_ = clock_.nowMs();
    if (output_.write() != SoundResult::Ok) {
        failStart(kCannotOpenAudioDevice);
        return false;
    }
    written_ = true;
    return true;
}

std::span<std::uint8_t> Playback::loopBuffer() {
    return buffer_.held() ? std::span<std::uint8_t>(*buffer_) : std::span<std::uint8_t>{};
}

std::span<std::uint8_t> Playback::half(Half which) {
    return loopBufferHalf(loopBuffer(), which);
}

std::optional<std::int64_t> Playback::devicePositionFrames() {
    return output_.isOpen() ? output_.positionFrames() : std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Completion and stop

void Playback::onOutputDone() {
    handleDone(generation_);
}

void Playback::handleDone(unsigned generation) {
    if (!written_ || generation != generation_) {
        return; // a late report of a write already dealt with
    }
    written_ = false;
    const Use use = use_;
    stopRequested_ = true;
    output_.reset();
    output_.unprepare();
    output_.close();
    releaseAll();
    if (use == Use::Stream) {
        view_.streamFinished();
        return;
    }
    view_.playbackStopped();
    playing_ = false;
}

void Playback::stopPlayback() {
    stopRequested_ = true;
    if (written_) {
        output_.reset();
        waitForCompletion();
    }
    if (use_ == Use::Stream) {
        // A point spectrum streams without a device; its buffer goes here.
        output_.close();
        releaseAll();
    }
}

void Playback::waitForCompletion() {
    for (int i = 0; i < kCompletionPumps && written_; ++i) {
        pumpMessages();
    }
    if (written_) {
        handleDone(generation_);
    }
}

// ---------------------------------------------------------------------------------------------
// Buffer

bool Playback::allocateBuffer(std::int64_t bytes, std::uint8_t silence) {
    try {
        buffer_ = CountedBlock<std::vector<std::uint8_t>>(
            std::vector<std::uint8_t>(static_cast<std::size_t>(bytes), silence));
    } catch (const std::bad_alloc&) {
        return false;
    }
    silence_ = silence;
    framesPerBuffer_ = bytes / format_.blockAlign();
    crossing_ = HalfCrossing(framesPerBuffer_);
    return true;
}

void Playback::releaseAll() {
    buffer_.reset();
    source_ = SampleCursor{};
    fileSource_.reset();
    use_ = Use::None;
    framesPerBuffer_ = 0;
}

// Whether the output opens at all: at a rate every sound device plays.
bool Playback::outputOpensAtCommonRate() {
    constexpr std::int32_t kCommonRate = 48000;
    const PcmFormat common{kCommonRate, format_.channels, format_.bitsPerSample};
    const bool opens = output_.open(common, *relay_) == SoundResult::Ok;
    output_.close();
    return opens;
}

void Playback::failStart(const UserMessage& message) {
    showMessage(message);
    output_.close();
    releaseAll();
}

} // namespace korv
