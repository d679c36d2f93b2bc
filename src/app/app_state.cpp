#include "app/app_state.h"

#include <algorithm>

namespace korv {

bool dualStereoView(const AppSettings& settings) {
    return settings.stereo && settings.channel == StereoChannel::Dual;
}

int analysedColumns(const AppState& state) {
    if (!state.held.spectralImage) {
        return 0;
    }
    return static_cast<int>(
        std::clamp<long>(state.analysis.run.params.columns, 0, state.held.spectralImage->width()));
}

double segmentOffsetMsec(const AnalysisRun& run) {
    const std::int64_t frameBytes = run.bytesPerFrame();
    if (frameBytes <= 0 || run.format.sampleRate <= 0) {
        return 0.0;
    }
    const std::int64_t frames =
        std::max<std::int64_t>(run.segmentStartByte - run.info.dataOffset, 0) / frameBytes;
    return static_cast<double>(frames) * 1000.0 / run.format.sampleRate;
}

} // namespace korv
