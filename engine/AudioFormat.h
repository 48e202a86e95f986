#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick {

// Sample layout of a block in memory. Codes follow the platform's common formats.
enum class CommonFormat : int { float32 = 1, int16 = 3 };

constexpr std::size_t bytesPerSample(CommonFormat format) { return format == CommonFormat::int16 ? 2 : 4; }

struct AudioFormat {
    CommonFormat commonFormat = CommonFormat::float32;
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
    bool interleaved = true; // always: every block here is interleaved

    std::size_t bytesPerFrame() const { return bytesPerSample(commonFormat) * channelCount; }
};

} // namespace fennick
