#pragma once
// The parameters of a Scan Input run.

#include <cstdint>
#include <vector>

namespace korv {

struct AppState;

// A command-line run's (the band checked against what the input offers, the rate chosen from
// the high limit, the time scale from the span), else those in force or the dialog's, which
// also sets the trigger level. `rate` is the run's sample rate, one of the rates the input
// offers; false when the run ends here.
[[nodiscard]] bool chooseScanInputParameters(AppState& state, int param, bool autoRun,
                                             std::int32_t& rate, std::int32_t& triggerLevel,
                                             std::vector<int> offeredRates);

} // namespace korv
