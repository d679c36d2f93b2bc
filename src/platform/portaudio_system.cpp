#include "platform/portaudio_system.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdlib>

namespace korv {

namespace {

// ALSA reports every probe of a missing card or plugin on stderr; the program reports failures
// itself.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Runs `f` with fd 2 pointed at /dev/null: the JACK client library and some ALSA plugins write
// to stderr directly while PortAudio probes them.
template <typename F> auto withoutStderr(F f) {
    const int saved = ::dup(STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && devNull >= 0) {
        ::dup2(devNull, STDERR_FILENO);
    }
    auto result = f();
    if (saved >= 0 && devNull >= 0) {
        ::dup2(saved, STDERR_FILENO);
    }
    if (devNull >= 0) {
        ::close(devNull);
    }
    if (saved >= 0) {
        ::close(saved);
    }
    return result;
}

bool initialise() {
    snd_lib_error_set_handler(&quietAlsa);
    // Probing JACK must not start a JACK server (it would outlive the program).
    ::setenv("JACK_NO_START_SERVER", "1", 0);
    const PaError err = withoutStderr([] { return Pa_Initialize(); });
    if (err != paNoError) {
        return false;
    }
    std::atexit([] { Pa_Terminate(); });
    return true;
}

} // namespace

bool ensurePortAudio() {
    static const bool ready = initialise();
    return ready;
}

} // namespace korv
