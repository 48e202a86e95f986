#pragma once

// The one pass over a channel group's resampled samples before they are written: the gain, the
// peak and the count of samples beyond full scale, the rounding of undithered 16-bit output, and
// the store straight into the block that is written, at the whole file's frame stride, so that
// no later pass has to interleave the groups. Each pass has a per-sample reference, kept as the
// oracle the vector path is tested against.

#include <cstddef>
#include <cstdint>

namespace fennick {

// What a pass measured of the samples after the gain: the largest magnitude, and how many lay
// beyond full scale. Both run on from pass to pass.
struct PassFigures {
    float peak = 0;
    std::uint64_t beyond = 0;
};

// Where a pass stores: channel c of frame f at data[f * frameStride + c]. The undithered passes
// take the frames in any order, starting near `startFrame`; their figures do not depend on it.
template <typename Sample> struct StridedOut {
    Sample* data = nullptr;
    std::ptrdiff_t frameStride = 1;
    std::size_t startFrame = 0;
};

// Floats: each sample × `gain` is stored and measured against full scale: beyond is at or above
// `high`, or below −1. `out` may be `in` itself when its stride is `channels`.
void passFloats(const float* in, std::size_t frames, unsigned channels, float gain, float high, StridedOut<float> out,
    PassFigures& figures);
void passFloatsReference(const float* in, std::size_t frames, unsigned channels, float gain, float high,
    StridedOut<float> out, PassFigures& figures);

// libsoxr's doubles × `gain`, rounded to 16 bits as libsoxr rounds without dither: the nearest
// step, ties to even, then clipped; beyond is whose rounding lies past full scale.
void passInt16(const double* in, std::size_t frames, unsigned channels, double gain, StridedOut<std::int16_t> out,
    PassFigures& figures);
void passInt16Reference(const double* in, std::size_t frames, unsigned channels, double gain,
    StridedOut<std::int16_t> out, PassFigures& figures);

// Doubles × `gain` as floats, for a quantiser that dithers.
void doublesToFloats(const double* in, std::size_t count, double gain, float* out);

// Channels [first, first + count) of `frames` interleaved frames of `allChannels`, packed.
void takeChannels(
    const float* in, std::size_t frames, unsigned allChannels, unsigned first, unsigned count, float* out);

} // namespace fennick
