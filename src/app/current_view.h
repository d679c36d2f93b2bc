#pragma once
// The view as the state holds it now: the geometry its drawing, the exports and the logs place
// things by, and what the information panel states.

#include "display/info_panel.h"
#include "display/picture_draw.h"
#include "display/view_geometry.h"

namespace korv {

struct AppState;
struct AppSettings;

// Whether the settings show the Scroll display (the spectral image), not a plot.
[[nodiscard]] bool spectralDisplay(const AppSettings& settings);

// The layout and the held run as the view's drawing sees them.
[[nodiscard]] ViewGeometry currentViewGeometry(const AppState& state);

// The axes, legend and crosses the view shows over the spectral image, and its pictures carry.
[[nodiscard]] PictureScales currentPictureScales(const AppState& state);

// What the information panel states for the current run.
[[nodiscard]] InfoPanelInputs currentInfoPanelInputs(const AppState& state);

} // namespace korv
