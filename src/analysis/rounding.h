#pragma once
// The program's one rounding rule: truncate toward zero, then add 1 when the dropped
// fraction is at least 0.5. Elsewhere real values are simply truncated toward zero.

namespace korv {

[[nodiscard]] long roundHalfUp(double value);

} // namespace korv
