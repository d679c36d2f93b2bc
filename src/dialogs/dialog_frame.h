#pragma once
// What the small modal dialogs share: their OK and Cancel row and their place on the screen.

class QBoxLayout;
class QDialog;

namespace korv {

// OK (the default, accepting) and Cancel (rejecting), right-aligned at the bottom of `top`,
// named by their control ids so scripts find them.
void addOkCancelRow(QDialog& dialog, QBoxLayout& top);
// Centred on the dialog's screen and `raisedBy` pixels higher, never off its top-left corner.
void centreDialogOnScreen(QDialog& dialog, int raisedBy = 0);

} // namespace korv
