#pragma once
// Analyze Batch (40064): several wave files analysed one after the other with the parameters
// in force, each saved as an image in an "images" folder beside them. Each file is a posted
// Analyze File step that ends in Save Image, so a batch of any length keeps the stack flat.
// A file that fails is skipped; the reasons are shown together at the end.

namespace korv {

class MainWindow;

// Registers 40064.
void installBatch(MainWindow& window);

} // namespace korv
