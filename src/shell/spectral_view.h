#pragma once
// The spectral image view on the main window: the information panel and readouts, the axis
// labels and grid over the image, and the mouse on the image (readouts under the pointer,
// the left drag that re-analyses a stretch, the click that asks for a point spectrum, the
// right-button measuring rectangle).

#include <functional>

namespace korv {

class MainWindow;

// Installs the painters and the mouse handler; returns what redraws the readouts with the
// current time while the sound plays (elapsed msec into the played span).
[[nodiscard]] std::function<void(double elapsedMsec)> installSpectralView(MainWindow& window);

} // namespace korv
