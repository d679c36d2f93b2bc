#pragma once
// F4 (the colour dialog) and F6 (the frequency calibration).

namespace korv {

class MainWindow;

void installColourCommands(MainWindow& window);

} // namespace korv
