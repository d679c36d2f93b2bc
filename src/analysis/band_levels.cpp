#include "analysis/band_levels.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace korv {

int BandLevels::setup(const ColumnAnalysisInputs& in) {
    if ((in.channels != 1 && in.channels != 2) ||
        (in.bitsPerSample != 8 && in.bitsPerSample != 16) || in.run.hop <= 0 ||
        in.run.log2FftSize < MIN_LOG2_FFT_SIZE || in.run.log2FftSize > MAX_LOG2_FFT_SIZE) {
        return ANALYZER_UNUSABLE;
    }
    if (fft_.setupFftWindow(in.run.log2FftSize, in.run.windowSamples) != 0) {
        return ANALYZER_NO_MEMORY;
    }
    const int n = fft_.fftSize();
    layout_ = thirdOctavePoints(in.sampleRate, n, 2);
    if (!layout_ || layout_->lastBand < THIRD_OCTAVE_FIRST_PLOTTED_BAND) {
        return ANALYZER_UNUSABLE;
    }
    try {
        // One point per band, every usable band from the first the calibration names.
        layout_->firstBand = std::max(layout_->firstBand, THIRD_OCTAVE_FIRST_PLOTTED_BAND);
        layout_->pointBands.clear();
        for (int b = layout_->firstBand; b <= layout_->lastBand; ++b) {
            layout_->pointBands.push_back(b);
        }
        bandMap_ = buildBandMap(in.sampleRate, n);
        frame_.assign(static_cast<std::size_t>(n), 0.0f);
        magnitudes_.assign(static_cast<std::size_t>(n / 2), 0);
        levels_.assign(static_cast<std::size_t>(in.channels),
                       std::vector<std::int16_t>(layout_->pointBands.size(), 0));
    } catch (const std::bad_alloc&) {
        return ANALYZER_NO_MEMORY;
    }
    source_ = {in.samples, in.channels, in.bitsPerSample / 8, in.run.hop, in.precise};
    calibration_ = in.calibration;
    steps_ = in.run.columns;
    return 0;
}

void BandLevels::compute(long x) {
    for (std::size_t ch = 0; ch < levels_.size(); ++ch) {
        readColumnFrame(source_, x, static_cast<int>(ch), frame_);
        fft_.transformSamples(frame_, magnitudes_, FFT_MODE_MAGNITUDES);
        thirdOctaveRows(*layout_, bandMap_, magnitudes_, calibration_, levels_[ch]);
    }
}

long thirdOctaveCentreHz(int band) {
    return std::lround(std::pow(10.0, band / 10.0));
}

} // namespace korv
