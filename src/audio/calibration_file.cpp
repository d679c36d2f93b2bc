#include "audio/calibration_file.h"

#include "audio/wave_io.h"

#include <string_view>
#include <vector>

namespace korv {

CalibrationImport readCalibrationFile(const std::string& path, const CalibrationCurve& current,
                                      CalibrationSign sign) {
    const PosixFile file = PosixFile::openForReading(path);
    if (!file.isOpen()) {
        CalibrationImport refused;
        refused.error = std::string(kCalibrationFileCannotOpen);
        return refused;
    }
    // One byte past the limit is enough to know the file is too large.
    std::vector<std::uint8_t> bytes(kCalibrationFileMaxBytes + 1);
    bytes.resize(file.readAt(0, bytes));
    return importCalibrationText(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), current, sign);
}

} // namespace korv
