#pragma once
// Scan Input (command 40011): the sound card's input analysed live by the scan loop, read from
// the capture ring, and optionally recorded to a wave file by hand (SAVE / STOP SAVE) or by a
// level trigger. Also Save Wave (command 40030), which writes the held samples.

#include "platform/sound_input.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace korv {

class MainWindow;

// Registers 40011 and 40030 with the window.
void installScanInput(MainWindow& window);

// The command; `param`: 0 from the menu, F3 or the start-up, 1 a re-run after a resize.
void scanInput(MainWindow& window, int param);

// PLAY (101) or PLAY WDW (102) while the input is open: SAVE or STOP SAVE.
void scanInputButton(MainWindow& window, int id);

// Whether a right click may freeze the display now (Scan Input running, recording off).
[[nodiscard]] bool scanInputFreezable(const MainWindow& window);

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
[[nodiscard]] ScanInputResult lastScanInput(const MainWindow& window);

// Called after each column drawn with the frame its window ended at and the frames captured by
// then: how far the picture trails the sound. For measuring; empty: nothing is called. Kept by
// the window, so it is set once the window is made.
using ScanInputColumnProbe = std::function<void(std::int64_t windowEnd, std::int64_t captured)>;
void setScanInputColumnProbe(MainWindow& window, ScanInputColumnProbe probe);

} // namespace korv
