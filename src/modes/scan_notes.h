#pragma once
// The notes a scan ends with: 136 when a wave file was saved, 140 when none was.

namespace korv {

class Clock;
class MainWindow;

// Shows the note for 800 ms on `clock`, then closes it as by its OK.
void showScanCompleteNote(MainWindow& window, Clock& clock, bool waveSaved);

} // namespace korv
