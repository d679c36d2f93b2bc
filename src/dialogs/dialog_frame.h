#pragma once
// What the small modal dialogs share: their OK and Cancel row and their place on the screen.

class QBoxLayout;
class QDialog;
class QLineEdit;

namespace korv {

// OK (the default, accepting) and Cancel (rejecting), right-aligned at the bottom of `top`,
// named by their control ids so scripts find them.
void addOkCancelRow(QDialog& dialog, QBoxLayout& top);
// Centred on the dialog's screen and `raisedBy` pixels higher, never off its top-left corner.
void centreDialogOnScreen(QDialog& dialog, int raisedBy = 0);
// The title as a screen reader's name for the dialog (`name` for an untitled one), and room
// for the whole title in the frame, beside the window manager's buttons. Call once the
// dialog's layout is built, before it is sized.
void presentTitle(QDialog& dialog, const char* name = nullptr);
// A field that only shows a value: read-only, and on the window's ground rather than an
// input field's, so it does not look as if it took typing.
void showReadOnly(QLineEdit& line, bool readOnly);

} // namespace korv
