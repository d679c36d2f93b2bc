#pragma once
// The overview strip: a thin picture of the whole analysed image under the time bar, reduced
// to the strip's size (each pixel the loudest level of the columns and rows it stands for),
// with the part in view framed. A click or a drag in it brings that place to the view's
// centre.

#include <QWidget>

namespace korv {

class MainWindow;

// The strip's height at most, in pixels; it takes what the panel leaves above its boxes.
inline constexpr int kOverviewStripHeight = 10;
// The strip's object name, for the tests and the accessibility tools.
inline constexpr const char* kOverviewStripName = "overviewStrip";

// Makes the strip, a child of the drawing area that follows the layout and the view.
void installOverviewStrip(MainWindow& window);

} // namespace korv
