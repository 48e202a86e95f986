#include "GroupQuantiser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace fennick {

namespace {

// The writer scales 24-bit output by 2^23 and rounds ties to even before clamping, so a sample is
// changed by the clamp from 1 − 2^−24 (which rounds up to 2^23) and below −1.
constexpr float kFirstClippedAbove24 = 1.0f - 1.0f / 16777216.0f;

constexpr const char* kNoMemory = "There is not enough memory for this conversion.";

std::uint64_t mix(std::uint64_t hash, std::uint64_t value)
{
    hash ^= value + 0x9E3779B97F4A7C15ull + (hash << 6) + (hash >> 2);
    hash ^= hash >> 31;
    return hash * 0xBF58476D1CE4E5B9ull;
}

} // namespace

std::uint64_t sourceDitherSeed(std::int64_t sourceFrames, const float* firstBlock, std::size_t samples)
{
    std::uint64_t hash = mix(0x46656E6E69636Bull, static_cast<std::uint64_t>(sourceFrames));
    for (std::size_t i = 0; i < samples; ++i) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, firstBlock + i, sizeof bits);
        hash = mix(hash, bits);
    }
    return hash;
}

GroupQuantiser::GroupQuantiser(
    OutputFormat format, Dither dither, double sampleRate, unsigned firstChannel, unsigned channels, std::size_t slots)
    : format_(format), dither_(dither), sampleRate_(sampleRate), firstChannel_(firstChannel), channels_(channels),
      int16Blocks_(format == OutputFormat::int16 ? slots : 0)
{
}

void GroupQuantiser::start(std::uint64_t seed)
{
    if (format_ == OutputFormat::float32 || dither_ == Dither::none) return;
    try {
        quantiser_ = std::make_unique<Quantiser>(
            format_ == OutputFormat::int16 ? QuantisedFormat::int16 : QuantisedFormat::int24, dither_, sampleRate_,
            seed, firstChannel_, channels_);
    } catch (const std::bad_alloc&) {
        throw ConversionError(kNoMemory);
    }
}

const AudioBlock& GroupQuantiser::quantise(AudioBlock& block, std::size_t slot)
{
    const std::uint32_t frames = block.frameLength();
    float* const samples = block.floatSamples();
    const auto stride = static_cast<std::ptrdiff_t>(channels_);
    if (format_ != OutputFormat::int16) {
        if (quantiser_) {
            quantiser_->process({samples, stride, 1}, {samples, stride, 1}, frames); // in place, chunk by chunk
        } else {
            meter(samples, std::size_t{frames} * channels_);
        }
        return block;
    }
    std::unique_ptr<AudioBlock>& out = int16Blocks_[slot];
    if (!out || out->frameCapacity() < block.frameCapacity()) {
        out = AudioBlock::make({SampleType::int16, block.format().sampleRate, channels_}, block.frameCapacity());
        if (!out) throw ConversionError(kNoMemory);
    }
    // 16-bit output comes as doubles, libsoxr's own values whatever precision it computes in.
    const auto* values = static_cast<const double*>(block.data());
    auto* const to = static_cast<std::int16_t*>(out->data());
    const std::size_t count = std::size_t{frames} * channels_;
    if (quantiser_) {
        try {
            if (floats_.size() < count) floats_.resize(count);
        } catch (const std::bad_alloc&) {
            throw ConversionError(kNoMemory);
        }
        for (std::size_t i = 0; i < count; ++i) floats_[i] = static_cast<float>(values[i]);
        quantiser_->process({floats_.data(), stride, 1}, {to, stride, 1}, frames);
    } else {
        roundToInt16(values, to, count);
    }
    out->setFrameLength(frames);
    return *out;
}

// As libsoxr rounds to 16 bits without dither, from its own doubles: the nearest step, ties to
// even, then clipped; rounding a float copy instead would settle some near-ties the other way.
void GroupQuantiser::roundToInt16(const double* values, std::int16_t* out, std::size_t count)
{
    constexpr double kMagic = 6755399441055744.0; // 1.5 × 2^52: adding and taking it away rounds to an integer
    double peak = peak_;
    std::uint64_t clips = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double scaled = values[i] * 32768.0;
        peak = std::max(peak, std::fabs(values[i]));
        clips += static_cast<std::uint64_t>(scaled >= 32767.5 || scaled < -32768.5);
        const double rounded = (std::min(std::max(scaled, -40000.0), 40000.0) + kMagic) - kMagic;
        out[i] = static_cast<std::int16_t>(std::min(std::max(rounded, -32768.0), 32767.0));
    }
    peak_ = static_cast<float>(peak);
    beyond_ += clips;
}

void GroupQuantiser::meter(const float* samples, std::size_t count)
{
    const float high = format_ == OutputFormat::int24 ? kFirstClippedAbove24 : std::nextafter(1.0f, 2.0f);
    float peak = peak_;
    std::uint64_t beyond = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float sample = samples[i];
        peak = std::max(peak, std::fabs(sample));
        beyond += static_cast<std::uint64_t>(sample >= high || sample < -1.0f);
    }
    peak_ = peak;
    beyond_ += beyond;
}

std::uint64_t GroupQuantiser::clips() const
{
    if (quantiser_) return quantiser_->clips();
    return format_ == OutputFormat::float32 ? 0 : beyond_;
}

float GroupQuantiser::peak() const { return quantiser_ ? quantiser_->peak() : peak_; }

void GroupQuantiser::restartPeak()
{
    peak_ = 0;
    if (quantiser_) quantiser_->restartPeak();
}

} // namespace fennick
