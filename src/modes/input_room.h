#pragma once
// Scan Input's room: the input device and the recording of the one window, kept by the window
// for as long as its commands live, and SAVE / STOP SAVE, which PLAY and PLAY WDW become
// while the input is open.

#include "dialogs/parameter_rules.h"
#include "platform/clock.h"
#include "platform/sound_input.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace korv {

class Capture;
class MainWindow;
class Recording;

// What the window's last run did, for the tests and the benchmark.
struct ScanInputResult {
    long columnsDrawn = 0;
    std::int64_t recordedBytes = 0;
    bool fileWritten = false;
    std::int32_t sampleRate = 0;
    int bufferSeconds = 0;
    double loopMs = 0.0;                  // from the first step to the loop's end
    std::int64_t overruns = 0;            // times sound was lost
    std::optional<double> inputLatencyMs; // as the device reported it
};
using ScanInputColumnProbe = std::function<void(std::int64_t windowEnd, std::int64_t captured)>;

// The input and the recording of the one window; it lives as long as the window's commands.
struct InputRoom {
    explicit InputRoom(MainWindow& w) : window(&w) {}
    InputRoom(const InputRoom&) = delete;
    InputRoom& operator=(const InputRoom&) = delete;

    MainWindow* window;
    RealClock realClock;
    std::unique_ptr<SoundInput> input;
    std::int32_t triggerLevel = DEFAULT_TRIGGER_LEVEL;
    Recording* recording = nullptr; // while a run records
    Capture* capture = nullptr;     // while a run captures
    ScanInputResult result;         // what the last run did
    ScanInputColumnProbe columnProbe;

    Clock& clock();
    SoundInput* device();
    // The rates the input takes for mono 16-bit sound; the classic five when it cannot say.
    std::vector<int> offeredRates();
};

// SAVE, by hand or by the trigger, recording from `startMs` of the sound captured.
void pressSave(InputRoom& r, double startMs);

// STOP SAVE, by hand or by the trigger, recording up to `stopMs` of the sound captured.
void pressStopSave(InputRoom& r, double stopMs);

// PLAY (101) or PLAY WDW (102) while the input is open: SAVE or STOP SAVE.
void scanInputButton(MainWindow& window, int id);

} // namespace korv
