#pragma once

#include "LevelFigures.h"

#include <filesystem>

namespace fennick {

// Measures a whole audio file's loudness and peaks as it is, read as float. Throws
// AudioFileError when the file cannot be opened, read or metered.
LevelFigures analyzeFile(const std::filesystem::path& path);

} // namespace fennick
