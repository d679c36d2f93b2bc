#pragma once
// The values one scan runs with, as the settings' translation (settings/settings_inputs) gives
// them to the scans' step loop (pipeline/scan_loop).

#include "analysis/frequency_axis.h"
#include "analysis/level_corrections.h"
#include "analysis/parameters.h"
#include "base/settings_types.h"

#include <cstdint>
#include <functional>

namespace korv {

// The values one scan runs with.
struct ScanLoopInputs {
    std::int32_t sampleRate = 0;
    int channels = 1;                        // of the data: 1 or 2
    int log2FftSize = DEFAULT_LOG2_FFT_SIZE; // N = 2^log2FftSize
    int windowSamples = 1024;                // the FFT's window length (at most N)
    float analysisWindowMsec = 0.0f;
    float timeScaleMsec = 10.0f;
    // Linear or log rows of the image or the plot; the plot displays also have Oct/3.
    FrequencyScale frequencyScale = FrequencyScale::Linear;
    std::int32_t lowBandHz = 0;
    std::int32_t highBandHz = 0;
    LevelCorrections corrections; // calibration, gain, weighting: every analyser's
    // Where the level bar keeps the gain code while the scan runs (read at every step); null:
    // the corrections' code throughout.
    const std::int32_t* liveLevelScaleCode = nullptr;
    int averageCount = 1;
    // Asked at every step: while it says so, the averages take all averageCount slots of the
    // ring even while it fills (its empty slots count as level 0). Empty: the steps taken so far.
    std::function<bool()> fullAverage;
    bool pitchDetector = false;
    // Each column the bin-wise maximum over frames half a window apart covering the sound since
    // the last column (as much of it as the source's window allows); off, the last N frames.
    bool maxOverStep = false;
    bool pointMode = false;       // fixed stepping without sound or pacing
    std::int64_t startTimeMs = 0; // when the sound started
    // The "Time Now" readout, with the msec since the start of the sound.
    std::function<void(double)> showTimeNow;
};

} // namespace korv
