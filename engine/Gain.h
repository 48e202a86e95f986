#pragma once

#include <cstddef>

namespace fennick {

// The factor of a gain in dB, as a float: 10^(dB/20), except that a gain within a hundred-thousandth
// of a dB of a whole number of 6.0206 dB steps is that power of two exactly, so that −6.0206 dB
// halves every float sample without a rounding.
float linearGain(double decibels);

// Multiplies `count` samples in place.
void applyGain(float* samples, std::size_t count, float factor);

} // namespace fennick
