#pragma once

// What an error-feedback noise shaper does to the quantisation noise, worked out from its
// coefficients: the noise transfer |1 − H(e^jω)|² and the figures that rate it against flat TPDF.

#include <cstddef>
#include <span>
#include <vector>

namespace fennick {

// The threshold of hearing in quiet, in dB SPL (Terhardt's approximation).
double thresholdOfHearingDb(double hz);

// The noise shaper's figures, each in dB relative to flat noise of the same total error.
struct NoiseShapingFigures {
    double peakGainDb = 0; // the noise transfer's largest gain
    double weightedDb = 0; // noise power weighted by the inverse threshold of hearing
    double band1To5kDb = 0; // mean noise power between 1 and 5 kHz
    double below20kDb = 0; // mean noise power below 20 kHz
};

// `feedback` holds h1…hN of H(z) = Σ h_k z^−k; the noise leaves as e·(1 − H).
NoiseShapingFigures noiseShapingFigures(std::span<const double> feedback, double sampleRate);

// |1 − H|² in dB at the centres of `bins` equal bins from 0 Hz to half the rate.
std::vector<double> noiseTransferDb(std::span<const double> feedback, std::size_t bins);

} // namespace fennick
