#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick {

// How a block holds its samples in memory; every block here is interleaved. float64 is only what
// the filter measurement has libsoxr hand back.
enum class SampleType { float32, int16, float64 };

constexpr std::size_t bytesPerSample(SampleType type)
{
    return type == SampleType::int16 ? 2 : type == SampleType::float64 ? 8 : 4;
}

struct AudioFormat {
    SampleType sampleType = SampleType::float32;
    double sampleRate = 0;
    std::uint32_t channelCount = 0;

    std::size_t bytesPerFrame() const { return bytesPerSample(sampleType) * channelCount; }
};

} // namespace fennick
