#pragma once
// What a parameter dialog reads and writes beside AppSettings: the description of the data
// to analyse and the values a run takes from the dialog.

#include "dialogs/parameter_rules.h"

#include <cstdint>
#include <vector>

namespace korv {

// Who opened dialog 102; it sets the caption.
enum class AnalyzeOpening {
    AnalyzeFile,      // "Analyze File"
    ScanFileAnalysis, // the Analysis at Stop of Scan File: "Modify Analysis Parameters"
    ParametersChange, // "Modify Analysis Parameters"
};

struct RunValues {
    // Read on opening.
    AnalyzeOpening opening = AnalyzeOpening::AnalyzeFile;
    bool formatFromHeader = false; // the sample format came from a wave header (102, 104)
    bool pointMode = false;        // Scan File's point spectrum (104, 153)
    int fileChannels = 0;          // the file's channels (102: more than two offers a choice)
    std::vector<int> offeredRates; // the rates the input takes (103; empty: the classic five)

    // Read on opening, written on OK.
    std::int32_t sampleRateHz = 22050; // the data's rate (102, 104); the chosen rate (103)
    std::int64_t beginMsec = 0;        // 102, 104
    std::int64_t endMsec = 0;
    std::int32_t triggerLevel = DEFAULT_TRIGGER_LEVEL; // 103

    // Set when a scan has ended; dialog 102 clears it on opening, whatever the answer.
    bool scanFinished = false;

    // Written on OK.
    int channels = 1;
    int bytesPerSample = 2;
    float analysisWindowMsec = 0.0f;
    // (bytes per sample at opening / chosen) x (rate at opening / chosen), for Analyze File.
    double readRatio = 1.0;
};

} // namespace korv
