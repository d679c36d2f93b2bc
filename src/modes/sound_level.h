#pragma once
// The Sound Level window's measurements: the live meter fed by Scan File and Scan Input, the
// monitoring log of Scan Input's intervals, and the levels of an analysed stretch or of the
// right-button rectangle's time span. The meter is the core's (pipeline/live_meter), so the
// numbers are those `korvanthile-cli meter` writes for the same sound.

#include "meter/sound_level_meter.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korv {

class MainWindow;
class ScanSource;

enum class SoundLevelScan { File, Input };

// One scan's feed of the meter, made before the loop and ended after it. While the Sound
// Level window is open (or a log is asked for) its source() hands every frame the loop passes
// over to the meter; otherwise it is the scan's own source and costs nothing.
// `inputDevice`: the input a live run hears, whose stored calibration its levels take.
class SoundLevelFeed {
  public:
    SoundLevelFeed(MainWindow& window, ScanSource& source, std::int32_t sampleRate, int channels,
                   SoundLevelScan scan, QString name, std::string inputDevice = {});
    SoundLevelFeed(const SoundLevelFeed&) = delete;
    SoundLevelFeed& operator=(const SoundLevelFeed&) = delete;
    ~SoundLevelFeed();

    [[nodiscard]] ScanSource& source();
    // After the loop: the frames up to `endFrame` (a file's end) and the last interval.
    void finish(std::optional<std::int64_t> endFrame);

    struct Run;

  private:
    ScanSource& plain_;
    std::unique_ptr<Run> run_;
};

// Function menu "Sound Level" and its key.
void installSoundLevel(MainWindow& window);

// After an analysis pass: the window, when open, measures the analysed stretch.
void soundLevelAnalysed(MainWindow& window);

// A stretch of the held segment (frames from its start, end exclusive), and for the
// rectangle the frequency span its band-limited Leq covers.
struct SoundLevelSpan {
    std::int64_t beginFrame = 0;
    std::int64_t endFrame = 0;
    std::optional<double> lowHz;
    std::optional<double> highHz;
};
void measureSoundLevelSpan(MainWindow& window, const SoundLevelSpan& span);

// The Sound Level window opened (if it is not) reading with `fullScaleDb`, the level a
// calibration has just found, until another one is set.
void measureWithFullScale(MainWindow& window, double fullScaleDb);

// ", channel 3 of 4": which channel the meter measures (the first one shown), named where
// the sound has more than one; empty for mono.
[[nodiscard]] QString measuredChannelText(int channel, int channelCount);

// The intervals of the last live run, in order, in dBFS (for the tests).
[[nodiscard]] std::vector<meter::IntervalLevels> lastSoundLevelIntervals(const MainWindow& window);
// A stretch is still being measured (it goes on between the window's events).
[[nodiscard]] bool soundLevelMeasuring(const MainWindow& window);

} // namespace korv
