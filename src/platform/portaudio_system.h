#pragma once

namespace korv {

// PortAudio is initialised once per process, on first use, with the start-up chatter of ALSA and
// JACK kept off stderr. Thread-compatible: call from the program's thread.
[[nodiscard]] bool ensurePortAudio();

} // namespace korv
