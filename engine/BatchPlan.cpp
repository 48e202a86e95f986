#include "FennickEngine.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace fennick {

namespace fs = std::filesystem;

namespace {

// What named files and folders stand for; a folder's files in name order, or in natural name
// order (track 2 before track 10) for an album.
std::vector<BatchSource> findSources(const std::vector<fs::path>& named, bool naturalOrder)
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
        if (naturalOrder) {
            const auto key
                = [](const FoundAudioFile& file) { return (file.subfolder / file.file.filename()).string(); };
            std::stable_sort(found.begin(), found.end(),
                [&](const FoundAudioFile& a, const FoundAudioFile& b) { return naturalNameLess(key(a), key(b)); });
        }
        for (FoundAudioFile& file : found) sources.push_back({std::move(file.file), std::move(file.subfolder)});
    }
    return sources;
}

} // namespace

std::vector<BatchSource> findBatchSources(const std::vector<fs::path>& named) { return findSources(named, false); }

std::vector<BatchSource> findAlbumSources(const std::vector<fs::path>& named) { return findSources(named, true); }

BatchPlan planBatch(
    const std::vector<BatchSource>& sources, const BatchDestination& destination, const ConversionSettings& settings)
{
    BatchPlan plan;
    std::map<fs::path, std::size_t> firstTo; // output, the first source written there
    for (const BatchSource& source : sources) {
        const fs::path file = defaultOutputFileName(source.file, settings);
        PlannedOutput planned{source.file, {}, {}};
        if (destination.nextToSource) {
            planned.name = file;
            planned.output = (source.file.parent_path() / file).lexically_normal();
        } else {
            planned.name = (source.subfolder / file).lexically_normal();
            planned.output = (destination.folder / planned.name).lexically_normal();
        }
        const auto [earlier, added] = firstTo.emplace(planned.output, plan.outputs.size());
        if (!added) plan.clashes.push_back({earlier->second, plan.outputs.size()});
        plan.outputs.push_back(std::move(planned));
    }
    return plan;
}

std::vector<std::size_t> existingOutputs(const BatchPlan& plan)
{
    std::vector<std::size_t> existing;
    for (std::size_t i = 0; i < plan.outputs.size(); ++i) {
        std::error_code ignored;
        if (fs::exists(fs::symlink_status(plan.outputs[i].output, ignored))) existing.push_back(i);
    }
    return existing;
}

std::error_code createOutputFolder(const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    return error;
}

} // namespace fennick
