#include "ClipWarning.h"

#include <cmath>
#include <cstdio>

namespace fennick::cli {

std::optional<std::string> clipWarning(const ClipReport& clips)
{
    const std::uint64_t count = clips.clippedSamples > 0 ? clips.clippedSamples : clips.samplesOverFullScale;
    if (count == 0) return std::nullopt;
    // Two decimals at most, as the window shows it: "+0.31", "+0.8", "0".
    const double peak = std::round(clips.peakDbfs * 100.0) / 100.0;
    const int decimals = peak == std::round(peak) ? 0 : peak * 10 == std::round(peak * 10) ? 1 : 2;
    char peakText[32];
    std::snprintf(peakText, sizeof peakText, peak == 0 ? "%.*f" : "%+.*f", decimals, peak == 0 ? 0.0 : peak);
    std::string text = clips.clippedSamples > 0 ? "" : "The file holds ";
    text += std::to_string(count);
    text += count == 1 ? " sample" : " samples";
    text += clips.clippedSamples > 0 ? " clipped" : " over full scale";
    text += std::string(" (peak ") + peakText + " dBFS).";
    return text;
}

} // namespace fennick::cli
