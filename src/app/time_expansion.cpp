#include "app/time_expansion.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "audio/time_expansion.h"

#include <algorithm>

namespace korv {

static_assert(cmd::kTimeExpansionLast - cmd::kTimeExpansionFirst + 1 ==
                  static_cast<int>(TIME_EXPANSION_FACTORS.size()),
              "one command per factor");

namespace {

// The choice is kept in the preferences (korvanthile.conf), so it survives a restart; the
// menu's check marks only show it.
int chosenIndex(const MainWindow& window) {
    const int factor = window.state().preferences.playbackSlowdown;
    const auto* found =
        std::find(TIME_EXPANSION_FACTORS.begin(), TIME_EXPANSION_FACTORS.end(), factor);
    return found != TIME_EXPANSION_FACTORS.end()
               ? static_cast<int>(found - TIME_EXPANSION_FACTORS.begin())
               : 0;
}

void choose(MainWindow& window, int index) {
    window.state().preferences.playbackSlowdown =
        TIME_EXPANSION_FACTORS[static_cast<std::size_t>(index)];
    showTimeExpansion(window);
}

} // namespace

void installTimeExpansion(MainWindow& window) {
    for (int id = cmd::kTimeExpansionFirst; id <= cmd::kTimeExpansionLast; ++id) {
        window.registerCommand(
            id, [&window, id](int) { choose(window, id - cmd::kTimeExpansionFirst); });
    }
    showTimeExpansion(window);
}

void showTimeExpansion(MainWindow& window) {
    const int index = chosenIndex(window);
    for (int k = 0; k < static_cast<int>(TIME_EXPANSION_FACTORS.size()); ++k) {
        window.menu().check(cmd::kTimeExpansionFirst + k, k == index);
    }
}

int timeExpansion(const MainWindow& window) {
    return TIME_EXPANSION_FACTORS[static_cast<std::size_t>(chosenIndex(window))];
}

} // namespace korv
