#pragma once
// Scan Input (command 40011): the sound card's input analysed live by the scan loop, read from
// the capture ring, and optionally recorded to a wave file by hand (SAVE / STOP SAVE) or by a
// level trigger. Also Save Wave (command 40030), which writes the held samples.

#include "modes/input_room.h"

namespace korv {

class MainWindow;

// Registers 40011 and 40030 with the window.
void installScanInput(MainWindow& window);

// The command; `param`: 0 from the menu, F3 or the start-up, 1 a re-run after a resize.
void scanInput(MainWindow& window, int param);

// Whether a right click may freeze the display now (Scan Input running, recording off).
[[nodiscard]] bool scanInputFreezable(const MainWindow& window);

// What the window's last run did, for the tests and the benchmark.
[[nodiscard]] ScanInputResult lastScanInput(const MainWindow& window);

// Called after each column drawn with the frame its window ended at and the frames captured by
// then: how far the picture trails the sound. For measuring; empty: nothing is called. Kept by
// the window, so it is set once the window is made.
void setScanInputColumnProbe(MainWindow& window, ScanInputColumnProbe probe);

} // namespace korv
