// Feeds arbitrary samples to the calibrator's analysis and to the sound level meter with
// fractional-octave bands, in blocks of sizes the input chooses. The first bytes choose: the
// rate (8 kHz .. 384 kHz), the band width and the weightings, how often the samples play in a
// row (so a short input can make a calibrator's seconds of steady tone) and a gain up to the
// file readers' limit (65536 times full scale). Every level must be a finite number at or
// above the silence floor, every refusal must say why, and an accepted calibration must give
// a finite full-scale level.

#include "meter/calibrator.h"
#include "meter/sound_level_meter.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

using namespace korv::meter;

constexpr std::array<double, 6> kRates{8000.0, 16000.0, 44100.0, 48000.0, 96000.0, 384000.0};
constexpr std::array<int, 6> kBandsPerOctave{0, 1, 3, 6, 12, 24};
constexpr std::size_t kHeaderBytes = 5;

void check(double level) {
    if (!std::isfinite(level) || level < kSilenceFloorDbFs) {
        std::abort();
    }
}

void checkInterval(const IntervalLevels& levels) {
    for (const double v : {levels.leq, levels.lmax, levels.lmin, levels.lcpeak}) {
        check(v);
    }
    for (const double v : levels.bandLeq) {
        check(v);
    }
    if (levels.endFrame <= levels.startFrame) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes + 2) {
        return 0;
    }
    const double rate = kRates[data[0] % kRates.size()];
    const int bands = kBandsPerOctave[(data[1] & 0x0F) % kBandsPerOctave.size()];
    const auto weighting = static_cast<FrequencyWeighting>((data[1] >> 4) % 3);
    const auto timeWeighting = static_cast<TimeWeighting>((data[1] >> 6) % 3);
    const int repeats = 1 + data[2];
    const double gain = std::ldexp(1.0, (data[3] % 34) - 17); // 2^-17 .. 2^16 of full scale
    const std::size_t block = 1 + data[4] * 37u;
    std::vector<double> samples;
    for (std::size_t i = kHeaderBytes; i + 1 < size; i += 2) {
        const auto s = static_cast<std::int16_t>(data[i] | (data[i + 1] << 8));
        samples.push_back(static_cast<double>(s) / 32768.0 * gain);
    }
    MeterSettings settings;
    settings.sampleRate = rate;
    settings.weighting = weighting;
    settings.timeWeighting = timeWeighting;
    settings.intervalSeconds = 0.125;
    if (bands > 0) {
        settings.bands = BandSpec{bands, 25.0, 20000.0};
    }
    SoundLevelMeter meter(settings);
    CalibratorAnalysis calibrator(rate);
    for (int r = 0; r < repeats; ++r) {
        for (std::size_t at = 0; at < samples.size(); at += block) {
            const auto part = std::span(samples).subspan(at, std::min(block, samples.size() - at));
            meter.feed(part, checkInterval);
            calibrator.feed(part);
        }
    }
    meter.finish(checkInterval);
    const MeterSummary s = meter.summary();
    for (const double v :
         {s.leq, s.le, s.lmax, s.lmin, s.lcpeak, s.l5, s.l10, s.l50, s.l90, s.l95}) {
        if (!std::isfinite(v)) {
            std::abort();
        }
    }
    const CalibratorReading reading = calibrator.reading();
    const bool accepted = reading.verdict == CalibratorVerdict::Accepted;
    if (accepted != calibratorReason(reading).empty() ||
        (accepted && !std::isfinite(reading.fullScale.db))) {
        std::abort();
    }
    return 0;
}
