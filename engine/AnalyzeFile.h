#pragma once

#include "AudioFileReader.h"

#include <vector>

namespace fennick {

// The positions of a source's channels for a LevelMeter: as the file states them, else empty (the
// usual order of its channel count). analyzeFile itself is in FennickEngine.h.
std::vector<int> meteredChannelMap(const AudioFileReader& reader);

} // namespace fennick
