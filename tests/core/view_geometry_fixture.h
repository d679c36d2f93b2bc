// The view most display tests draw on: 800 x 400 with a 40-pixel waveform strip, 0 .. 6000 Hz
// over 360 rows (16.67 Hz a row) at 44.1 kHz with N 1024, in an 8 x 16 font.

#pragma once

#include "display/view_geometry.h"

namespace korv::test {

inline ViewGeometry view800x400(float msecAColumn = 4.0f) {
    return {.plotWidth = 800,
            .plotHeight = 400,
            .stripHeight = 40,
            .charWidth = 8,
            .charHeight = 16,
            .infoPanel = {},
            .readoutBox = {},
            .timeScaleMsec = msecAColumn,
            .columnMsec = msecAColumn,
            .sampleRate = 44100};
}

} // namespace korv::test
