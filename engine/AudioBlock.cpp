#include "AudioBlock.h"

#include <new>

namespace fennick {

namespace {
// Far beyond any real block (1024 channels at 192 kHz from 8 kHz is about 6 GiB); a request
// above it comes from a corrupt header and is refused without asking the allocator.
constexpr std::size_t kMaxBlockBytes = std::size_t{16} << 30;
} // namespace

AudioBlock::AudioBlock(const AudioFormat& format, std::uint32_t frameCapacity, std::unique_ptr<std::byte[]> samples)
    : format_(format), frameCapacity_(frameCapacity), samples_(std::move(samples))
{
}

std::unique_ptr<AudioBlock> AudioBlock::make(const AudioFormat& format, std::uint32_t frameCapacity) noexcept
{
    std::size_t bytes = 0;
    if (frameCapacity == 0 || format.channelCount == 0) return nullptr;
    if (__builtin_mul_overflow(static_cast<std::size_t>(frameCapacity), format.bytesPerFrame(), &bytes)) return nullptr;
    if (bytes > kMaxBlockBytes) return nullptr;
    std::unique_ptr<std::byte[]> samples(new (std::nothrow) std::byte[bytes]);
    if (!samples) return nullptr;
    std::unique_ptr<AudioBlock> block(new (std::nothrow) AudioBlock(format, frameCapacity, std::move(samples)));
    return block;
}

float* AudioBlock::floatSamples()
{
    return format_.sampleType == SampleType::float32 ? reinterpret_cast<float*>(samples_.get()) : nullptr;
}

} // namespace fennick
