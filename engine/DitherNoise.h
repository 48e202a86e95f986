#pragma once

// The noise each dither choice leaves, in theory: for the plot of the dither's noise and for the
// filter report.

#include "NoiseShapingTables.h"
#include "Quantiser.h"

#include <cstddef>
#include <vector>

namespace fennick {

// The shaper used at `sampleRate` (the nearest rate designed for), or null for None and TPDF.
const NoiseShaperDesign* noiseShaperFor(Dither dither, double sampleRate);

struct DitherNoise {
    double binHz = 0; // spacing of levelDb, whose first bin is centred at binHz / 2
    std::vector<double> levelDb; // noise power per bin, dB relative to full scale (1.0)
    double weightedDb = 0; // threshold-weighted noise relative to flat TPDF
    double band1To5kDb = 0; // mean level between 1 and 5 kHz relative to flat TPDF
};

// TPDF's error (rounding and dither) is white at 1/4 of a step squared; None's rounding alone,
// 1/12; a shaper multiplies TPDF's by |1 − H|².
DitherNoise ditherNoise(Dither dither, QuantisedFormat format, double sampleRate, std::size_t bins);

} // namespace fennick
