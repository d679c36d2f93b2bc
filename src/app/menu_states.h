#pragma once
// The three states of the menu and buttons the modes switch between.

namespace korv {

class MainWindow;

// A mode runs: everything that would start another, or touch its data, is off.
void menuStateRunning(MainWindow& window);
// No image to work with (or only a plot).
void menuStateIdle(MainWindow& window);
// After Analyze File, Parameters Change and Parameters Restore: the image can be worked with.
void menuStateImage(MainWindow& window);

} // namespace korv
