#pragma once
// PLAY (101) and PLAY WDW (102) on the held sample, and playback's part of STOP (103), through
// the window's sound output and clock (MainWindowOptions; the default device and the system
// clock when none are given).

#include "app/playback.h"

namespace korv {

class MainWindow;
struct AppState;
class MainWindowPlaybackView;

// Registers 101, 102 and 103 and stops the sound when the window closes.
void installPlay(MainWindow& window);

// The window's playback (made on first use, with the sound output), for Scan File's
// streaming; null before installPlay or when no output could be made.
[[nodiscard]] Playback* windowPlayback(const MainWindow& window);
// Its view on the window; null before installPlay.
[[nodiscard]] MainWindowPlaybackView* windowPlaybackView(const MainWindow& window);

// The view as the held image, the layout and the scroll position show it now.
[[nodiscard]] PlayGeometry currentPlayGeometry(const AppState& state);

} // namespace korv
