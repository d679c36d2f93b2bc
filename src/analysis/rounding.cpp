#include "analysis/rounding.h"

namespace korv {

long roundHalfUp(double value) {
    const auto truncated = static_cast<long>(value);
    // A negative value drops a negative fraction, so it is only truncated.
    const double dropped = value - static_cast<double>(truncated);
    return dropped >= 0.5 ? truncated + 1 : truncated;
}

} // namespace korv
