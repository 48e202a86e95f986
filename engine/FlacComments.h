#pragma once

// A FLAC file's Vorbis comments, which libsndfile reads only a few of, read through libFLAC.

#include <string>
#include <utility>
#include <vector>

namespace fennick {

// Each comment as its field name in capitals and its value, in the file's order; empty for a file
// that is not a native FLAC stream or whose metadata cannot be read. `fd` is read with pread and
// left as it was.
std::vector<std::pair<std::string, std::string>> readFlacComments(int fd);

} // namespace fennick
