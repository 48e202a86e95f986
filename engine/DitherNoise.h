#pragma once

// The noise each dither choice leaves, in theory, on either grid (FennickEngine.h has it by format).

#include "FennickEngine.h"
#include "NoiseShapingTables.h"
#include "Quantiser.h"

#include <cstddef>
#include <vector>

namespace fennick {

// The shaper used at `sampleRate` (the nearest rate designed for), or null for None and TPDF.
const NoiseShaperDesign* noiseShaperFor(Dither dither, double sampleRate);

// TPDF's error (rounding and dither) is white at 1/4 of a step squared; None's rounding alone,
// 1/12; a shaper multiplies TPDF's by |1 − H|².
DitherNoise ditherNoise(Dither dither, QuantisedFormat format, double sampleRate, std::size_t bins);

} // namespace fennick
