#include "audio/mpeg_messages.h"

#include <dlfcn.h>
#include <mpg123.h>

namespace korv {

void keepMpegDecoderQuiet() {}

} // namespace korv

extern "C" {

// Takes the place of libmpg123's for the whole process: every decoder libsndfile makes is
// made quiet before it reads anything.
mpg123_handle* mpg123_new(const char* decoder, int* error) {
    using New = mpg123_handle* (*)(const char*, int*);
    using Param = int (*)(mpg123_handle*, mpg123_parms, long, double);
    static const auto next = reinterpret_cast<New>(::dlsym(RTLD_NEXT, "mpg123_new"));
    static const auto param = reinterpret_cast<Param>(::dlsym(RTLD_NEXT, "mpg123_param"));
    if (next == nullptr) {
        if (error != nullptr) {
            *error = MPG123_ERR;
        }
        return nullptr;
    }
    mpg123_handle* handle = next(decoder, error);
    if (handle != nullptr && param != nullptr) {
        static_cast<void>(param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0));
    }
    return handle;
}

} // extern "C"
