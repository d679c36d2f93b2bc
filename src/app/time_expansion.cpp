#include "app/time_expansion.h"

#include "app/command_ids.h"
#include "app/main_window.h"
#include "audio/time_expansion.h"

#include <memory>

namespace korv {

static_assert(cmd::kTimeExpansionLast - cmd::kTimeExpansionFirst + 1 ==
                  static_cast<int>(TIME_EXPANSION_FACTORS.size()),
              "one command per factor");

namespace {

// The choice lives for the window's lifetime only. To keep it across runs, read it where
// installTimeExpansion makes it and write it in choose(): nothing else holds it.
struct TimeExpansionChoice {
    int factor = 1;
};

void choose(MainWindow& window, int index) {
    window.part<TimeExpansionChoice>()->factor =
        TIME_EXPANSION_FACTORS[static_cast<std::size_t>(index)];
    for (int k = 0; k < static_cast<int>(TIME_EXPANSION_FACTORS.size()); ++k) {
        window.menu().check(cmd::kTimeExpansionFirst + k, k == index);
    }
}

} // namespace

void installTimeExpansion(MainWindow& window) {
    window.keepPart(std::make_shared<TimeExpansionChoice>());
    for (int id = cmd::kTimeExpansionFirst; id <= cmd::kTimeExpansionLast; ++id) {
        window.registerCommand(
            id, [&window, id](int) { choose(window, id - cmd::kTimeExpansionFirst); });
    }
    choose(window, 0);
}

int timeExpansion(const MainWindow& window) {
    const auto* choice = window.part<TimeExpansionChoice>();
    return choice != nullptr ? choice->factor : 1;
}

} // namespace korv
