#pragma once

// What a many-file run will do, worked out before anything is written: every source that the
// named files and folders stand for, and the output each one goes to.

#include "FennickEngine.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fennick::cli {

struct BatchFile {
    std::filesystem::path source;
    std::filesystem::path output; // under the output folder, the source's subfolder mirrored
    std::filesystem::path name; // the output relative to the output folder
};

// Two sources that would be written to the same output.
struct OutputClash : std::runtime_error {
    OutputClash(
        const std::filesystem::path& first, const std::filesystem::path& second, const std::filesystem::path& output);
};

// A file stands for itself, whatever its extension; a folder for the files findAudioFiles finds
// there, each folder walked once over all the sources. Throws OutputClash.
std::vector<BatchFile> planBatch(const std::vector<std::filesystem::path>& sources,
    const std::filesystem::path& outputDir, std::int64_t rateHertz, OutputFormat format);

} // namespace fennick::cli
