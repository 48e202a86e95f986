#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick {

// How a block holds its samples in memory; every block here is interleaved.
enum class SampleType { float32, int16 };

constexpr std::size_t bytesPerSample(SampleType type) { return type == SampleType::int16 ? 2 : 4; }

struct AudioFormat {
    SampleType sampleType = SampleType::float32;
    double sampleRate = 0;
    std::uint32_t channelCount = 0;

    std::size_t bytesPerFrame() const { return bytesPerSample(sampleType) * channelCount; }
};

} // namespace fennick
