#pragma once

#include "platform/sound_input.h"

#include <memory>

namespace korv {

// The default input device through PortAudio (a callback stream). The callback stores frames
// into the program's queued buffers; full buffers reach the sink from a notifier thread of the
// device, never from the callback.
[[nodiscard]] std::unique_ptr<SoundInput> makePortAudioInput();

} // namespace korv
