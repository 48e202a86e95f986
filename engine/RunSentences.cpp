#include "FennickEngine.h"

#include "Metadata.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

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

std::optional<std::string> notCarriedWarning(const MetadataContents& contents, OutputType type)
{
    const bool riff = type == OutputType::wav || type == OutputType::rf64;
    const auto counted = [](std::size_t count, const char* noun) {
        return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
    };
    std::vector<std::string> items;
    if (contents.broadcastWav && !riff) items.emplace_back("Broadcast WAV (bext)");
    if (contents.ixml && !riff) items.emplace_back("iXML");
    if (contents.cart && !riff) items.emplace_back("cart");
    const auto tags = static_cast<std::size_t>(std::count_if(
        contents.tags.begin(), contents.tags.end(), [&](const std::string& id) { return !carriesTag(type, id); }));
    if (tags > 0) items.push_back(counted(tags, "tag"));
    if (contents.markers > 0 && !riff && type != OutputType::aiff) items.push_back(counted(contents.markers, "marker"));
    const std::size_t loops = riff ? 0
        : type == OutputType::aiff ? contents.loops - std::min<std::size_t>(contents.loops, 2)
                                   : contents.loops;
    if (loops > 0) items.push_back(counted(loops, "loop"));
    if (contents.samplerData && !riff && type != OutputType::aiff) items.emplace_back("sampler data");
    if (contents.channelLayout && (type == OutputType::w64 || type == OutputType::aiff))
        items.emplace_back("channel layout");
    if (items.empty()) return std::nullopt;
    std::string text = "Not carried into " + std::string(fileTypeName(type)) + ": " + items.front();
    for (std::size_t i = 1; i < items.size(); ++i) text += ", " + items[i];
    return text + ".";
}

std::optional<std::string> nonFiniteWarning(std::uint64_t count, const NumberText& number)
{
    if (count == 0) return std::nullopt;
    if (count == 1) return number(1) + " sample in the source was not a number and was replaced by silence.";
    return number(static_cast<double>(count)) + " samples in the source were not numbers and were replaced by silence.";
}

std::optional<std::string> damageWarning(const SourceDamage& source)
{
    if (!(source.sampleRate > 0)) return std::nullopt;
    const auto time
        = [&](std::int64_t frames) { return preciseClockText(static_cast<double>(frames) / source.sampleRate); };
    if (source.unfinishedHeader) {
        return "The source's header gave no length (an unfinished recording); the " + time(source.framesRead)
            + " of audio after it was converted.";
    }
    if (source.framesRead >= source.framesStated) return std::nullopt;
    return "The source ended after " + time(source.framesRead) + " of its stated " + time(source.framesStated)
        + "; the rest was missing.";
}

std::vector<std::string> runWarnings(const ConversionReport& report, const NumberText& number)
{
    std::vector<std::string> warnings;
    for (auto& warning : {clipWarning(report.clips, number), nonFiniteWarning(report.source.nonFiniteSamples, number),
             damageWarning(report.source), report.notCarried}) {
        if (warning) warnings.push_back(*warning);
    }
    return warnings;
}

std::string cDecimalText(double value, int decimals)
{
    char text[400];
    const auto end = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

namespace {

constexpr const char* kMinus = "\u2212";

// A level to one decimal: "−14.2", "+0.3" with `plus`, "0.0" rather than "−0.0", "−∞" for silence.
std::string signedLevel(double value, const DecimalText& decimal, bool plus = false)
{
    if (std::isinf(value)) return value < 0 ? std::string(kMinus) + "\u221E" : "\u221E";
    const double rounded = std::round(value * 10.0) / 10.0;
    const std::string digits = decimal(std::fabs(rounded), 1);
    if (rounded < 0) return kMinus + digits;
    return (plus && rounded > 0 ? "+" : "") + digits;
}

std::string ceilingText(const PeakCeiling& ceiling, const DecimalText& decimal)
{
    const bool truePeak = ceiling.kind == PeakCeiling::Kind::truePeak;
    return std::string(truePeak ? "true peak below " : "sample peak below ") + signedLevel(ceiling.level, decimal)
        + (truePeak ? " dBTP" : " dBFS");
}

} // namespace

std::string levelSentence(const LevelFigures& figures, const DecimalText& decimal)
{
    return signedLevel(figures.integratedLufs, decimal) + " LUFS \u00B7 true peak "
        + signedLevel(figures.truePeakDbtp, decimal) + " dBTP \u00B7 LRA "
        + signedLevel(figures.loudnessRangeLu, decimal) + " LU";
}

std::string levelText(double value, const DecimalText& decimal) { return signedLevel(value, decimal); }

std::string albumLoudnessSentence(double lufs, const DecimalText& decimal)
{
    return "Album loudness " + signedLevel(lufs, decimal) + " LUFS";
}

std::optional<std::string> gainSentence(const GainReport& gain, const DecimalText& decimal)
{
    const bool lowered = gain.ceiling.has_value();
    if (gain.appliedDb == 0 && !lowered && !gain.loudnessTargetLufs) return std::nullopt;
    std::string text = "Gain " + signedLevel(gain.appliedDb, decimal, true) + " dB";
    if (lowered) {
        text += ", lowered by " + signedLevel(gain.loweredByDb, decimal) + " dB to keep "
            + ceilingText(*gain.ceiling, decimal);
    }
    if (gain.loudnessTargetLufs) {
        const std::string target = signedLevel(*gain.loudnessTargetLufs, decimal) + " LUFS";
        const double off = gain.offTargetLu.value_or(0);
        if (!lowered || std::round(off * 10.0) == 0) {
            text += (lowered ? ": on the " + target + " target" : " to reach " + target);
        } else {
            text += ": " + signedLevel(std::fabs(off), decimal) + (off < 0 ? " LU below the " : " LU above the ")
                + target + " target";
        }
    }
    return text + ".";
}

std::string preciseClockText(double seconds)
{
    const auto ms = static_cast<long long>(std::llround(std::max(seconds, 0.0) * 1000.0));
    const long long whole = ms / 1000;
    char text[48];
    if (whole >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld.%03lld", whole / 3600, whole / 60 % 60, whole % 60, ms % 1000);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", whole / 60, whole % 60, ms % 1000);
    }
    return text;
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
