#include "app/modes.h"

#include "app/main_window.h"

namespace korv {

void installModes(MainWindow& window) {
    (void)window;
}

} // namespace korv
