#include "pipeline/calibrator_recording.h"

#include "audio/wave_file.h"
#include "pipeline/file_samples.h"

namespace korv {

std::variant<meter::CalibratorReading, std::string>
measureCalibratorFile(const std::string& path, int channel, double calibratorLevelDb) {
    FileSamples samples;
    if (const auto failure = samples.open(path, channel)) {
        return path + ": " + failure->text;
    }
    meter::CalibratorAnalysis analysis(samples.sampleRate(), calibratorLevelDb);
    for (auto block = samples.next(); !block.empty(); block = samples.next()) {
        analysis.feed(block);
    }
    if (samples.failed()) {
        return path + ": " + kErrorReadingFile.text;
    }
    return analysis.reading();
}

} // namespace korv
