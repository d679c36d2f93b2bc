#include "meter/lanes.h"

namespace korv::meter {

bool useAvx2Lanes() {
#if defined(KORV_METER_AVX2)
    static const bool has =
        __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
    return has;
#else
    return false;
#endif
}

bool useAvx512Lanes() {
#if defined(KORV_METER_AVX2)
    static const bool has = useAvx2Lanes() && __builtin_cpu_supports("avx512f") != 0;
    return has;
#else
    return false;
#endif
}

} // namespace korv::meter
