#pragma once
// The one FFT engine of a run: a Hann-windowed real FFT of 512 to 16384 points with
// integer-valued twiddle factors, giving quarter-dB levels or magnitudes (FftOutput).

#include <cstdint>
#include <span>
#include <vector>

namespace korv {

// What a transform leaves in the frame: the rows' quarter-dB levels, or the magnitudes the
// third-octave bands sum.
enum class FftOutput {
    Levels,
    Magnitudes,
};
// A sample rate or window length that asks for a window as long as the frame.
inline constexpr std::int32_t FFT_FULL_WINDOW_RATE = -1;
inline constexpr float FFT_FULL_WINDOW_MSEC = -1.0f;
inline constexpr int FFT_MAX_LOG2_SIZE = 14;
inline constexpr std::int32_t LEVEL_LIMIT = 32767;

class FftEngine {
  public:
    // Builds the tables for N = 2^log2Size. Returns 0, or -1 when memory for a table is
    // lacking or the size is outside 2..16384 (nothing is then held).
    [[nodiscard]] int setupFft(int log2Size, std::int32_t sampleRate, float windowMsec);
    // The same with the window given in whole samples (clamped to 0..N): the runs know W
    // exactly, where the msec value loses a sample to float rounding at some rates.
    [[nodiscard]] int setupFftWindow(int log2Size, int windowSamples);
    // Windows and transforms the first N values of frame in place; the N/2 results (levels
    // or magnitudes) replace the first N/2 values. frame must hold at least N values.
    void transformFrame(std::span<std::int16_t> frame, FftOutput mode);
    // The same computed step by step as written, one value at a time, with log10 for every
    // level: the yardstick the vector path is checked against, bit for bit. transformFrame
    // takes this path on a CPU without AVX2.
    void transformFramePlain(std::span<std::int16_t> frame, FftOutput mode);
    // The same for samples held as floats in the units of a 16-bit sample, so that wider and
    // float files keep their range (and a float file its values above full scale); the N/2
    // results go to `out`. Whole-number samples within 16 bits give transformFrame's results
    // bit for bit: the conversion to double is exact either way. `plain` takes the
    // yardstick's path.
    void transformSamples(std::span<const float> samples, std::span<std::int16_t> out,
                          FftOutput mode, bool plain = false);
    void releaseFft();

    [[nodiscard]] bool ready() const { return fftSize_ > 0; }
    [[nodiscard]] int fftSize() const { return fftSize_; }
    [[nodiscard]] int windowLength() const { return windowLength_; }
    [[nodiscard]] std::span<const double> window() const { return window_; }

    // The raw complex bins (re, im) after the last transform, bin k at index 2k; for tests
    // and for callers that need more than the level.
    [[nodiscard]] double binRe(int k) const { return work_[bitReverse_[k]]; }
    [[nodiscard]] double binIm(int k) const { return work_[bitReverse_[k] + 1]; }

  private:
    void transformFrameAvx2(std::span<std::int16_t> frame, FftOutput mode);
    void plainStages();
    void fillVectorTwiddles(int n);
    void splitSpectrum(double inScale);
    void writeResults(std::span<std::int16_t> frame, FftOutput mode, bool vector);

    int fftSize_ = 0;
    int windowLength_ = 0;
    int stageCount_ = 0; // log2(N/2) butterfly stages
    std::vector<double> window_;
    std::vector<double> twiddles_;
    std::vector<std::int32_t> bitReverse_;
    std::vector<double> work_;
    // For the vector path: the twiddles per block as its butterflies use them, and per bin k
    // of the split tc, -ts, ts, tc (the twiddle divided by 32768).
    std::vector<double> scaledTwiddles_;
    std::vector<double> splitTwiddles_;
};

// For each power, 40 log10(P) limited to +-32767 and truncated; 0 for P <= 0. As many
// levels as both spans hold.
void powersToLevels(std::span<const double> powers, std::span<std::int16_t> levels);

} // namespace korv
