#pragma once

#include "platform/sound_output.h"

#include <memory>

namespace korv {

// The default output device through PortAudio (a callback stream). The callback copies from the
// program's loop buffer, honouring the loop count; the position is what has reached the
// speaker by the stream's own output times, not what was handed to the stream. The completion
// reaches the sink from a notifier thread of the device, never from the callback.
[[nodiscard]] std::unique_ptr<SoundOutput> makePortAudioOutput();

} // namespace korv
