#include "FennickEngine.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>

namespace fennick {

namespace {

// The extensions written, each with its type; .aif is AIFF's short form.
constexpr std::pair<const char*, OutputType> kWritableExtensions[]
    = {{"wav", OutputType::wav}, {"rf64", OutputType::rf64}, {"w64", OutputType::w64}, {"aiff", OutputType::aiff},
        {"aif", OutputType::aiff}, {"flac", OutputType::flac}, {"caf", OutputType::caf}};

std::string lowerCase(std::string text)
{
    std::transform(
        text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The extension of a file name, lower case; nothing for none or a hidden file's leading dot.
std::optional<std::string> extensionOf(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::nullopt;
    return lowerCase(name.substr(dot + 1));
}

// Each major format libsndfile reads, by its name, with its extensions: libsndfile names one per
// format, the usual other spellings are added.
std::map<std::string, std::set<std::string>> readableFormats()
{
    std::map<std::string, std::set<std::string>> formats;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0 || info.extension == nullptr) continue;
        std::set<std::string>& extensions = formats[info.name];
        const std::string extension = lowerCase(info.extension);
        extensions.insert(extension);
        if (extension == "aiff") extensions.insert("aif");
        if (extension == "oga") extensions.insert({"ogg", "opus"});
    }
    return formats;
}

} // namespace

std::string_view fileTypeName(OutputType type)
{
    switch (type) {
    case OutputType::wav: return "WAV";
    case OutputType::rf64: return "RF64";
    case OutputType::w64: return "W64";
    case OutputType::aiff: return "AIFF";
    case OutputType::flac: return "FLAC";
    case OutputType::caf: return "CAF";
    }
    return "";
}

std::string cannotHoldSentence(OutputType type, OutputFormat format)
{
    (void)format; // FLAC's float is the one format a type refuses
    return std::string(fileTypeName(type)) + " holds 16-bit and 24-bit integer samples, not 32-bit float.";
}

std::vector<std::string> writableFileTypes()
{
    std::vector<std::string> types;
    for (const auto& [extension, type] : kWritableExtensions) types.emplace_back(extension);
    return types;
}

std::optional<OutputType> outputTypeOf(const std::filesystem::path& destination)
{
    const std::optional<std::string> extension = extensionOf(destination);
    if (!extension) return std::nullopt;
    for (const auto& [each, type] : kWritableExtensions) {
        if (*extension == each) return type;
    }
    return std::nullopt;
}

bool isWritableDestination(const std::filesystem::path& destination)
{
    return !extensionOf(destination) || outputTypeOf(destination).has_value();
}

std::vector<std::string> readableFileTypes()
{
    std::set<std::string> all;
    for (const auto& [name, extensions] : readableFormats()) all.insert(extensions.begin(), extensions.end());
    return {all.begin(), all.end()};
}

std::vector<OpenDialogFilter> openDialogFilters()
{
    const auto patterns = [](const auto& extensions) {
        std::vector<std::string> list;
        for (const std::string& extension : extensions) list.push_back("*." + extension);
        return list;
    };
    std::vector<OpenDialogFilter> filters{{"All audio files", patterns(readableFileTypes())}};
    for (const auto& [name, extensions] : readableFormats()) filters.push_back({name, patterns(extensions)});
    return filters;
}

} // namespace fennick
