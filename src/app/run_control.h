#pragma once
// Whether a mode runs and how it is to end, and what the command line asked for: the flags the
// window, the menu states and the modes consult before they start anything.

#include <cstdint>
#include <string>

namespace korv {

struct RunControl {
    bool created = false;      // the window is made and may draw
    bool modeRunning = false;  // a mode's loop is running
    bool idleForKeys = false;  // no mode runs: keys go to the window
    bool stopRequested = true; // STOP was pressed, or no run is going

    // Batch analysis.
    bool batchRunning = false;       // Analyze File runs one file of a batch
    bool batchStopRequested = false; // STOP during a batch: no further file
    std::string titleNote;           // after the file name in the title ("3 of 120")

    // Scan Input.
    bool inputOpen = false;         // the sound input is open
    bool closeAfterRun = false;     // the window closes once the running scan has ended
    std::int64_t recordedBytes = 0; // the sound recorded so far
    bool savingSamples = false;     // the recording keeps the sound for PLAY and Save Wave

    // The command line.
    bool fileFromCommandLine = false; // the file named there is the one to analyse
    bool autoRun = false;             // its mode starts at once
    // The command line began with a mode digit: no completion notes for the rest of the run.
    bool notesSuppressed = false;
    int timeSpanSeconds = 0;    // the stretch of the file it asked for; 0 for all
    std::string fileNameBuffer; // the file the file modes open next (the last one chosen)
};

} // namespace korv
