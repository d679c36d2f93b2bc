#pragma once
// View > Time Expansion (40093 to 40100): the speed PLAY and PLAY WDW play the held sound at,
// one of TIME_EXPANSION_FACTORS, the chosen item checked. The choice is the preferences'
// playbackSlowdown, so it is kept across runs.

namespace korv {

class MainWindow;

// Registers the commands and checks the item of the stored choice.
void installTimeExpansion(MainWindow& window);
// Checks the item of the stored choice (after the preferences are read).
void showTimeExpansion(MainWindow& window);

// The factor chosen: the sound plays this many times slower than recorded.
[[nodiscard]] int timeExpansion(const MainWindow& window);

} // namespace korv
