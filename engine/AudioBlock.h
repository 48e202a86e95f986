#pragma once

#include "AudioFormat.h"

#include <cstdint>
#include <memory>

namespace fennick {

// A block of interleaved samples with a capacity and a valid length, both in frames.
class AudioBlock {
public:
    // Null when the block cannot be made: a zero or overflowing size, or no memory for it.
    static std::unique_ptr<AudioBlock> make(const AudioFormat& format, std::uint32_t frameCapacity) noexcept;

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frames) { frameLength_ = frames < frameCapacity_ ? frames : frameCapacity_; }

    // The interleaved samples when the block holds floats, else null.
    float* floatSamples();
    void* data() { return samples_.get(); }
    const void* data() const { return samples_.get(); }

private:
    AudioBlock(const AudioFormat& format, std::uint32_t frameCapacity, std::unique_ptr<std::byte[]> samples);

    AudioFormat format_;
    std::uint32_t frameCapacity_;
    std::uint32_t frameLength_ = 0;
    std::unique_ptr<std::byte[]> samples_;
};

} // namespace fennick
