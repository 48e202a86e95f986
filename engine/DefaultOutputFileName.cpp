#include "FennickEngine.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace fennick {

namespace {

// The types written, by extension; more come with more output types.
constexpr const char* kWritableTypes[] = {"wav"};

const char* formatSuffix(OutputFormat format)
{
    switch (format) {
    case OutputFormat::int16: return "16";
    case OutputFormat::int24: return "24";
    case OutputFormat::float32: return "32f";
    }
    return "";
}

} // namespace

std::filesystem::path defaultOutputFileName(const std::filesystem::path& source, const ConversionSettings& settings)
{
    const auto targetRateHertz = static_cast<std::int64_t>(settings.targetRate);
    const std::string name = source.filename().string();
    // A leading dot starts a hidden file's name, not an extension.
    const auto dot = name.rfind('.');
    const std::string base = dot != std::string::npos && dot > 0 ? name.substr(0, dot) : name;
    return base + '_' + std::to_string(targetRateHertz) + '-' + formatSuffix(settings.format) + ".wav";
}

std::vector<std::string> writableFileTypes() { return {std::begin(kWritableTypes), std::end(kWritableTypes)}; }

bool isWritableDestination(const std::filesystem::path& destination)
{
    const std::string name = destination.filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return true; // no extension, or a hidden file's name
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::any_of(
        std::begin(kWritableTypes), std::end(kWritableTypes), [&](const char* type) { return extension == type; });
}

} // namespace fennick
