#include "FennickEngine.h"

#include <charconv>
#include <cmath>

namespace fennick {

std::string cNumberText(double value)
{
    char text[400]; // the longest fixed-notation double, with room to spare
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
    return std::string(text, end);
}

std::string savedSentence(std::string_view name, std::string_view version)
{
    return "Saved " + std::string(name) + " (" + std::string(version) + ")";
}

std::string failedSentence(std::string_view description) { return "Conversion failed: " + std::string(description); }

std::optional<std::string> clipWarning(const ClipReport& clips, const NumberText& number)
{
    const std::uint64_t count = clips.clippedSamples > 0 ? clips.clippedSamples : clips.samplesOverFullScale;
    if (count == 0) return std::nullopt;
    // Two decimals at most: "+0.31", "+0.8"; a peak that rounds to nothing is "0", never "-0".
    double peak = std::round(clips.peakDbfs * 100.0) / 100.0;
    if (peak == 0) peak = 0.0;
    const std::string samples = number(static_cast<double>(count)) + (count == 1 ? " sample" : " samples");
    const std::string peakText = " (peak " + std::string(peak > 0 ? "+" : "") + number(peak) + " dBFS).";
    if (clips.clippedSamples > 0) return samples + " clipped" + peakText;
    return "The file holds " + samples + " over full scale" + peakText;
}

std::string batchSummary(const BatchCounts& counts, std::string_view version)
{
    std::string text = "Saved " + std::to_string(counts.saved) + (counts.saved == 1 ? " file" : " files");
    for (const auto& [n, word] : {std::pair{counts.failed, "failed"}, std::pair{counts.cancelled, "cancelled"},
             std::pair{counts.skipped, "skipped"}}) {
        if (n > 0) text += ", " + std::to_string(n) + " " + word;
    }
    return text + " (" + std::string(version) + ")";
}

std::string clashSentence(std::string_view first, std::string_view second, std::string_view output)
{
    return std::string(first) + " and " + std::string(second) + " would both be written to " + std::string(output);
}

} // namespace fennick
