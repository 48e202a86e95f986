#pragma once

#include <cstddef>

namespace fennick {

// Channels first … first + count − 1 of `frames` interleaved frames of `allChannels` channels of
// little-endian signed integers of `sampleBytes` bytes (2, 3 or 4) as a file stores them, into `out`
// (`count` floats a frame), each sample exactly as libsndfile reads it as float. `in` holds one
// byte past its last sample.
void unpackChannels(unsigned sampleBytes, const unsigned char* in, std::size_t frames, unsigned allChannels,
    unsigned first, unsigned count, float* out);

} // namespace fennick
