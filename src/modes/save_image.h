#pragma once
// Save Image: Window Image (40033) saves the picture the display area shows, Entire Image
// (40034) the whole spectral image of the last analysis, as a bitmap or JPEG file. A batch
// step saves its image here without questions. Print Window uses the same window picture.

#include "display/indexed_surface.h"

#include <optional>

namespace korv {

class MainWindow;

// Registers 40033 and 40034.
void installSaveImage(MainWindow& window);

void saveImage(MainWindow& window, bool wholeImage);

// The display area's picture as Window Image saves it (the view with its strip lines and, when
// GRID is on, the grid); nothing without a picture or the memory for it.
[[nodiscard]] std::optional<IndexedSurface> windowPicture(MainWindow& window);

} // namespace korv
