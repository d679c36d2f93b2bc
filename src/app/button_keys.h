#pragma once
// The push buttons from the keyboard: P PLAY, W PLAY WDW, G GRID, H PEAK HOLD (STOP has Esc
// and S). A key acts only while its button is enabled, as a click would.

namespace korv {

class MainWindow;

void installButtonKeys(MainWindow& window);

} // namespace korv
