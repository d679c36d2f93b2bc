#include "analysis/band_levels.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace korv {

SetupResult BandLevels::setup(const ColumnAnalysisInputs& in) {
    if ((in.channels != 1 && in.channels != 2) ||
        (in.bitsPerSample != 8 && in.bitsPerSample != 16) || in.run.hop <= 0 ||
        in.run.log2FftSize < MIN_LOG2_FFT_SIZE || in.run.log2FftSize > MAX_LOG2_FFT_SIZE) {
        return SetupResult::Unusable;
    }
    if (fft_.setupFftWindow(in.run.log2FftSize, in.run.windowSamples) != 0) {
        return SetupResult::NoMemory;
    }
    const int n = fft_.fftSize();
    layout_ = thirdOctavePoints(in.sampleRate, n, 2);
    if (!layout_ || layout_->lastBand < THIRD_OCTAVE_FIRST_PLOTTED_BAND) {
        return SetupResult::Unusable;
    }
    averageCount_ = static_cast<std::size_t>(
        std::clamp(in.averageCountScroll, MIN_AVERAGE_COUNT, MAX_AVERAGE_COUNT));
    try {
        // One point per band, every usable band from the first the calibration names.
        layout_->firstBand = std::max(layout_->firstBand, THIRD_OCTAVE_FIRST_PLOTTED_BAND);
        layout_->pointBands.clear();
        correctionDb_.clear();
        calibrationGain_.clear();
        for (int b = layout_->firstBand; b <= layout_->lastBand; ++b) {
            layout_->pointBands.push_back(b);
            const double bandDb = in.corrections.bandDb(b);
            correctionDb_.push_back(bandDb + in.corrections.gainDb());
            calibrationGain_.push_back(std::pow(10.0, bandDb / 10.0));
        }
        bandMap_ = buildBandMap(in.sampleRate, n);
        frame_.assign(static_cast<std::size_t>(n), 0.0f);
        magnitudes_.assign(static_cast<std::size_t>(n / 2), 0);
        binPowers_.assign(std::min(bandMap_.size(), static_cast<std::size_t>(n / 2)), 0.0);
        const std::size_t bands = layout_->pointBands.size();
        ring_.assign(static_cast<std::size_t>(in.channels),
                     std::vector<double>(averageCount_ * bands, 0.0));
        levels_.assign(static_cast<std::size_t>(in.channels),
                       std::vector<double>(bands, kBandFloorDb));
        powers_.assign(static_cast<std::size_t>(in.channels), std::vector<double>(bands, 0.0));
    } catch (const std::bad_alloc&) {
        return SetupResult::NoMemory;
    }
    source_ = {in.samples, in.channels, in.bitsPerSample / 8, in.run.hop, in.precise};
    window_ = in.windows ? in.windows() : nullptr;
    if (in.windows && !window_) {
        return SetupResult::NoMemory;
    }
    steps_ = in.run.columns;
    framesPerStep_ =
        in.maxOverStep ? framesOverStep(in.run.hop / in.channels, fft_.windowLength()) : 1;
    stepsSeen_ = 0;
    return SetupResult::Ok;
}

void BandLevels::keepBinPowers(bool first) {
    for (std::size_t k = 0; k < binPowers_.size(); ++k) {
        const double re = fft_.binRe(static_cast<int>(k));
        const double im = fft_.binIm(static_cast<int>(k));
        const double power = re * re + im * im;
        binPowers_[k] = first ? power : std::max(binPowers_[k], power);
    }
}

// The bins' powers summed per reported band.
void BandLevels::sumBandPowers(std::span<double> powers) {
    std::fill(powers.begin(), powers.end(), 0.0);
    const int first = layout_->firstBand;
    for (std::size_t k = 0; k < binPowers_.size(); ++k) {
        const int band = bandMap_[k];
        if (band < first || band > layout_->lastBand) {
            continue;
        }
        powers[static_cast<std::size_t>(band - first)] += binPowers_[k];
    }
}

void BandLevels::compute(long x) {
    const std::size_t bands = layout_->pointBands.size();
    const std::size_t slot = stepsSeen_ % averageCount_;
    const std::size_t held = std::min(stepsSeen_ + 1, averageCount_);
    long column = x;
    // Every frame of the step lies within the last one's end.
    const auto reach =
        frame_.size() +
        static_cast<std::size_t>(frameOffsetInStep(framesPerStep_ - 1, fft_.windowLength()));
    const ColumnFrameSource source = window_ ? window_->sourceFor(x, reach, column) : source_;
    for (std::size_t ch = 0; ch < levels_.size(); ++ch) {
        for (long index = 0; index < framesPerStep_; ++index) {
            readColumnFrame(source, column, static_cast<int>(ch), frame_,
                            frameOffsetInStep(index, fft_.windowLength()));
            fft_.transformSamples(frame_, magnitudes_, FftOutput::Magnitudes);
            keepBinPowers(index == 0);
        }
        std::vector<double>& ring = ring_[ch];
        sumBandPowers(std::span(ring).subspan(slot * bands, bands));
        for (std::size_t b = 0; b < bands; ++b) {
            double power = 0.0;
            for (std::size_t i = 0; i < held; ++i) {
                power += ring[i * bands + b];
            }
            power /= static_cast<double>(held);
            powers_[ch][b] = power * calibrationGain_[b];
            const double db = power > 0.0
                                  ? 10.0 * std::log10(power) + correctionDb_[b] + kBandFloorDb
                                  : kBandFloorDb;
            levels_[ch][b] = std::max(db, kBandFloorDb);
        }
    }
    ++stepsSeen_;
}

double binPowerToFullScaleDb() {
    return 10.0 * std::log10(kHannBinPowerToMeanSquare) -
           10.0 * std::log10(kFullScaleAmplitude16 * kFullScaleAmplitude16 / 2.0);
}

long thirdOctaveCentreHz(int band) {
    return std::lround(std::pow(10.0, band / 10.0));
}

} // namespace korv
