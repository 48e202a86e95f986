#include "JsonReport.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace fennick::cli {

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0.
std::size_t utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80 ? 1
        : lead >= 0xC2 && lead < 0xE0      ? 2
        : lead >= 0xE0 && lead < 0xF0      ? 3
        : lead >= 0xF0 && lead < 0xF5      ? 4
                                           : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    // Overlong three- and four-byte forms, surrogates and code points past U+10FFFF.
    if (lead == 0xE0 && byte(at + 1) < 0xA0) return 0;
    if (lead == 0xED && byte(at + 1) >= 0xA0) return 0;
    if (lead == 0xF0 && byte(at + 1) < 0x90) return 0;
    if (lead == 0xF4 && byte(at + 1) >= 0x90) return 0;
    return length;
}

std::string number(double value)
{
    if (!std::isfinite(value)) return "null";
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

} // namespace

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const std::size_t length = utf8Length(text, at);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text.substr(at, length));
            at += length;
            continue;
        }
        ++at;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string jsonLine(const FileResult& result, bool analyzed)
{
    std::string line = "{\"source\":" + jsonString(result.source.string());
    if (!analyzed) line += ",\"destination\":" + jsonString(result.destination.string());
    line += ",\"sourceRate\":" + number(result.sourceRate);
    if (!analyzed) line += ",\"targetRate\":" + number(result.targetRate);
    line += ",\"format\":" + jsonString(result.format) + ",\"channels\":" + std::to_string(result.channels)
        + ",\"frames\":" + std::to_string(result.frames);
    if (!analyzed) line += ",\"seconds\":" + number(result.seconds) + ",\"gainDb\":" + number(result.gainDb);
    line += ",\"samplePeakDbfs\":" + number(result.level.samplePeakDbfs) + ",\"truePeakDbtp\":"
        + number(result.level.truePeakDbtp) + ",\"integratedLufs\":" + number(result.level.integratedLufs)
        + ",\"loudnessRangeLu\":" + number(result.level.loudnessRangeLu);
    if (!analyzed) {
        line += ",\"clippedSamples\":" + std::to_string(result.clippedSamples) + ",\"warnings\":[";
        for (std::size_t i = 0; i < result.warnings.size(); ++i)
            line += (i == 0 ? "" : ",") + jsonString(result.warnings[i]);
        line += "]";
    }
    return line + "}";
}

FileResult conversionResult(const std::filesystem::path& source, const std::filesystem::path& destination,
    const ConversionSettings& settings, const ConversionReport& report, double seconds)
{
    FileResult result;
    result.source = source;
    result.destination = destination;
    result.sourceRate = report.source.sampleRate;
    result.targetRate = settings.targetRate;
    result.format = std::string(rawValue(settings.format));
    try {
        const SourceFileInfo written = readSourceFileInfo(destination);
        result.channels = written.channelCount;
        result.frames = written.frames;
    } catch (const std::exception&) {
        // a device: its frames are not there to count
    }
    result.seconds = seconds;
    result.gainDb = report.gain.appliedDb;
    result.level = report.level;
    result.clippedSamples = report.clips.clippedSamples + report.clips.samplesOverFullScale;
    result.warnings = runWarnings(report, cNumberText);
    if (const auto gain = gainSentence(report.gain, cDecimalText); gain && report.gain.ceiling)
        result.warnings.push_back(*gain);
    return result;
}

} // namespace fennick::cli
