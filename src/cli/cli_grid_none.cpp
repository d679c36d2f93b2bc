#include "cli/cli_grid.h"

namespace korv::cli {

// A build without Qt has no font engine for the labels.
bool gridAvailable() {
    return false;
}

void startGridText() {}

void stopGridText() {}

void drawEntireScales(IndexedSurface&, const WholeFilePlan&, const AppSettings&, int, int,
                      const EntireScales&) {}

} // namespace korv::cli
