#pragma once
// A message box the program should show: the core never shows anything itself, it hands
// the text and icon back and the program puts them in a box captioned "Korvanthile".

#include <string>

namespace korv {

enum class MessageIcon { None, Exclamation, Stop };

struct UserMessage {
    std::string text;
    MessageIcon icon = MessageIcon::None;
    friend bool operator==(const UserMessage&, const UserMessage&) = default;
};

// Messages shared by every module that reads or writes files.
inline const UserMessage kCannotOpenFile{"Cannot Open File", MessageIcon::Exclamation};
inline const UserMessage kErrorWritingFile{"Error Writing File", MessageIcon::Stop};
inline const UserMessage kNotEnoughMemory{"Not enough memory", MessageIcon::Exclamation};

} // namespace korv
