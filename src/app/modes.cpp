#include "app/modes.h"

#include "app/main_window.h"
#include "modes/analyze_file.h"

namespace korv {

void installModes(MainWindow& window) {
    installAnalyzeFile(window);
}

} // namespace korv
