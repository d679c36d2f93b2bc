#pragma once
// The spectral image view on the main window: the information panel and readouts, the axis
// labels and grid over the image, and the mouse on the image (readouts under the pointer,
// the left drag that re-analyses a stretch, the click that asks for a point spectrum, the
// right-button measuring rectangle).

#include "display/info_panel.h"
#include "display/picture_draw.h"
#include "display/view_geometry.h"

#include <functional>

namespace korv {

class MainWindow;
struct AppState;

// The layout and the held run as the view's drawing sees them.
[[nodiscard]] ViewGeometry currentViewGeometry(const AppState& state);

// The axes, legend and crosses the view shows over the spectral image, and its pictures carry.
[[nodiscard]] PictureScales currentPictureScales(const AppState& state);

// What the information panel states for the current run.
[[nodiscard]] InfoPanelInputs currentInfoPanelInputs(const AppState& state);

// Installs the painters and the mouse handler; returns what redraws the readouts with the
// current time while the sound plays (elapsed msec into the played span).
[[nodiscard]] std::function<void(double elapsedMsec)> installSpectralView(MainWindow& window);

} // namespace korv
