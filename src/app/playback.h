#pragma once
// Playback through the sound output: PLAY (the whole held sample), PLAY WDW (the span the view
// shows) and the device side of Scan File's streaming. One looping buffer of two halves is
// handed to the device once; while it plays one half the other is refilled.
//
// Everything runs on the GUI thread. The device's completion arrives as a posted event and is
// handled inside pumpMessages(), like every other window message.

#include "audio/held_samples.h"
#include "audio/playback_buffer.h"
#include "audio/sample_store.h"
#include "base/check_result.h"
#include "platform/allocations.h"
#include "platform/clock.h"
#include "platform/sound_output.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// What the main window does for playback. Called only on the GUI thread, from inside the
// Playback calls (and the completion they wait for).
class PlaybackView {
  public:
    virtual ~PlaybackView() = default;

    // PLAY, before the sound starts: fill the spectral image area with the background colour.
    virtual void blankImageArea() = 0;
    // The sound is about to start: grey the menu items that cannot be used while it runs,
    // enable STOP, disable PLAY, PLAY WDW and GRID, draw the readouts and the axes.
    virtual void enterPlaying() = 0;
    // Sets the horizontal scroll position (in columns) without redrawing the view.
    virtual void setScrollPosition(int column) = 0;
    // The time readout, `elapsedMs` into the played span.
    virtual void showPlayTime(double elapsedMs) = 0;
    // PLAY: copies `columns` columns of the off-screen image from `sourceColumn` on (spectral
    // rows and waveform strip) to the view from its left edge. In the dual stereo layout the
    // first channel goes to the left pane, the second (half the image height lower) to the
    // right pane starting at dualRightPaneX().
    virtual void uncoverColumns(int sourceColumn, int columns) = 0;
    // PLAY WDW: puts back the column saved under the marker at `previousColumn` (if any), saves
    // the column under `column` and draws the one-pixel marker there (Signal 1, as tall as
    // the view).
    virtual void movePlayMarker(std::optional<int> previousColumn, int column) = 0;
    // The sound of PLAY / PLAY WDW has ended and the device is released: restore the pointer
    // cursor, disable STOP, enable PLAY WDW and GRID, enable PLAY only when the image is wider
    // than one pane, redraw the window frame and (GRID on) the grid.
    virtual void playbackStopped() = 0;
    // After the play loop: redraw the grid (GRID on) and the readouts, enable the menu items
    // again and give the window the focus.
    virtual void playLoopEnded() = 0;
    // Whether a layout was asked for meanwhile (layoutPending); clears it.
    virtual bool takeLayoutPending() = 0;
    // Lays the window out anew and analyses the file again (Analyze File with argument 3).
    virtual void relayoutAndReanalyse() = 0;
    // After "Not enough memory": the stored settings are read again.
    virtual void reloadSettings() = 0;
    // Scan File's sound has ended and its device and buffer are released: restore the pointer
    // cursor and set the scan-finished flag.
    virtual void streamFinished() = 0;
};

// The view as PLAY and PLAY WDW find it when they start.
struct PlayGeometry {
    int viewWidth = 0;         // the drawing area in pixels
    bool dualStereo = false;   // stereo shown as two panes side by side
    int imageWidth = 0;        // the off-screen image's columns
    double columnMsec = 4.0;   // the real time between columns
    int scrollColumn = 0;      // the horizontal scroll position
    int columnStepSamples = 0; // interleaved samples per column
    // A column's time is its window's centre, this far after its first sample.
    double windowCentreMsec = 0.0;
    // PLAY and PLAY WDW sound this many times slower than recorded (TIME_EXPANSION_FACTORS);
    // the marker, the paging and the time readout keep to the file's time.
    int timeExpansion = 1;
};

class Playback {
  public:
    // None of these is owned; all must outlive the Playback. `stopRequested` is the flag every
    // real-time loop of the program shares.
    Playback(SoundOutput& output, Clock& clock, PlaybackView& view, bool& stopRequested);
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // PLAY and PLAY WDW: play the store's samples (the store must stay untouched until the call
    // returns) and return when the sound has ended and everything is released again.
    void startPlayAll(const SampleStore& store, const PlayGeometry& geometry);
    void startPlayWindow(const SampleStore& store, const PlayGeometry& geometry);
    // The same for a segment too long to hold: each half is read from its file as it comes up.
    void startPlayAll(const FileSegment& segment, const PlayGeometry& geometry);
    void startPlayWindow(const FileSegment& segment, const PlayGeometry& geometry);

    // Scan File. First the buffer (silence), whose first half the caller fills from the file;
    // empty when the memory cannot be had ("Not enough memory" shown, settings reloaded) or
    // when playback is already running.
    [[nodiscard]] std::span<std::uint8_t> allocateStreamBuffer(const PcmFormat& format);
    // Then the device: opened, prepared for `dataBytes` of sound and started, the start time
    // taken just before. A first half of 0 bytes sets stopRequested at once. False when the
    // device failed ("Cannot Open Audio Device" shown); the buffer is freed then.
    [[nodiscard]] bool openStreamPlayback(std::int64_t dataBytes, std::size_t firstHalfBytes);
    // The buffer while it is held (empty once the completion released it), its halves and size.
    [[nodiscard]] std::span<std::uint8_t> loopBuffer();
    [[nodiscard]] std::span<std::uint8_t> half(Half which);
    [[nodiscard]] std::int64_t framesPerBuffer() const { return framesPerBuffer_; }
    [[nodiscard]] std::int64_t startTimeMs() const { return startTimeMs_; }
    // Frames the device has played since the write; empty when it cannot say.
    [[nodiscard]] std::optional<std::int64_t> devicePositionFrames();

    // PLAY / PLAY WDW: the next stretch of the held samples into `which`.
    void refillHalf(Half which);
    // The device's completion: releases the device and the buffer and tells the view.
    void onOutputDone();
    // The STOP command's part: sets stopRequested, stops the device and returns only after its
    // completion was handled; releases whatever is still held (a Scan File buffer without a
    // device, too).
    void stopPlayback();

    // A PLAY or PLAY WDW loop runs.
    [[nodiscard]] bool playing() const { return playing_; }
    // The device or the buffer is held.
    [[nodiscard]] bool active() const { return use_ != Use::None; }

  private:
    enum class Use { None, Play, PlayWindow, Stream };
    class Relay;

    class FileSource;
    // The stretch to play: `held` bytes, or without them, `segment` read from its file.
    struct PlaySamples {
        WaveFormat format;
        std::size_t dataBytes = 0;
        std::span<const std::uint8_t> held;
        const FileSegment* segment = nullptr;
    };

    void start(Use use, const PlaySamples& samples, const PlayGeometry& geometry);
    [[nodiscard]] bool openSource(Use use, const PlaySamples& samples,
                                  const PlayGeometry& geometry);
    [[nodiscard]] bool openDevice(Use use, const PlaySamples& samples,
                                  const PlayGeometry& geometry);
    [[nodiscard]] bool startSound(Use use);
    [[nodiscard]] bool allocateBuffer(std::int64_t bytes, std::uint8_t silence);
    void runPlayLoop();
    void drawPosition(int markerColumn);
    void handleDone(unsigned generation);
    void waitForCompletion();
    void releaseAll();
    void failStart(const UserMessage& message);
    [[nodiscard]] bool outputOpensAtCommonRate();

    SoundOutput& output_;
    Clock& clock_;
    PlaybackView& view_;
    bool& stopRequested_;
    std::unique_ptr<Relay> relay_;

    Use use_ = Use::None;
    PcmFormat format_;          // as the device plays it
    std::int32_t fileRate_ = 0; // as recorded
    PlayGeometry geometry_;
    CountedBlock<std::vector<std::uint8_t>> buffer_;
    std::uint8_t silence_ = 0;
    SampleCursor source_;
    std::unique_ptr<FileSource> fileSource_;
    HalfCrossing crossing_{0};
    std::int64_t framesPerBuffer_ = 0;
    std::int64_t totalFrames_ = 0;
    std::int64_t startTimeMs_ = 0;
    bool written_ = false; // a write is out and its completion not yet handled
    unsigned generation_ = 0;
    bool playing_ = false;
    bool resetIssued_ = false;
    std::optional<int> markerColumn_; // the last drawn play position
};

} // namespace korv
