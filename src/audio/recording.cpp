#include "audio/recording.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace korv {

int captureBufferSeconds(int fftSize, std::int32_t sampleRate) {
    if (sampleRate <= 0) {
        return MIN_BUFFER_SECONDS;
    }
    return std::max(MIN_BUFFER_SECONDS, 2 * fftSize / sampleRate);
}

std::int64_t pressOffset(double pressMs, double bufferStartMs, const WaveFormat& format,
                         std::int64_t bufferBytes) {
    const double bytes =
        (pressMs - bufferStartMs) * format.sampleRate * format.bytesPerFrame() / 1000.0;
    // A press timed before the buffer began or after it ended belongs to its edge.
    const double clamped = std::clamp(std::trunc(bytes), 0.0, static_cast<double>(bufferBytes));
    const auto offset = static_cast<std::int64_t>(clamped);
    return offset - offset % PRESS_OFFSET_ALIGN;
}

std::optional<RecordFile> RecordFile::create(const std::string& path, const WaveFormat& format) {
    PosixFile file = PosixFile::createForWriting(path);
    if (!file.isOpen()) {
        return std::nullopt;
    }
    std::array<std::uint8_t, WAVE_HEADER_SIZE> header{};
    buildWaveHeader(header, format, 0);
    if (file.write(header) != header.size()) {
        return std::nullopt;
    }
    return RecordFile(std::move(file), format);
}

bool RecordFile::append(std::span<const std::uint8_t> bytes) {
    const auto before = static_cast<std::int64_t>(WAVE_HEADER_SIZE) + dataBytes_;
    if (file_.write(bytes) != bytes.size()) {
        // The header still describes the data before this buffer; the torn tail goes.
        (void)file_.truncate(before);
        return false;
    }
    std::array<std::uint8_t, WAVE_HEADER_SIZE> header{};
    const std::int64_t total = dataBytes_ + static_cast<std::int64_t>(bytes.size());
    buildWaveHeader(header, format_, static_cast<std::uint32_t>(total));
    if (file_.writeAt(0, header) != header.size()) {
        (void)file_.truncate(before);
        return false;
    }
    dataBytes_ = total;
    // On the disk, header and all, before the next buffer: a power cut then costs at most
    // the buffer being filled.
    return file_.syncData();
}

bool RecordFile::cutBackTo(std::int64_t dataBytes) {
    const std::int64_t kept = std::clamp<std::int64_t>(dataBytes, 0, dataBytes_);
    std::array<std::uint8_t, WAVE_HEADER_SIZE> header{};
    buildWaveHeader(header, format_, static_cast<std::uint32_t>(kept));
    // The header first: a file holding more than its header says still reads, one cut short
    // of it would not.
    if (file_.writeAt(0, header) != header.size() ||
        !file_.truncate(static_cast<std::int64_t>(WAVE_HEADER_SIZE) + kept)) {
        return false;
    }
    dataBytes_ = kept;
    return file_.syncData();
}

double Recording::fillingStartMs() const {
    return lastBufferStartMs_ +
           static_cast<double>(bufferBytes_) * 1000.0 /
               (static_cast<double>(format_.sampleRate) * format_.bytesPerFrame());
}

bool Recording::save(double startMs) {
    if (choice_ == Choice::Off || failure_) {
        return false;
    }
    startPending_ = true;
    stopPending_ = false;
    saveStartMs_ = startMs;
    recording_ = true;
    if (!file_) {
        file_ = RecordFile::create(path_, format_);
        if (!file_) {
            failure_ = kErrorWritingFile;
            recording_ = false;
            startPending_ = false;
            return false;
        }
    }
    const double filling = fillingStartMs();
    if (lastBuffer_.empty() || startMs >= filling) {
        return true;
    }
    // The start lies in the buffer completed last: its stretch from there goes out now, and
    // the buffer now filling is written whole.
    const auto s = static_cast<std::size_t>(
        std::min(pressOffset(startMs, lastBufferStartMs_, format_, bufferBytes_),
                 static_cast<std::int64_t>(lastBuffer_.size())));
    saveStartMs_ = filling;
    const std::span<const std::uint8_t> tail = lastBuffer_.subspan(s);
    // Room is kept for the buffer now filling, as after every buffer.
    if (file_->dataBytes() + static_cast<std::int64_t>(tail.size()) > byteLimit_ - bufferBytes_) {
        return true;
    }
    if (!file_->append(tail)) {
        failure_ = kRecordingWriteFailed;
        recording_ = false;
        startPending_ = false;
        return false;
    }
    lastWrittenFrom_ = static_cast<std::int64_t>(s);
    lastWrittenBytes_ = static_cast<std::int64_t>(tail.size());
    return true;
}

bool Recording::stopSave(double stopMs) {
    if (choice_ == Choice::Off || !recording_) {
        return true;
    }
    if (lastBuffer_.empty() || lastWrittenBytes_ == 0 || stopMs >= fillingStartMs()) {
        // A SAVE still pending belongs to the same buffer: the write then runs from s to e.
        stopPending_ = true;
        saveStopMs_ = stopMs;
        return true;
    }
    // The stop lies in the buffer written last: the recording ends there, now.
    const std::int64_t e =
        std::clamp(pressOffset(stopMs, lastBufferStartMs_, format_, bufferBytes_), lastWrittenFrom_,
                   lastWrittenFrom_ + lastWrittenBytes_);
    recording_ = false;
    startPending_ = false;
    stopPending_ = false;
    const std::int64_t cut = lastWrittenFrom_ + lastWrittenBytes_ - e;
    lastWrittenBytes_ -= cut;
    if (!file_ || !file_->cutBackTo(file_->dataBytes() - cut)) {
        failure_ = kRecordingWriteFailed;
        return false;
    }
    return true;
}

Recording::BufferOutcome Recording::bufferDone(std::span<const std::uint8_t> buffer,
                                               double bufferStartMs) {
    BufferOutcome outcome;
    lastBuffer_ = buffer;
    lastBufferStartMs_ = bufferStartMs;
    lastWrittenBytes_ = 0;
    // A press may lie beyond this buffer, in one the device has filled since (its completion
    // still on the way): it is kept for that one.
    const double endMs = fillingStartMs();
    if (!recording_ || !file_ || (startPending_ && saveStartMs_ >= endMs)) {
        return outcome;
    }
    const auto filled = static_cast<std::int64_t>(buffer.size());
    const bool ends = stopPending_ && saveStopMs_ < endMs;
    std::int64_t s = 0;
    std::int64_t e = filled;
    if (startPending_) {
        s = std::min(pressOffset(saveStartMs_, bufferStartMs, format_, bufferBytes_), filled);
    }
    if (ends) {
        e = std::min(pressOffset(saveStopMs_, bufferStartMs, format_, bufferBytes_), filled);
    }
    e = std::max(e, s);
    startPending_ = false;
    stopPending_ = stopPending_ && !ends;
    recording_ = !ends;
    if (!file_->append(
            buffer.subspan(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)))) {
        failure_ = kRecordingWriteFailed;
        recording_ = false;
        outcome.failed = true;
        return outcome;
    }
    lastWrittenFrom_ = s;
    lastWrittenBytes_ = e - s;
    outcome.nearLimit = file_->dataBytes() > byteLimit_ - bufferBytes_;
    return outcome;
}

TriggerAction Recording::triggerCheck(int peakToPeak, std::int32_t triggerLevel, double soundMs) {
    if (choice_ != Choice::Trigger || failure_) {
        return TriggerAction::None;
    }
    TriggerAction action = TriggerAction::None;
    if (peakToPeak > TRIGGER_LEVEL_FACTOR * triggerLevel) {
        if (!recording_) {
            action = TriggerAction::Save;
        }
        triggerLastLoudMs_ = soundMs;
    }
    if (recording_ && !stopPending_ && soundMs > triggerStopMs()) {
        action = TriggerAction::StopSave;
    }
    return action;
}

} // namespace korv
