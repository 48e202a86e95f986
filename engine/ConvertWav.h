#pragma once

#include <cstdint>
#include <optional>

namespace fennick {

// Frames read from the source per block.
inline constexpr std::uint32_t kInputBlockFrames = 65536;

// ceil(targetRate × 65536 / inputRate) + 8192: room for everything one input block can produce
// plus what libsoxr holds back. Nothing when a rate is not positive and finite, or the block
// would exceed 2^31 − 1 frames, the most libsoxr 0.1.3 accepts as an output length.
std::optional<std::uint32_t> outputBlockCapacity(double inputRate, double targetRate);

} // namespace fennick
