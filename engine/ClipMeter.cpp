#include "ClipMeter.h"

#include <algorithm>
#include <cmath>

namespace fennick {

namespace {

// The writer scales by 2^23 and rounds ties to even before clamping, so a sample is changed by the
// clamp from 1 − 2^−24 (which rounds up to 2^23) and below −1 (the next float down rounds below −2^23).
constexpr float kFirstClippedAbove = 1.0f - 1.0f / 16777216.0f;

} // namespace

void ClipMeter::observe(const AudioBlock& block)
{
    const std::size_t count = std::size_t{block.frameLength()} * block.format().channelCount;
    float peak = peak_;
    std::uint64_t beyond = 0;
    if (block.format().sampleType == SampleType::int16) {
        const auto* samples = static_cast<const std::int16_t*>(block.data());
        int largest = 0;
        for (std::size_t i = 0; i < count; ++i) largest = std::max(largest, std::abs(int{samples[i]}));
        peak = std::max(peak, static_cast<float>(largest) / 32768.0f);
    } else {
        const auto* samples = static_cast<const float*>(block.data());
        const bool int24 = format_ == OutputFormat::int24;
        const float high = int24 ? kFirstClippedAbove : std::nextafter(1.0f, 2.0f);
        for (std::size_t i = 0; i < count; ++i) {
            const float sample = samples[i];
            peak = std::max(peak, std::fabs(sample));
            beyond += static_cast<std::uint64_t>(sample >= high || sample < -1.0f);
        }
    }
    peak_ = peak;
    beyondFullScale_ += beyond;
}

ClipReport ClipMeter::report(std::uint64_t libsoxrClips) const
{
    ClipReport report;
    report.peakDbfs = peak_ > 0 ? 20.0 * std::log10(static_cast<double>(peak_)) : -INFINITY;
    if (format_ == OutputFormat::int16) report.clippedSamples = libsoxrClips;
    if (format_ == OutputFormat::int24) report.clippedSamples = beyondFullScale_;
    if (format_ == OutputFormat::float32) report.samplesOverFullScale = beyondFullScale_;
    return report;
}

} // namespace fennick
