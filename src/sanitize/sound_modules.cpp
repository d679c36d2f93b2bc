// Built into the sanitizer build only (KORV_SANITIZE).
//
// ALSA loads its plugin modules (libasound_module_*.so) with dlopen while PortAudio lists the
// devices and opens a stream, and unloads them again on close. The leak checker runs at exit,
// when they are gone: blocks a module allocated for itself then show as allocated from an
// "<unknown module>", which no suppression can name, and blocks that only a module's globals
// pointed to (libpixman's, brought in by the a52 plugin through libavcodec) look lost.
// So the plugin modules stay loaded until exit, and what they leak themselves is suppressed by
// their name.

#include <dlfcn.h>
#include <link.h>

#include <cstring>

namespace {

bool isAlsaPluginModule(void* handle) {
    link_map* map = nullptr;
    return handle != nullptr && ::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
           map->l_name != nullptr && std::strstr(map->l_name, "libasound_module_") != nullptr;
}

} // namespace

extern "C" {

// Takes the place of the C library's dlclose for the whole process.
int dlclose(void* handle) noexcept {
    if (isAlsaPluginModule(handle)) {
        return 0;
    }
    using Close = int (*)(void*);
    static const auto next = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "dlclose"));
    return next != nullptr ? next(handle) : -1;
}

// Read by the leak checker at start-up, before any LSAN_OPTIONS suppressions.
const char* __lsan_default_suppressions() {
    return "leak:libasound_module_\n";
}

} // extern "C"
