#pragma once
// The grid and axis labels over an entire picture, as Entire Image draws them with GRID on.
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

// The grid over `picture` (one band of the image of `plan`, from column 0).
void drawEntireGrid(IndexedSurface& picture, const WholeFilePlan& plan, const AppSettings& settings,
                    int plotHeight, int stripHeight);

} // namespace korv::cli
