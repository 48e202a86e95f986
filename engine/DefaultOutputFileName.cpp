#include "FennickEngine.h"

#include <string>

namespace fennick {

namespace {

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
    return base + '_' + std::to_string(targetRateHertz) + '-' + formatSuffix(settings.format) + '.'
        + std::string(rawValue(settings.type));
}

} // namespace fennick
