#pragma once
// Registers the commands the modes own with the main window.

namespace korv {

class MainWindow;

void installModes(MainWindow& window);

} // namespace korv
