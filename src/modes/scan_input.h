#pragma once
// Scan Input (command 40011): the sound card's input analysed live by the scan loop, read from
// the capture ring, and optionally recorded to a wave file by hand (SAVE / STOP SAVE) or by a
// level trigger. Also Save Wave (command 40030), which writes the held samples.

#include "platform/sound_input.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace korv {

class MainWindow;

// Registers 40011 and 40030 with the window.
void installScanInput(MainWindow& window);

// The command; `param`: 0 from the menu, F3 or the start-up, 1 a re-run after a resize.
void scanInput(MainWindow& window, int param);

// PLAY (101) or PLAY WDW (102) while the input is open: SAVE or STOP SAVE.
void scanInputButton(int id);

// Whether a right click may freeze the display now (Scan Input running, recording off).
[[nodiscard]] bool scanInputFreezable();

// What the last run did, for the tests.
struct ScanInputResult {
    long columnsDrawn = 0;
    std::int64_t recordedBytes = 0;
    bool fileWritten = false;
    std::int32_t sampleRate = 0;
    int bufferSeconds = 0;
};
[[nodiscard]] const ScanInputResult& lastScanInput();

} // namespace korv
