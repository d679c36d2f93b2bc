#pragma once
// Recording the captured sound: SAVE / STOP SAVE presses (by hand or by the level trigger)
// turned into stretches of the completed capture buffers, appended to one wave file per run.
// The file's header is brought up to date after every buffer written and the file synced to
// the disk, so the file is a valid wave file whatever happens to the program or the power; a
// failed write ends the recording with the file cut back to its last whole buffer.

#include "audio/wave_header.h"
#include "base/posix_file.h"
#include "base/user_message.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korv {

// Capture buffers last at least this many seconds.
inline constexpr int MIN_BUFFER_SECONDS = 4;
// Recording stops this close to the 2 GB a wave file can describe.
inline constexpr std::int64_t RECORDING_BYTE_LIMIT = 2147483600;
// A triggered recording ends this long (of sound captured) after the last loud step.
inline constexpr double TRIGGER_HOLD_MS = 5000.0;
// The trigger fires on a peak-to-peak above this many times triggerLevel.
inline constexpr int TRIGGER_LEVEL_FACTOR = 10;
// Press offsets are whole multiples of this many bytes.
inline constexpr std::int64_t PRESS_OFFSET_ALIGN = 4;

inline const UserMessage kRecordingWriteFailed{
    "Error Writing File.  Recording stopped; the wave file holds the sound up to the failure.",
    MessageIcon::Stop};

inline const UserMessage kInputSoundLost{
    "Some input sound was lost: the computer did not keep up with the sound card.",
    MessageIcon::Warning};

// m, the seconds of one capture buffer: 2N / rate, at least 4.
[[nodiscard]] int captureBufferSeconds(int fftSize, std::int32_t sampleRate);

// The byte offset inside a buffer that began at `bufferStartMs` of a press at `pressMs`,
// rounded down to PRESS_OFFSET_ALIGN and kept within 0 .. bufferBytes.
[[nodiscard]] std::int64_t pressOffset(double pressMs, double bufferStartMs,
                                       const WaveFormat& format, std::int64_t bufferBytes);

// A wave file that grows by whole buffers and is valid after each.
class RecordFile {
  public:
    // Creates the file with an empty data chunk; empty when it cannot be created.
    [[nodiscard]] static std::optional<RecordFile> create(const std::string& path,
                                                          const WaveFormat& format);
    // Appends `bytes`, updates the header and syncs the file. On a failed or short write the
    // file is cut back to what it held before and false returned; false also when the sync
    // fails (the disk could not keep what was written).
    [[nodiscard]] bool append(std::span<const std::uint8_t> bytes);
    // Cuts the data back to `dataBytes` (no more than it holds), header and sync as append.
    [[nodiscard]] bool cutBackTo(std::int64_t dataBytes);
    [[nodiscard]] std::int64_t dataBytes() const { return dataBytes_; }

  private:
    RecordFile(PosixFile file, const WaveFormat& format)
        : file_(std::move(file)), format_(format) {}
    PosixFile file_;
    WaveFormat format_;
    std::int64_t dataBytes_ = 0;
};

// What the trigger asks for at a step.
enum class TriggerAction { None, Save, StopSave };

// The recording of one Scan Input run. Press and buffer times are msec on one scale, the
// caller's (Scan Input counts them by the frames captured).
class Recording {
  public:
    enum class Choice { Off, Manual, Trigger };

    // `byteLimit`: the sound data a file may hold (less only in tests).
    Recording(Choice choice, std::string path, const WaveFormat& format, std::int64_t bufferBytes,
              std::int64_t byteLimit = RECORDING_BYTE_LIMIT)
        : choice_(choice), path_(std::move(path)), format_(format), bufferBytes_(bufferBytes),
          byteLimit_(byteLimit) {}

    // SAVE: recording starts at `startMs`, inside the buffer now filling or, for a start the
    // level trigger placed back in the buffer completed last (which the device has not begun
    // to fill again), there: that buffer's stretch from the start is written at once. The first
    // SAVE creates the file. False (with failure() set) when the file cannot be created or
    // written.
    bool save(double startMs);
    // STOP SAVE: recording stops at `stopMs`, inside the buffer now filling or a later one
    // (whose completion is still on the way) or, for a stop the level trigger placed back in
    // the buffer completed last (a device may deliver seconds of sound at once), there: what
    // the file got of that buffer after the stop is cut off at once. False (with failure()
    // set) when the file cannot be cut.
    bool stopSave(double stopMs);

    struct BufferOutcome {
        bool nearLimit = false; // the next buffer could pass the byte limit: the run should stop
        bool failed = false;    // a write failed: recording has ended, see failure()
    };
    // A buffer that began at `bufferStartMs` has completed with `buffer` (the bytes the device
    // filled): the stretch chosen by the pending presses is written. The bytes are kept in
    // view (not copied) until the next buffer completes, for a start placed back in them.
    BufferOutcome bufferDone(std::span<const std::uint8_t> buffer, double bufferStartMs);

    // The level trigger, at every step; `soundMs`: the time of the frames the step analysed,
    // so that the hold lasts as long in sound whenever the device delivers it.
    [[nodiscard]] TriggerAction triggerCheck(int peakToPeak, std::int32_t triggerLevel,
                                             double soundMs);
    // Where a triggered recording stops: the hold after the last loud step.
    [[nodiscard]] double triggerStopMs() const { return triggerLastLoudMs_ + TRIGGER_HOLD_MS; }

    [[nodiscard]] Choice choice() const { return choice_; }
    [[nodiscard]] bool recording() const { return recording_; }
    [[nodiscard]] bool fileOpen() const { return file_.has_value(); }
    [[nodiscard]] std::int64_t recordedBytes() const { return file_ ? file_->dataBytes() : 0; }
    [[nodiscard]] const std::optional<UserMessage>& failure() const { return failure_; }

  private:
    // The start of the buffer now filling.
    [[nodiscard]] double fillingStartMs() const;

    Choice choice_;
    std::string path_;
    WaveFormat format_;
    std::int64_t bufferBytes_;
    std::int64_t byteLimit_;
    std::optional<RecordFile> file_;
    std::optional<UserMessage> failure_;
    bool recording_ = false;
    bool startPending_ = false;
    bool stopPending_ = false;
    // The buffer completed last and its start; the one now filling began where it ended.
    std::span<const std::uint8_t> lastBuffer_;
    double lastBufferStartMs_ = 0.0;
    // What the file got of that buffer: from this offset, so many bytes.
    std::int64_t lastWrittenFrom_ = 0;
    std::int64_t lastWrittenBytes_ = 0;
    double saveStartMs_ = 0.0;
    double saveStopMs_ = 0.0;
    double triggerLastLoudMs_ = 0.0;
};

} // namespace korv
