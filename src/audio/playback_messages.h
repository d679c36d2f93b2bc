#pragma once
// What the sound output's failures tell the user.

#include "analysis/check_result.h"

namespace korv {

// PLAY and PLAY WDW: the device would not take the stretch.
inline const UserMessage kDragSelectSmallerSegment{"Drag Select a Smaller Time Segment",
                                                   MessageIcon::Stop};
// Scan File (and the sound input): no device could be had.
inline const UserMessage kCannotOpenAudioDevice{"Cannot Open Audio Device", MessageIcon::Stop};

} // namespace korv
