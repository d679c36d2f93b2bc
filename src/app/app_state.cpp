#include "app/app_state.h"

#include "dialogs/control_ids.h"

#include <algorithm>

namespace korv {

AppState& appState() {
    static AppState state;
    return state;
}

bool dualStereoView(const AppSettings& settings) {
    return settings.typeChoice == TYPE_STEREO && settings.channelChoice == CHANNEL_DUAL;
}

int analysedColumns(const AppState& state) {
    if (!state.spectralImage) {
        return 0;
    }
    return static_cast<int>(
        std::clamp<long>(state.run.params.columns, 0, state.spectralImage->width()));
}

} // namespace korv
