#include "modes/scan_input_parameters.h"

#include "modes/analysis_pass.h"

#include "analysis/parameters.h"
#include "app/app_state.h"
#include "app/command_ids.h"
#include "base/user_message.h"
#include "dialogs/control_ids.h"
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
    {2756, SAMPLE_RATE_5K}, {5513, SAMPLE_RATE_11K}, {11025, SAMPLE_RATE_22K}};
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
    st.sampleRateChoice = SAMPLE_RATE_44K;
    for (const auto& [below, choice] : kRateForHighLimit) {
        if (high < below) {
            st.sampleRateChoice = choice;
            break;
        }
    }
    st.sampleRateChoice = offeredSampleRateChoice(st.sampleRateChoice, offeredRates);
    const AutomaticParameters automatic =
        commandLineParameters(s, sampleRateForChoice(st.sampleRateChoice), s.view.layout.plotWidth,
                              s.view.layout.plotHeight);
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
        rate = sampleRateForChoice(st.sampleRateChoice);
        return true;
    }
    // A stored rate the input does not take gives way to the nearest one it does.
    st.sampleRateChoice = offeredSampleRateChoice(st.sampleRateChoice, offeredRates);
    rate = sampleRateForChoice(st.sampleRateChoice);
    st.timeScaleMsec = st.timeScaleMsecSaved;
    if (param != cmd::kFromMenu || st.variablesChoice == cmd::kVariablesFreeze) {
        return true;
    }
    st.resolutionChoice = RESOLUTION_16_BIT;
    RunValues values;
    values.sampleRateHz = rate;
    values.triggerLevel = triggerLevel;
    values.offeredRates = std::move(offeredRates);
    if (!runAnalysisDialog(prompts(), DialogId::ScanInput, st, values,
                           [&s](std::int32_t) { rebuildPalette(s); })) {
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
