#pragma once
// The analysis the window holds: the picture and the samples behind it, what it ran on, the
// marks made on it and the copy Parameters Restore brings back. The window owns them; only the
// GUI thread touches them.

#include "analysis/parameters.h"
#include "app/view_state.h"
#include "audio/held_samples.h"
#include "audio/sample_store.h"
#include "audio/wave_parser.h"
#include "display/spectral_image.h"
#include "platform/allocations.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korv {

// What the last analysis ran on: enough to run it again, play it or re-analyse a part of it.
struct AnalysisRun {
    std::string file;
    WaveFileInfo info;
    RunFormat format;
    std::int64_t beginMsec = 0;
    std::int64_t endMsec = 0;
    std::int64_t segmentStartByte = 0; // file offset of the held segment, data offset included
    std::int64_t segmentBytes = 0;     // the bytes analysed (fewer than held after a STOP)
    RunParameters params;
    int stripHeight = 0;
    int plotHeight = 0;
    bool commandLine = false;
    bool cutShort = false; // STOP ended the pass before its last column
    [[nodiscard]] int bytesPerFrame() const { return format.channels * format.bytesPerSample; }
    [[nodiscard]] WaveFormat waveFormat() const {
        return {static_cast<std::uint16_t>(format.channels), format.sampleRate,
                static_cast<std::uint16_t>(format.bytesPerSample * 8)};
    }
};

// A stretch dragged out on the image: bytes inside the held segment.
struct Selection {
    std::int64_t beginByte = 0;
    std::int64_t endByte = 0;
};

// The picture and the samples behind it: what Parameters Change replaces and Parameters
// Restore brings back.
struct HeldData {
    CountedBlock<SpectralImage> spectralImage;
    std::optional<SampleStore> samples;
    // A segment longer than the hold limit is not held: the analysis, PLAY and Save Wave read
    // it from its file as they go, and `samples` stays empty.
    std::optional<FileSegment> fileSegment;
    // Whether there are samples behind the picture, held or read from the file.
    [[nodiscard]] bool segmentHeld() const { return samples || fileSegment; }
};

// What the held data is and what goes with it: what it ran on, its rate, the next pass's FFT
// size, the marks made on the picture and what the menu may offer for it.
struct HeldAnalysis {
    AnalysisRun run;
    // The high band limit asked for while a file's rate cuts it.
    HighBandMemory highBand;
    std::int32_t sampleRateHz = 0; // the held data's rate; 0 when none
    // A longer segment is read from its file instead of held.
    std::int64_t holdLimitBytes = HELD_SEGMENT_LIMIT_BYTES;
    int fftSizeExponent = 10; // the FFT size of the next pass, as a power of two
    bool fftAbove512 = true;  // and whether it is above 512
    std::optional<Selection> selection;
    // A click on the image: where the point spectrum of Scan File starts in the file.
    std::int64_t pointSpectrumByte = 0;
    // Analysis at Stop: the last part of the scanned file, for Analyze File.
    std::int64_t scanStopBeginMsec = 0;
    std::int64_t scanStopEndMsec = 0;
    bool scanRestoreAvailable = false; // Scan File left a point spectrum to restore from
    bool restorePossible = false;      // the menu offers Parameters Restore
    // A scan has ended since dialog 102 last opened: it opens on the 10 msec time scale rather
    // than the scan's measured one.
    bool scanFinished = false;
};

// Parameters Restore: what the last Parameters Change replaced, kept whole.
struct RestoreCopy {
    HeldData held;
    AnalysisRun run;
    AppSettings settings; // of which Restore brings back the analysis values
    ViewScroll scroll;
    int fftSizeExponent = 10;
};

} // namespace korv
