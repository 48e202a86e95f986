#pragma once

// A FLAC file's Vorbis comments, which libsndfile reads only a few of, read through libFLAC.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fennick {

// Each comment as its field name in capitals and its value, in the file's order; empty for a file
// that is not a native FLAC stream or whose metadata cannot be read. `fd` is read with pread and
// left as it was.
std::vector<std::pair<std::string, std::string>> readFlacComments(int fd);

// Replaces the Vorbis comments of the closed FLAC file at `path` with `comments` (name, value),
// keeping its mode and owner; libsndfile writes neither ISRC nor a channel mask comment. The file
// is rewritten when its metadata outgrows the room it has. Throws AudioFileError.
void writeFlacComments(
    const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& comments);

} // namespace fennick
