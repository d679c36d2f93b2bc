#include "modes/scan_loop.h"

#include "platform/commands.h"
#include "settings/settings_inputs.h"

namespace korv {

namespace {

class ProgramPacer final : public ScanPacer {
  public:
    explicit ProgramPacer(Clock& clock) : clock_(clock) {}
    std::int64_t nowMs() override { return clock_.nowMs(); }
    void sleep(std::int64_t ms) override { clock_.sleep(ms); }
    void pumpMessages() override { korv::pumpMessages(); }

  private:
    Clock& clock_;
};

} // namespace

SetupResult runScanLoop(const ScanLoopInputs& inputs, ScanSource& source, ScanDisplay& display,
                        Clock& clock, bool& stopRequested, ScanRun& run) {
    ProgramPacer pacer(clock);
    return runScanLoop(inputs, source, display, static_cast<ScanPacer&>(pacer), stopRequested, run);
}

} // namespace korv
