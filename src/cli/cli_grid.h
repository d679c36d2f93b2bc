#pragma once
// The grid, the axes and the level legend over an entire picture, as Entire Image draws them.
// The labels need Qt's font engine: a build with the desktop draws them with Qt's offscreen
// platform (no window, no display); a build without it offers no grid.

#include "display/indexed_surface.h"
#include "pipeline/file_analysis.h"

#include <mutex>

namespace korv::cli {

[[nodiscard]] bool gridAvailable();

// Sets up the font engine; once, on the main thread, before any grid is drawn. The engine
// ends with stopGridText(), before main returns.
void startGridText();
void stopGridText();

// What the picture carries: the grid's crosses, and the axes with units and the legend (as
// the window's Entire Image); with crosses alone the grid's bare labels.
struct EntireScales {
    bool crosses = false;
    bool legend = false;
};
// The scales over `picture` (one band of the image of `plan`, from column 0); with the legend
// the picture is widened by the legend's margin.
void drawEntireScales(IndexedSurface& picture, const WholeFilePlan& plan,
                      const AppSettings& settings, int plotHeight, int stripHeight,
                      const EntireScales& scales);

} // namespace korv::cli
