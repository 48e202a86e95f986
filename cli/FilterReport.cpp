#include "FilterReport.h"

#include <cmath>
#include <cstdio>

namespace fennick::cli {

namespace {

// "name: value unit", or "name: none" where the figure does not exist (equal rates filter nothing).
std::string line(const char* name, double value, int decimals, const char* unit)
{
    if (!std::isfinite(value)) return std::string(name) + ": none\n";
    char text[96];
    std::snprintf(text, sizeof text, "%s: %.*f %s\n", name, decimals, value, unit);
    return text;
}

} // namespace

std::string filterReport(const FilterResponse& response)
{
    return line("minus-0.1-dB", response.minus0_1DbHz, 1, "Hz") + line("minus-3-dB", response.minus3DbHz, 1, "Hz")
        + line("passband-ripple", response.passbandRippleDb, 4, "dB") + line("stopband", response.stopbandDb, 1, "dB")
        + line("latency", response.latencyFrames, 1, "frames")
        + line("pre-ring", response.preRingSeconds * 1000.0, 2, "ms")
        + line("post-ring", response.postRingSeconds * 1000.0, 2, "ms");
}

std::string ditherReport(const DitherNoise& noise)
{
    return line("dither-weighted", noise.weightedDb, 1, "dB") + line("dither-1-5-kHz", noise.band1To5kDb, 1, "dB");
}

} // namespace fennick::cli
