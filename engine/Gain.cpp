#include "Gain.h"

#include <cmath>

namespace fennick {

float linearGain(double decibels)
{
    const double octaves = decibels / (20.0 * std::log10(2.0));
    const double whole = std::round(octaves);
    if (std::fabs(octaves - whole) * 20.0 * std::log10(2.0) < 1e-5) return std::ldexp(1.0f, static_cast<int>(whole));
    return static_cast<float>(std::pow(10.0, decibels / 20.0));
}

void applyGain(float* samples, std::size_t count, float factor)
{
    for (std::size_t i = 0; i < count; ++i) samples[i] *= factor;
}

} // namespace fennick
