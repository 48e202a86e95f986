#include "FennickEngine.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>

namespace fennick {

namespace fs = std::filesystem;

namespace {

// Whether libsndfile reads files named so.
bool isAudioFileName(const fs::path& path, const std::vector<std::string>& readable)
{
    std::string extension = path.extension().string();
    if (extension.size() < 2) return false;
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::binary_search(readable.begin(), readable.end(), extension.substr(1));
}

void collect(const fs::path& root, const fs::path& folder, const std::vector<std::string>& readable,
    std::set<fs::path>& visited, std::vector<FoundAudioFile>& found)
{
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    if (error || !visited.insert(real).second) return;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        if (fs::is_directory(entry, error)) {
            collect(root, entry, readable, visited, found);
        } else if (fs::is_regular_file(entry, error) && isAudioFileName(entry, readable)) {
            found.push_back({entry, entry.parent_path().lexically_relative(root)});
        }
    }
}

} // namespace

std::vector<FoundAudioFile> findAudioFiles(const fs::path& folder, std::set<fs::path>& visited)
{
    std::vector<FoundAudioFile> found;
    collect(folder, folder, readableFileTypes(), visited, found);
    return found;
}

std::vector<FoundAudioFile> findAudioFiles(const fs::path& folder)
{
    std::set<fs::path> visited;
    return findAudioFiles(folder, visited);
}

} // namespace fennick
