#include "app/modes.h"

#include "app/main_window.h"
#include "modes/analyze_file.h"
#include "modes/play.h"

namespace korv {

void installModes(MainWindow& window) {
    installAnalyzeFile(window);
    installPlay(window);
}

} // namespace korv
