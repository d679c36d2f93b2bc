#pragma once
// The data logs of the Function menu: Log Data / Log Spectrum (40028) writes the spectral
// image log through a re-run of the analysis, or the spectrum on the screen; Log Points
// (40062) appends the points clicked on the image while dialog 166 is open.

namespace korv {

class MainWindow;

// Registers 40028 and 40062.
void installDataLogs(MainWindow& window);

} // namespace korv
