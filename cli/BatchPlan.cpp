#include "BatchPlan.h"

#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>

namespace fennick::cli {

namespace fs = std::filesystem;

OutputClash::OutputClash(const fs::path& first, const fs::path& second, const fs::path& output)
    : std::runtime_error(first.string() + " and " + second.string() + " would both be written to " + output.string())
{
}

std::vector<BatchFile> planBatch(
    const std::vector<fs::path>& sources, const fs::path& outputDir, std::int64_t rateHertz, OutputFormat format)
{
    std::vector<FoundAudioFile> found;
    std::set<fs::path> visited;
    for (const fs::path& source : sources) {
        std::error_code error;
        if (fs::is_directory(source, error)) {
            for (FoundAudioFile& file : findAudioFiles(source, visited)) found.push_back(std::move(file));
        } else {
            found.push_back({source, {}}); // an unreadable one fails on its own later
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
