#include "meter/lanes.h"

#include <cstdlib>
#include <cstring>

namespace korv::meter {

#if defined(KORV_METER_AVX2)
namespace {

// KORV_METER_LANES=avx2 or plain holds the filters to that copy, so that the tests run each
// on a processor that would choose a wider one.
bool heldTo(const char* copy) {
    const char* held = std::getenv("KORV_METER_LANES");
    return held != nullptr && std::strcmp(held, copy) == 0;
}

} // namespace
#endif

bool useAvx2Lanes() {
#if defined(KORV_METER_AVX2)
    static const bool has = __builtin_cpu_supports("avx2") != 0 &&
                            __builtin_cpu_supports("fma") != 0 && !heldTo("plain");
    return has;
#else
    return false;
#endif
}

bool useAvx512Lanes() {
#if defined(KORV_METER_AVX2)
    static const bool has =
        useAvx2Lanes() && __builtin_cpu_supports("avx512f") != 0 && !heldTo("avx2");
    return has;
#else
    return false;
#endif
}

} // namespace korv::meter
