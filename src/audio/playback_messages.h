#pragma once
// What the sound output's failures tell the user.

#include "base/check_result.h"

namespace korv {

// PLAY and PLAY WDW: the device opened but would not take the stretch.
inline const UserMessage kDragSelectSmallerSegment{"Drag Select a Smaller Time Segment",
                                                   MessageIcon::Stop};
// No device could be had (PLAY, PLAY WDW, Scan File, the sound input).
inline const UserMessage kCannotOpenAudioDevice{"Cannot Open Audio Device", MessageIcon::Stop};

} // namespace korv
