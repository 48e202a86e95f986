#include "FennickEngine.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace fennick {

namespace fs = std::filesystem;

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string channelsText(std::uint32_t count)
{
    return std::to_string(count) + (count == 1 ? " channel" : " channels");
}

} // namespace

bool naturalNameLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // By value: without leading zeros, the longer run is the larger; of equal length, the first difference.
            const std::size_t startA = i, startB = j;
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            const std::size_t valueA = i, valueB = j;
            while (i < a.size() && isDigit(a[i])) ++i;
            while (j < b.size() && isDigit(b[j])) ++j;
            if (i - valueA != j - valueB) return i - valueA < j - valueB;
            const int order = a.compare(valueA, i - valueA, b, valueB, j - valueB);
            if (order != 0) return order < 0;
            if (valueA - startA != valueB - startB) return valueA - startA < valueB - startB; // "2" before "02"
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<BatchSource> findAlbumSources(const std::vector<fs::path>& named)
{
    std::vector<BatchSource> sources;
    std::set<fs::path> visited;
    for (const fs::path& each : named) {
        std::error_code error;
        if (!fs::is_directory(each, error)) {
            sources.push_back({each, {}});
            continue;
        }
        std::vector<FoundAudioFile> found = findAudioFiles(each, visited);
        const auto key = [](const FoundAudioFile& file) { return (file.subfolder / file.file.filename()).string(); };
        std::stable_sort(found.begin(), found.end(),
            [&](const FoundAudioFile& a, const FoundAudioFile& b) { return naturalNameLess(key(a), key(b)); });
        for (FoundAudioFile& file : found) sources.push_back({std::move(file.file), std::move(file.subfolder)});
    }
    return sources;
}

bool fitsAlbum(const SourceFileInfo& first, const SourceFileInfo& other)
{
    return other.sampleRate == first.sampleRate && other.channelCount == first.channelCount;
}

std::string albumMismatchSentence(
    std::string_view name, const SourceFileInfo& info, const SourceFileInfo& first, const NumberText& number)
{
    return std::string(name) + " has " + number(info.sampleRate) + " Hz, " + channelsText(info.channelCount)
        + "; the album's first file has " + number(first.sampleRate) + " Hz, " + channelsText(first.channelCount) + ".";
}

} // namespace fennick
