#pragma once
// The spectrum plot displays of a scan (line and bar plot): a ScopeView drawn into the
// off-screen plot image at every step and copied to the window. The view and its levels stay
// after the scan, so a repaint, the level bar, GRID and Freq Mark can redraw the finished plot.

#include "display/spectrum_plot.h"

#include <optional>
#include <span>

namespace korv {

class MainWindow;
struct AppState;
class WindowSurface;

// Gives Scan File its plot displays and registers PEAK HOLD (106) and Freq Mark (40049).
void installPlotDisplay(MainWindow& window);

// The plot over the window as a repaint shows it: with a Signal plot redrawn from its levels at
// the current level bar and markers, the grid on the window when GRID is on. Nothing without a
// plot image or with the Scroll display.
void paintScanPlot(MainWindow& window, WindowSurface& target);

// What the window shows over the plot image once it is copied there (the grid crosses while
// GRID is on); empty without a plot. The image exports compose their picture with it.
[[nodiscard]] ViewDrawing scanPlotOverlay(const MainWindow& window);

// The view of the last plot scan, while its plot image is held; else null.
[[nodiscard]] const ScopeView* scanPlotView(const MainWindow& window);
// The cross at the point clicked on a finished plot, kept for the plots that follow; nothing
// clears it.
void setScanPlotCross(const MainWindow& window, std::optional<PixelPoint> at);
// The last step's own level of each bin (bin k at index k) of the shown channel, stored as the
// view's levels are; empty for the Oct/3 scale.
[[nodiscard]] std::span<const float> scanPlotBinLevels(const MainWindow& window);

} // namespace korv
