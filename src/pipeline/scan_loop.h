#pragma once
// The real-time step loop of the scanning modes: one step per time-scale interval, each taking
// the latest W frames of the sound being heard, turning them into averaged rows and handing
// them to a display. Where the frames come from (a file streamed through the output's loop
// buffer, the input's capture ring) and what is drawn (the scrolling image, a spectrum plot)
// are behind the two interfaces below, so Scan File and Scan Input share the loop. The columns
// are the column pipeline's, as Analyze File's are; the clock and the program's messages come
// in through a ScanPacer, so the loop runs on a virtual clock in tests.

#include "analysis/column_pipeline.h"
#include "analysis/frequency_axis.h"
#include "analysis/parameters.h"
#include "analysis/pitch.h"
#include "analysis/scan_inputs.h"
#include "base/settings_types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// The envelope of the waveform strip looks this many frames either side of the window centre.
inline constexpr int SCAN_ENVELOPE_REACH = 64;
// Sleeping for the next step leaves this much slack (ms).
inline constexpr int SCAN_SLEEP_SLACK_MS = 2;
// Below three msec a column, steps this far behind their schedule are caught up.
inline constexpr int SCAN_CATCH_UP_MS = 50;
// While a scan runs the window is presented at most this often: the columns drawn meanwhile
// are shown together, as a film is, instead of copying the window to the screen every step.
inline constexpr std::int64_t SCAN_PRESENT_INTERVAL_MS = 40;
// The longest the loop sleeps between two looks at its source (ScanSource::keepUp).
inline constexpr std::int64_t SCAN_KEEP_UP_MS = 20;
// How long past the end of the data the clock waits for a device that stopped moving.
inline constexpr std::int64_t SCAN_DEVICE_GRACE_MS = 5000;
// The columns trail the clock by the most the device trailed it over this last stretch: longer
// than the lumps a sound server hands its input over in, short enough to catch up soon after
// a device that hung delivers what it held.
inline constexpr double SCAN_DEVICE_LAG_MEMORY_MS = 2000.0;

// The frames a step may take at most, whatever its source allows.
inline constexpr std::int64_t SCAN_WINDOW_LIMIT_FRAMES = std::int64_t{1} << 20;

// Where the sound of a scan comes from.
class ScanSource {
  public:
    virtual ~ScanSource() = default;
    // The frames played (or captured) so far as the device reports them; nothing when it
    // cannot say, and the loop then goes by the clock.
    [[nodiscard]] virtual std::optional<std::int64_t> devicePositionFrames() = 0;
    // The frames of the data: the clock passing them ends the scan. Nothing for sound without
    // an end.
    [[nodiscard]] virtual std::optional<std::int64_t> endFrame() const = 0;
    // The W = first.size() frames that end at frame `position` (counted from the start of the
    // sound), as analysis samples: the first channel into `first`, the second into `second`
    // (left untouched for mono). False when they cannot be had at that position; the loop then
    // asks for the position again.
    [[nodiscard]] virtual bool framesEndingAt(std::int64_t position, std::span<std::int16_t> first,
                                              std::span<std::int16_t> second) = 0;
    // Whether the sound has exact values beyond 16 bits (a 24-bit or float file): the loop
    // then analyses those, and the 16-bit frames serve the envelope and the pitch.
    [[nodiscard]] virtual bool exact() const { return false; }
    // The exact values (full scale 32768) of the frames framesEndingAt gives at `position`,
    // laid out as those.
    [[nodiscard]] virtual bool exactFramesEndingAt(std::int64_t /*position*/,
                                                   std::span<float> /*first*/,
                                                   std::span<float> /*second*/) {
        return false;
    }
    // The most frames one framesEndingAt may ask for.
    [[nodiscard]] virtual std::int64_t windowLimitFrames() const {
        return SCAN_WINDOW_LIMIT_FRAMES;
    }
    // The source has reached the end of its data (a short read).
    [[nodiscard]] virtual bool endOfData() const = 0;
    // Called at least every SCAN_KEEP_UP_MS while the loop waits for its next step, so a source
    // that feeds a device can follow the device rather than the steps.
    virtual void keepUp() {}
};

// The signal envelope of one step: the smallest and largest sample around the window centre.
using ScanEnvelope = PitchEnvelope;

// What one step hands to the display.
struct ScanStep {
    // Per channel (the second empty for mono): the integer mean of the last usedCount rows of
    // the level ring, row 0 the lowest frequency, in quarter-dB.
    std::array<std::span<const float>, 2> rows;
    // For a display that wants them (Linear and Log scales): the same mean of each of the N/2
    // bins, bin k at index k.
    std::array<std::span<const float>, 2> bins;
    std::array<ScanEnvelope, 2> envelope;
    std::optional<PitchResult> pitch; // with the pitch detector on
    // The frame (counted from the start of the sound) the step's window ends at.
    std::int64_t endFrame = 0;
};

// What a scan draws.
class ScanDisplay {
  public:
    virtual ~ScanDisplay() = default;
    // Rows per channel the display wants: image rows (Scroll) or plot points (plots).
    [[nodiscard]] virtual int rows() const = 0;
    // Whether it wants each bin's own averaged level as well (the spectrum log).
    [[nodiscard]] virtual bool wantsBins() const { return false; }
    // One step's rows, envelope and pitch.
    virtual void step(const ScanStep& step) = 0;
    // The loop has ended (after the last step, before anything is released).
    virtual void finish() = 0;
};

// ScanRun: the state of the running scan.
struct ScanRun {
    int windowFrames = 0; // W
    int rows = 0;
    int averageCount = 1;
    long stepsTaken = 0;
    int usedCount = 0;
    long columnsDrawn = 0;
    // The frames the first column's window ended at (see lastEndFrame for the last one's).
    std::int64_t firstEndFrame = 0;
    double loopStartMs = 0.0;
    double lastStepMs = 0.0;
    double endMs = 0.0;       // the clock at the loop's end
    bool endReached = false;  // the device (or the clock) passed the end of the data
    double deviceLagMs = 0.0; // how far the device's position trailed the clock at most
    bool setupFailed = false; // no memory or no row map: nothing was drawn
    // Where the last step's window ended, in frames from the start of the sound; -1 before one.
    std::int64_t lastEndFrame = -1;
};

// The time of the last step's spectrum: the centre of its window, in msec from the start of
// the sound; nothing before a step was taken.
[[nodiscard]] std::optional<double> lastStepMsec(const ScanRun& run, const ScanLoopInputs& in);

// The loop's ties to the program around it: the clock it paces itself by, and the messages
// waiting (STOP, a close, the device's events), handled between steps.
class ScanPacer {
  public:
    virtual ~ScanPacer() = default;
    // Milliseconds since a fixed origin; never goes backwards.
    [[nodiscard]] virtual std::int64_t nowMs() = 0;
    // Returns after at least `ms` milliseconds.
    virtual void sleep(std::int64_t ms) = 0;
    // Delivers the messages waiting; one of them may set the loop's stop flag.
    virtual void pumpMessages() = 0;
};

// Runs until `stopRequested` is set (by STOP, a close, the device's completion) or the device
// has played the end of the data (the clock, when the device cannot say or stalls); returns Ok, or
// NoMemory / Unusable when the working arrays, the engine or the row map could
// not be had (nothing drawn then).
[[nodiscard]] SetupResult runScanLoop(const ScanLoopInputs& inputs, ScanSource& source,
                                      ScanDisplay& display, ScanPacer& pacer, bool& stopRequested,
                                      ScanRun& run);

// The loop's steps alone, at the positions `nextPosition` names until it names none: no pacing,
// no clock, no messages pumped; set up and released as runScanLoop does. For measuring a step.
[[nodiscard]] SetupResult
runScanSteps(const ScanLoopInputs& inputs, ScanSource& source, ScanDisplay& display, ScanRun& run,
             const std::function<std::optional<std::int64_t>()>& nextPosition);

// The frames of one step from the two halves of a loop buffer (each `halfFrames` frames of
// `channels` x `bytesPerSample` bytes): the W = first.size() frames ending at loop-buffer
// position `bufferPosition` (0 .. 2 x halfFrames - 1), reaching back into the end of the
// other half where the current one has too few. False when the window does not fit.
[[nodiscard]] bool gatherLoopFrames(std::span<const std::uint8_t> buffer, std::int64_t halfFrames,
                                    int channels, int bytesPerSample, std::int64_t bufferPosition,
                                    std::span<std::int16_t> first, std::span<std::int16_t> second);

// The same from a loop buffer of exact values (channels floats a frame).
[[nodiscard]] bool gatherLoopExact(std::span<const float> buffer, std::int64_t halfFrames,
                                   int channels, std::int64_t bufferPosition,
                                   std::span<float> first, std::span<float> second);

// The sound's time from one column to the next, from the frames the windows of `columns`
// columns ended at, the first and the last; nothing for fewer than two columns or frames that
// did not move on.
[[nodiscard]] std::optional<double> columnMsecFromFrames(std::int64_t firstEndFrame,
                                                         std::int64_t lastEndFrame, long columns,
                                                         std::int32_t sampleRate);

// The envelope of frames strictly between c - 64 and c + 64, c = min(W', N) / 2 with W' the
// window of analysisWindowMsec.
[[nodiscard]] ScanEnvelope scanEnvelope(std::span<const std::int16_t> frames,
                                        std::int32_t sampleRate, float analysisWindowMsec,
                                        int fftSize);

} // namespace korv
