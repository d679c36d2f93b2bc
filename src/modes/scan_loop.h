#pragma once
// The scans' step loop (pipeline/scan_loop) paced by the program's clock, with the program's
// messages (STOP, a close, the devices' events) handled between steps.

#include "pipeline/scan_loop.h"
#include "platform/clock.h"

namespace korv {

// runScanLoop of the core with `clock` for its pacing and pumpMessages for its messages.
[[nodiscard]] SetupResult runScanLoop(const ScanLoopInputs& inputs, ScanSource& source,
                                      ScanDisplay& display, Clock& clock, bool& stopRequested,
                                      ScanRun& run);

} // namespace korv
