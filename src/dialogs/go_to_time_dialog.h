#pragma once
// "Go To Time" (View menu, 40090): the time to bring to the view's left edge, typed as seconds
// or h:mm:ss. The edit's object name is its control id.

#include <string>

namespace korv {

class Prompts;

inline constexpr int GO_TO_TIME_DIALOG_ID = 170;
inline constexpr int ID_GO_TO_TIME_EDIT = 1190;

// Runs the dialog modally through the prompts, the field holding `text` at first; true on OK,
// with the text typed in `text`. The caller reads it (parseTimeEntry).
[[nodiscard]] bool runGoToTimeDialog(Prompts& prompts, std::string& text);

} // namespace korv
