#pragma once
// The program's one typeface. "Arial" is asked for by name; fontconfig maps it to the
// metric-compatible Liberation Sans on Linux.

#include <QFont>

namespace korv {

inline constexpr const char* kProgramFontFamily = "Arial";

// The program font with a character cell `pixelHeight` pixels high.
[[nodiscard]] QFont programFont(int pixelHeight);

// The average character width the layout is measured in: the lowercase letters and the blank
// weighted by their frequency in English text, the classic definition of a font's average
// width. Liberation Sans has Arial's advances but stores a far larger average (over all its
// glyphs), which would push the panel boxes off a window of ordinary width.
[[nodiscard]] int averageCharWidth(const QFont& font);

} // namespace korv
