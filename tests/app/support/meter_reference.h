#pragma once
// The settings the Sound Level window measures with, taken from the preferences as a user sets
// them, for the core meter the tests compare the window with: A/C/Z, F/S/I, the interval and
// the bands from 25 Hz to 20 kHz.

#include "meter/sound_level_meter.h"
#include "settings/preferences.h"

namespace korv::test {

inline meter::MeterSettings referenceMeterSettings(const Preferences& p, double sampleRate) {
    meter::MeterSettings s;
    s.sampleRate = sampleRate;
    s.weighting = p.meterWeighting;
    s.timeWeighting = p.meterTimeWeighting;
    s.intervalSeconds = p.meterIntervalSeconds;
    s.bands = meter::BandSpec{p.meterBandsPerOctave, 25.0, 20000.0};
    return s;
}

} // namespace korv::test
