#pragma once
// The program's one typeface. "Arial" is asked for by name; fontconfig maps it to the
// metric-compatible Liberation Sans on Linux.

#include <QFont>

namespace korv {

inline constexpr const char* kProgramFontFamily = "Arial";

// The program font with a character cell `pixelHeight` pixels high.
[[nodiscard]] QFont programFont(int pixelHeight);

} // namespace korv
