#pragma once
// Push buttons that are one choice of many (the colour dialog's level selectors show their
// level, so they look like buttons): screen readers are told they are radio buttons, with their
// checked state, and pressing one checks it.

class QAbstractButton;

namespace korv {

// Marks `button` as such a choice; the first call installs the accessibility factory.
void markRadioRole(QAbstractButton* button);

} // namespace korv
