#pragma once
// Messages of the file readers and writers. The core never shows anything itself: it hands
// the text and icon back (UserMessage, MessageIcon) and the program puts them in a box
// captioned "Korvanthile".

#include "base/check_result.h"

namespace korv {

// Shared by every module that reads or writes files.
inline const UserMessage kCannotOpenFile{"Cannot Open File", MessageIcon::Warning};
inline const UserMessage kErrorWritingFile{"Error Writing File", MessageIcon::Stop};
inline const UserMessage kNotEnoughMemory{"Not enough memory", MessageIcon::Warning};

} // namespace korv
