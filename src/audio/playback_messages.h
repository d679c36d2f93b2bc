#pragma once
// What the sound output's failures tell the user.

#include "base/check_result.h"

#include <cstdint>
#include <string>

namespace korv {

// PLAY and PLAY WDW: the device opened but would not take the stretch.
inline const UserMessage kDragSelectSmallerSegment{"Drag Select a Smaller Time Segment",
                                                   MessageIcon::Stop};
// No device could be had (PLAY, PLAY WDW, Scan File, the sound input).
inline const UserMessage kCannotOpenAudioDevice{"Cannot Open Audio Device", MessageIcon::Stop};

// PLAY and PLAY WDW slowed by a time expansion: the device refused the slowed rate.
[[nodiscard]] inline UserMessage slowedRateRefused(std::int32_t deviceRate, std::int32_t fileRate,
                                                   int factor) {
    return {"The Sound Output Cannot Play " + std::to_string(deviceRate) + " Hz (1/" +
                std::to_string(factor) + " of " + std::to_string(fileRate) +
                " Hz): Choose a Smaller Time Expansion",
            MessageIcon::Stop};
}

} // namespace korv
