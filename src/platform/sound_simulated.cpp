#include "platform/sound_simulated.h"

#include <algorithm>
#include <cmath>

namespace korv {

namespace {

// Frames that fall due `elapsedMs` after the start at `rate` frames per second.
std::int64_t framesDue(std::int64_t elapsedMs, int rate) {
    return elapsedMs * static_cast<std::int64_t>(rate) / 1000;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Output

SimulatedSoundOutput::SimulatedSoundOutput(VirtualClock& clock)
    : clock_(clock), listener_(clock.addListener([this](std::int64_t now) { onTick(now); })) {}

SimulatedSoundOutput::~SimulatedSoundOutput() {
    clock_.removeListener(listener_);
    // Nothing is reported after destruction: the sink may be gone already.
    sink_ = nullptr;
}

SoundResult SimulatedSoundOutput::open(const PcmFormat& format, SoundOutputSink& sink) {
    if (failure_ == SimulatedFailure::Open || isOpen() || !format.isValid() ||
        (refusedRate_ != 0 && format.sampleRate == refusedRate_)) {
        return SoundResult::OpenFailed;
    }
    sink_ = &sink;
    format_ = format;
    written_ = false;
    framesPlayed_ = 0;
    ++openCount_;
    return SoundResult::Ok;
}

SoundResult SimulatedSoundOutput::prepare(std::span<const std::uint8_t> buffer, int loops) {
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    if (failure_ == SimulatedFailure::Prepare || !isOpen() || prepared_ ||
        buffer.size() < frameBytes || loops < 1) {
        return SoundResult::PrepareFailed;
    }
    buffer_ = buffer;
    framesPerBuffer_ = static_cast<std::int64_t>(buffer.size() / frameBytes);
    totalFrames_ = framesPerBuffer_ * loops;
    prepared_ = true;
    return SoundResult::Ok;
}

SoundResult SimulatedSoundOutput::write() {
    if (failure_ == SimulatedFailure::Write || !prepared_ || playing_) {
        return SoundResult::WriteFailed;
    }
    startMs_ = clock_.currentMs() + startDelayMs_;
    framesTaken_ = 0;
    framesPlayed_ = 0;
    inFlight_.clear();
    written_ = true;
    playing_ = true;
    return SoundResult::Ok;
}

std::optional<std::int64_t> SimulatedSoundOutput::positionFrames() {
    if (!written_) {
        return std::nullopt;
    }
    return framesPlayed_;
}

void SimulatedSoundOutput::reset() {
    if (playing_) {
        finish();
    }
}

void SimulatedSoundOutput::unprepare() {
    reset();
    prepared_ = false;
    buffer_ = {};
}

void SimulatedSoundOutput::close() {
    if (!isOpen()) {
        return;
    }
    unprepare();
    sink_ = nullptr;
}

void SimulatedSoundOutput::onTick(std::int64_t nowMs) {
    if (!playing_ || nowMs < startMs_ - latencyMs_) {
        return;
    }
    takeUpTo(std::min(framesDueAfter(nowMs - startMs_ + latencyMs_), totalFrames_));
    hearUpTo(std::min(framesDueAfter(nowMs - startMs_), framesTaken_));
    if (framesPlayed_ >= totalFrames_) {
        finish();
    }
}

// The frames played `elapsedMs` after the first, the stall taken out.
std::int64_t SimulatedSoundOutput::framesDueAfter(std::int64_t elapsedMs) const {
    const std::int64_t due = framesDue(elapsedMs, format_.sampleRate);
    if (stallMs_ == 0 || due <= stallAfterFrames_) {
        return due;
    }
    return std::max(stallAfterFrames_, framesDue(elapsedMs - stallMs_, format_.sampleRate));
}

void SimulatedSoundOutput::takeUpTo(std::int64_t frames) {
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    while (framesTaken_ < frames) {
        // Whole frames up to the end of the buffer or the frames due, whichever comes first.
        const std::int64_t inBuffer = framesTaken_ % framesPerBuffer_;
        const std::int64_t run = std::min(frames - framesTaken_, framesPerBuffer_ - inBuffer);
        const auto from = buffer_.subspan(static_cast<std::size_t>(inBuffer) * frameBytes,
                                          static_cast<std::size_t>(run) * frameBytes);
        inFlight_.insert(inFlight_.end(), from.begin(), from.end());
        framesTaken_ += run;
    }
}

void SimulatedSoundOutput::hearUpTo(std::int64_t frames) {
    if (frames <= framesPlayed_) {
        return;
    }
    const auto bytes = static_cast<std::ptrdiff_t>(frames - framesPlayed_) * format_.blockAlign();
    played_.insert(played_.end(), inFlight_.begin(), inFlight_.begin() + bytes);
    inFlight_.erase(inFlight_.begin(), inFlight_.begin() + bytes);
    framesPlayed_ = frames;
}

void SimulatedSoundOutput::finish() {
    playing_ = false;
    // What was taken but not yet heard is lost, as when a real device is stopped.
    inFlight_.clear();
    if (sink_ != nullptr) {
        sink_->outputDone();
    }
}

// ---------------------------------------------------------------------------------------------
// Input

SimulatedSoundInput::SimulatedSoundInput(VirtualClock& clock)
    : clock_(clock), listener_(clock.addListener([this](std::int64_t now) { onTick(now); })) {}

SimulatedSoundInput::~SimulatedSoundInput() {
    clock_.removeListener(listener_);
    sink_ = nullptr;
}

std::vector<int> SimulatedSoundInput::offeredRates(std::span<const int> candidates, int channels,
                                                   int bitsPerSample) {
    static constexpr int kClassicRates[] = {5513, 11025, 22050, 44100, 48000};
    const std::span<const int> takes = rates_ ? std::span<const int>(*rates_) : kClassicRates;
    std::vector<int> offered;
    for (const int rate : candidates) {
        if (PcmFormat{rate, channels, bitsPerSample}.isValid() &&
            std::find(takes.begin(), takes.end(), rate) != takes.end()) {
            offered.push_back(rate);
        }
    }
    return offered;
}

SoundResult SimulatedSoundInput::open(const PcmFormat& format, SoundInputSink& sink) {
    if (failure_ == SimulatedFailure::Open || isOpen() || !format.isValid() ||
        (rates_ && std::find(rates_->begin(), rates_->end(), format.sampleRate) == rates_->end())) {
        return SoundResult::OpenFailed;
    }
    sink_ = &sink;
    format_ = format;
    queue_.clear();
    capturing_ = false;
    framesHeard_ = 0;
    framesStored_ = 0;
    overruns_ = 0;
    losing_ = false;
    started_ = false;
    ++openCount_;
    return SoundResult::Ok;
}

SoundResult SimulatedSoundInput::addBuffer(std::span<std::uint8_t> buffer) {
    if (failure_ == SimulatedFailure::Prepare || !isOpen() ||
        buffer.size() < static_cast<std::size_t>(format_.blockAlign()) ||
        queue_.size() >= static_cast<std::size_t>(MAX_QUEUED_BUFFERS)) {
        return SoundResult::PrepareFailed;
    }
    queue_.push_back(Queued{buffer, 0});
    return SoundResult::Ok;
}

SoundResult SimulatedSoundInput::start() {
    if (failure_ == SimulatedFailure::Write || !isOpen() || capturing_) {
        return SoundResult::WriteFailed;
    }
    capturing_ = true;
    started_ = true;
    startMs_ = clock_.currentMs();
    framesAtStart_ = framesHeard_;
    return SoundResult::Ok;
}

std::optional<std::int64_t> SimulatedSoundInput::positionFrames() {
    if (!started_) {
        return std::nullopt;
    }
    return framesStored_;
}

void SimulatedSoundInput::stop() {
    capturing_ = false;
    if (!queue_.empty() && queue_.front().filled > 0) {
        returnFront();
    }
}

void SimulatedSoundInput::reset() {
    capturing_ = false;
    while (!queue_.empty()) {
        returnFront();
    }
}

void SimulatedSoundInput::close() {
    if (!isOpen()) {
        return;
    }
    reset();
    SoundInputSink* sink = sink_;
    sink_ = nullptr;
    sink->inputClosed();
}

void SimulatedSoundInput::setSignal(Signal signal) {
    signal_ = std::move(signal);
    bytes_.clear();
    bytesRead_ = 0;
}

void SimulatedSoundInput::setBytes(std::vector<std::uint8_t> bytes) {
    signal_ = nullptr;
    bytes_ = std::move(bytes);
    bytesRead_ = 0;
}

void SimulatedSoundInput::onTick(std::int64_t nowMs) {
    if (!capturing_) {
        return;
    }
    for (const auto& [from, length] : stalls_) {
        if (nowMs - startMs_ >= from && nowMs - startMs_ < from + length) {
            return;
        }
    }
    const auto frameBytes = static_cast<std::size_t>(format_.blockAlign());
    const std::int64_t due = framesAtStart_ + framesDue(nowMs - startMs_, format_.sampleRate);
    std::vector<std::uint8_t> lost(frameBytes);
    while (framesHeard_ < due) {
        if (queue_.empty()) {
            // No buffer to take it: the sound is heard but lost.
            produceFrame(lost.data());
            overruns_ += losing_ ? 0 : 1;
            losing_ = true;
        } else {
            losing_ = false;
            Queued& front = queue_.front();
            produceFrame(front.buffer.data() + front.filled);
            front.filled += frameBytes;
            ++framesStored_;
            if (front.buffer.size() - front.filled < frameBytes) {
                returnFront();
            }
        }
        ++framesHeard_;
    }
}

void SimulatedSoundInput::produceFrame(std::uint8_t* out) {
    const bool eightBit = format_.bitsPerSample == 8;
    if (signal_) {
        for (int ch = 0; ch < format_.channels; ++ch) {
            const double v = std::clamp(signal_(framesHeard_, ch), -1.0, 1.0);
            if (eightBit) {
                *out++ = static_cast<std::uint8_t>(128 + std::lround(v * 127.0));
            } else {
                const auto s = static_cast<std::int16_t>(std::lround(v * 32767.0));
                const auto u = static_cast<std::uint16_t>(s);
                *out++ = static_cast<std::uint8_t>(u & 0xFF);
                *out++ = static_cast<std::uint8_t>(u >> 8);
            }
        }
        return;
    }
    for (int i = 0; i < format_.blockAlign(); ++i) {
        *out++ = bytesRead_ < bytes_.size() ? bytes_[bytesRead_++] : silenceByte(format_);
    }
}

void SimulatedSoundInput::returnFront() {
    // Off the queue before the sink hears of it, so the sink sees a consistent device.
    const Queued done = queue_.front();
    queue_.pop_front();
    if (sink_ != nullptr) {
        sink_->bufferDone(done.buffer, done.filled);
    }
}

} // namespace korv
