#pragma once
// Print Window (40050): the display area's picture, framed, on one page of the printer the
// user picks, centred at 90 per cent of its size on the screen.

namespace korv {

class MainWindow;

// Registers 40050.
void installPrintWindow(MainWindow& window);

void printWindow(MainWindow& window);

} // namespace korv
