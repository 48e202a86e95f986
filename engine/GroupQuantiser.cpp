#include "GroupQuantiser.h"

#include "Gain.h"

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

const AudioBlock* GroupQuantiser::quantise(
    AudioBlock& block, std::size_t slot, float gain, void* direct, std::ptrdiff_t directStride)
{
    const std::uint32_t frames = block.frameLength();
    const auto stride = static_cast<std::ptrdiff_t>(channels_);
    const std::ptrdiff_t outStride = direct != nullptr ? directStride : stride;
    // Groups that fill one block start apart, each at its share of the frames.
    const auto startOf = [&](std::uint32_t all) {
        return direct != nullptr ? std::size_t{all} * firstChannel_ / static_cast<std::size_t>(directStride) : 0;
    };
    if (format_ != OutputFormat::int16) {
        float* const samples = block.floatSamples();
        float* const to = direct != nullptr ? static_cast<float*>(direct) : samples;
        if (quantiser_) {
            if (gain != 1.0f) applyGain(samples, std::size_t{frames} * channels_, gain);
            quantiser_->process({samples, stride, 1}, {to, outStride, 1}, frames); // in place, chunk by chunk
        } else {
            const float high = format_ == OutputFormat::int24 ? kFirstClippedAbove24 : std::nextafter(1.0f, 2.0f);
            passFloats(samples, frames, channels_, gain, high, {to, outStride, startOf(frames)}, figures_);
        }
        return direct != nullptr ? nullptr : &block;
    }
    std::unique_ptr<AudioBlock>& out = int16Blocks_[slot];
    if (direct == nullptr && (!out || out->frameCapacity() < block.frameCapacity())) {
        out = AudioBlock::make({SampleType::int16, block.format().sampleRate, channels_}, block.frameCapacity());
        if (!out) throw ConversionError(kNoMemory);
    }
    // 16-bit output comes as doubles, libsoxr's own values whatever precision it computes in.
    const auto* values = static_cast<const double*>(block.data());
    auto* const to = direct != nullptr ? static_cast<std::int16_t*>(direct) : static_cast<std::int16_t*>(out->data());
    if (quantiser_) {
        quantiser_->process(values, gain, {to, outStride, 1}, frames);
    } else {
        // As libsoxr rounds to 16 bits without dither, from its own doubles: rounding a float copy
        // instead would settle some near-ties the other way.
        passInt16(values, frames, channels_, gain, {to, outStride, startOf(frames)}, figures_);
    }
    if (direct != nullptr) return nullptr;
    out->setFrameLength(frames);
    return out.get();
}

std::uint64_t GroupQuantiser::clips() const
{
    if (quantiser_) return quantiser_->clips();
    return format_ == OutputFormat::float32 ? 0 : figures_.beyond;
}

float GroupQuantiser::peak() const { return quantiser_ ? quantiser_->peak() : figures_.peak; }

void GroupQuantiser::restartPeak()
{
    figures_.peak = 0;
    if (quantiser_) quantiser_->restartPeak();
}

} // namespace fennick
