#pragma once
// Scroll bar actions, as the desktop names them: the image bars, the level bar and the
// dialogs' bars all step the same way.

#include <cstdint>

namespace korv {

enum class ScrollAction : std::uint8_t {
    LineBack,    // left / up
    LineForward, // right / down
    PageBack,
    PageForward,
    Thumb, // thumb track or thumb position
    Other,
};

} // namespace korv
