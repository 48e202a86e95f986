#pragma once

// One JSON object per line, for scripts that collect a run's results: what a conversion wrote or
// what --analyze measured.

#include "FennickEngine.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fennick::cli {

// A JSON string literal of UTF-8 `text`, quotes included, with quotes, backslashes and control
// characters escaped; bytes that are not valid UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);

struct FileResult {
    std::filesystem::path source, destination; // destination empty for --analyze
    double sourceRate = 0, targetRate = 0;
    std::string format; // "int16", "int24", "float32"; for --analyze the source's sample format
    std::uint32_t channels = 0;
    std::int64_t frames = 0; // of the output, or of the source for --analyze
    double seconds = 0; // taken by the conversion
    double gainDb = 0;
    LevelFigures level;
    std::uint64_t clippedSamples = 0;
    std::vector<std::string> warnings;
};

// {"source":…,"destination":…,"sourceRate":…,…} on one line, without the newline. Levels of silence
// are null.
std::string jsonLine(const FileResult& result, bool analyzed);

// What a conversion wrote, for jsonLine. Reads the output's header.
FileResult conversionResult(const std::filesystem::path& source, const std::filesystem::path& destination,
    const ConversionSettings& settings, const ConversionReport& report, double seconds);

} // namespace fennick::cli
