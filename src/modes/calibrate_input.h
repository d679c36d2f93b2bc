#pragma once
// Calibrate (Function menu): the sound input's full-scale level from an acoustic calibrator
// recorded from the input or opened from a file, or typed; stored for the input device, with
// its date, among the preferences beside the settings.

namespace korv {

class MainWindow;

void installCalibrateInput(MainWindow& window);

} // namespace korv
