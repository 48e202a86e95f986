#include "BatchPlan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <system_error>

namespace fennick::cli {

namespace fs = std::filesystem;

namespace {

bool isAudioFileName(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".wav" || extension == ".aiff" || extension == ".aif" || extension == ".flac";
}

// The audio files under `folder`, each with its folder relative to `root`. `visited` holds the
// folders already walked, by their real path, so that a link to one of them is not walked again.
void collectFolder(const fs::path& root, const fs::path& folder, std::set<fs::path>& visited,
    std::vector<std::pair<fs::path, fs::path>>& found)
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
            collectFolder(root, entry, visited, found);
        } else if (fs::is_regular_file(entry, error) && isAudioFileName(entry)) {
            found.emplace_back(entry, entry.parent_path().lexically_relative(root));
        }
    }
}

} // namespace

OutputClash::OutputClash(const fs::path& first, const fs::path& second, const fs::path& output)
    : std::runtime_error(first.string() + " and " + second.string() + " would both be written to " + output.string())
{
}

std::vector<BatchFile> planBatch(
    const std::vector<fs::path>& sources, const fs::path& outputDir, std::int64_t rateHertz, OutputFormat format)
{
    std::vector<std::pair<fs::path, fs::path>> found; // source, subfolder
    std::set<fs::path> visited;
    for (const fs::path& source : sources) {
        std::error_code error;
        if (fs::is_directory(source, error)) {
            collectFolder(source, source, visited, found);
        } else {
            found.emplace_back(source, fs::path()); // an unreadable one fails on its own later
        }
    }
    std::vector<BatchFile> plan;
    std::map<fs::path, fs::path> sourceOf; // output, source
    for (const auto& [source, subfolder] : found) {
        const fs::path name = (subfolder / defaultOutputFileName(source, rateHertz, format)).lexically_normal();
        const fs::path output = (outputDir / name).lexically_normal();
        const auto [earlier, added] = sourceOf.emplace(output, source);
        if (!added) throw OutputClash(earlier->second, source, output);
        plan.push_back({source, output, name});
    }
    return plan;
}

} // namespace fennick::cli
