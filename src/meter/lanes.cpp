#include "meter/lanes.h"

#include "analysis/fft_steps.h"

namespace korv::meter {

bool useAvx2Lanes() {
#if defined(KORV_FFT_AVX2)
    return cpuHasAvx2();
#else
    return false;
#endif
}

} // namespace korv::meter
