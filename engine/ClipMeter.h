#pragma once

#include "AudioBlock.h"
#include "FennickEngine.h"

#include <cstdint>

namespace fennick {

// Watches the output blocks as they are written: their peak, and the samples beyond full scale
// that 24-bit output clips and float output keeps. 16-bit output is clipped inside libsoxr,
// which counts it itself.
class ClipMeter {
public:
    explicit ClipMeter(OutputFormat format) : format_(format) { }

    void observe(const AudioBlock& block);

    // `libsoxrClips`: libsoxr's own count, for 16-bit output.
    ClipReport report(std::uint64_t libsoxrClips) const;

private:
    OutputFormat format_;
    float peak_ = 0; // full scale 1.0
    std::uint64_t beyondFullScale_ = 0;
};

} // namespace fennick
