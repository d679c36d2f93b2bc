#pragma once
// Finding one's way in a long recording: View > Go To Time (40090), and Screen Back and
// Screen Forward (40091, 40092; Shift+Page Up and Shift+Page Down), which move the analysed
// image a whole view at a time where Page Up and Page Down move the bar's 100 columns.

namespace korv {

class MainWindow;

// Registers 40090 to 40092.
void installViewNavigation(MainWindow& window);

// The analysed image's column `column` to the view's left edge (as far as its ends allow),
// the bar and the picture with it.
void scrollViewTo(MainWindow& window, long column);

} // namespace korv
