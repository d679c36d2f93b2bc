#pragma once
// The pointer shapes of the drawing area, drawn anew: a target box, a white and a black cross.
// And the window's icon.

#include <QCursor>
#include <QIcon>

namespace korv {

enum class PointerShape { TargetBox = 1, WhiteCross = 2, BlackCross = 3 };

[[nodiscard]] QCursor pointerShape(PointerShape shape);
[[nodiscard]] QIcon programIcon();

} // namespace korv
