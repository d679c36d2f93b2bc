#include "modes/scan_input_parameters.h"

#include "modes/analysis_pass.h"

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "base/user_message.h"
#include "dialogs/parameter_dialog.h"
#include "dialogs/parameter_rules.h"
#include "platform/commands.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <utility>

namespace korv {

namespace {

// Command-line runs analyse at most up to this frequency.
constexpr std::int32_t kCommandLineHighLimitHz = 22050;
// The lowest rate that carries a high limit below the first value; 44 kHz above them all.
constexpr std::pair<std::int32_t, std::int32_t> kRateForHighLimit[] = {
    {2756, 5513}, {5513, 11025}, {11025, 22050}};
const UserMessage kHighestFrequencyLimited22k{"Highest Frequency Limited to 22 kHz",
                                              MessageIcon::Warning};

// A command-line run: the band checked against what the input offers, the rate chosen from
// the high limit, the time scale from the span. False when the run ends.
bool inputCommandLineParameters(AppState& s, const std::vector<int>& offeredRates) {
    AppSettings& st = s.settings;
    if (st.highBandHz > kCommandLineHighLimitHz) {
        st.highBandHz = kCommandLineHighLimitHz;
        prompts().show(kHighestFrequencyLimited22k);
    }
    const std::int32_t high = st.highBandHz;
    st.inputSampleRateHz = 44100;
    for (const auto& [below, rate] : kRateForHighLimit) {
        if (high < below) {
            st.inputSampleRateHz = rate;
            break;
        }
    }
    st.inputSampleRateHz = offeredSampleRateHz(st.inputSampleRateHz, offeredRates);
    const AutomaticParameters automatic = commandLineParameters(
        s, st.inputSampleRateHz, s.view.layout.plotWidth, s.view.layout.plotHeight);
    showChecks(automatic.check);
    if (!automatic.check.proceeds()) {
        return false;
    }
    applyAutomaticParameters(automatic, st);
    return true;
}

} // namespace

bool chooseScanInputParameters(AppState& s, int param, bool autoRun, std::int32_t& rate,
                               std::int32_t& triggerLevel, std::vector<int> offeredRates) {
    AppSettings& st = s.settings;
    if (autoRun) {
        if (!inputCommandLineParameters(s, offeredRates)) {
            return false;
        }
        rate = st.inputSampleRateHz;
        return true;
    }
    // A stored rate the input does not take gives way to the nearest one it does.
    st.inputSampleRateHz = offeredSampleRateHz(st.inputSampleRateHz, offeredRates);
    rate = st.inputSampleRateHz;
    st.timeScaleMsec = st.timeScaleMsecSaved;
    if (param != cmd::kFromMenu || st.variables == Variables::Freeze) {
        return true;
    }
    st.resolutionBits = 16;
    RunValues values;
    values.sampleRateHz = rate;
    values.triggerLevel = triggerLevel;
    values.offeredRates = std::move(offeredRates);
    if (!runAnalysisDialog(prompts(), DialogId::ScanInput, st, values,
                           [&s](PaletteName) { rebuildPalette(s); })) {
        return false;
    }
    rebuildPalette(s);
    rate = values.sampleRateHz;
    triggerLevel = values.triggerLevel;
    st.timeScaleMsec = st.timeScaleMsecSaved;
    pumpMessages();
    return true;
}

} // namespace korv
