#pragma once
// The control font as the panel below the picture needs it: its texts measured in the font,
// and the font made smaller on a window too narrow for them at the screen's size.

#include "display/view_geometry.h"

#include <QFont>
#include <string_view>

namespace korv {

// The push buttons' texts by column, with those the modes give them for a while.
inline constexpr std::string_view NARROW_BUTTON_TEXTS[] = {"PLAY", "GRID", "SAVE"};
inline constexpr std::string_view WIDE_BUTTON_TEXTS[] = {"PLAY WDW", "PEAK HOLD", "PEAK RESET",
                                                         "STOP SAVE"};
// Below this the text is no longer readable; a narrower window cuts the panel instead.
inline constexpr int MIN_CONTROL_FONT_PIXELS = 7;

[[nodiscard]] PanelTextWidths measurePanelTexts(const QFont& font);

// The font of the screen's character height (controlFontHeight), or the largest smaller one
// whose panel fits clientWidth with some room between its parts.
[[nodiscard]] QFont fittedControlFont(int screenHeight, int dotsPerInchY, int clientWidth);

} // namespace korv
