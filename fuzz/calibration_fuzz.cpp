// Feeds arbitrary text to the reader of a microphone maker's calibration file, as Import...
// and the command-line tool's --calibration read it. Whatever the file holds, a curve taken
// from it keeps the frequencies it was given and corrections within the graph's +-30 dB; a
// refused file says why.

#include "analysis/calibration_edit.h"
#include "settings/default_calibration.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const korv::CalibrationCurve current = korv::defaultCalibrationCurve();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto sign :
         {korv::CalibrationSign::CorrectionToAdd, korv::CalibrationSign::ResponseToRemove}) {
        const korv::CalibrationImport got = korv::importCalibrationText(text, current, sign);
        if (!got.ok) {
            if (got.error.empty()) {
                std::abort();
            }
            continue;
        }
        for (std::size_t i = 0; i < current.size(); ++i) {
            const float db = got.curve[i].correctionDb;
            if (got.curve[i].frequencyHz != current[i].frequencyHz || !std::isfinite(db) ||
                std::fabs(db) > 30.0f) {
                std::abort();
            }
        }
    }
    return 0;
}
