#include "app/modes.h"

#include "app/main_window.h"
#include "app/spectral_view.h"
#include "modes/analyze_file.h"
#include "modes/play.h"

namespace korv {

void installModes(MainWindow& window) {
    installAnalyzeFile(window);
    installSpectralView(window);
    installPlay(window);
}

} // namespace korv
