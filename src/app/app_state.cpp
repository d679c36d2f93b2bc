#include "app/app_state.h"

#include "dialogs/control_ids.h"

namespace korv {

AppState& appState() {
    static AppState state;
    return state;
}

bool dualStereoView(const AppSettings& settings) {
    return settings.typeChoice == TYPE_STEREO && settings.channelChoice == CHANNEL_DUAL;
}

} // namespace korv
