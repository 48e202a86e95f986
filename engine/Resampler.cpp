#include "Resampler.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace fennick {

namespace {
constexpr const char* kNoMemory = "There is not enough memory for this conversion.";
} // namespace

ResampledFrames::ResampledFrames(const AudioFormat& format, std::uint32_t callFrames)
    : block_(AudioBlock::make(format, callFrames)), callFrames_(callFrames)
{
    if (!block_) throw ConversionError(kNoMemory);
}

void* ResampledFrames::room()
{
    const std::uint32_t frames = block_->frameLength();
    const std::size_t frameBytes = block_->format().bytesPerFrame();
    if (block_->frameCapacity() - frames < callFrames_) {
        constexpr std::uint64_t kMost = std::numeric_limits<std::uint32_t>::max();
        const std::uint64_t wanted
            = std::max<std::uint64_t>(2 * std::uint64_t{block_->frameCapacity()}, std::uint64_t{frames} + callFrames_);
        if (std::uint64_t{frames} + callFrames_ > kMost) throw ConversionError(kNoMemory);
        auto larger = AudioBlock::make(block_->format(), static_cast<std::uint32_t>(std::min(wanted, kMost)));
        if (!larger) throw ConversionError(kNoMemory);
        std::memcpy(larger->data(), block_->data(), frames * frameBytes);
        larger->setFrameLength(frames);
        block_ = std::move(larger);
    }
    return static_cast<std::byte*>(block_->data()) + frames * frameBytes;
}

Resampler::Resampler(const SoxrApi& api, double inputRate, double outputRate, unsigned channels,
    const soxr_io_spec_t& io, const soxr_quality_spec_t& quality, const soxr_runtime_spec_t& runtime)
    : api_(api), channels_(channels)
{
    soxr_error_t error = nullptr;
    handle_ = api.soxr_create(inputRate, outputRate, channels, &error, &io, &quality, &runtime);
    if (handle_ == nullptr) throw SoxrError(error != nullptr ? error : "unknown libsoxr error");
}

Resampler::~Resampler() { api_.soxr_delete(handle_); }

void Resampler::process(const float* input, std::size_t frames, ResampledFrames& output)
{
    std::size_t fed = 0;
    do {
        void* room = output.room();
        std::size_t consumed = 0;
        std::size_t produced = 0;
        if (soxr_error_t error = api_.soxr_process(
                handle_, input + fed * channels_, frames - fed, &consumed, room, output.callFrames_, &produced)) {
            throw SoxrError(error);
        }
        fed += consumed;
        output.added(produced);
        if (consumed == 0 && produced == 0) break; // it takes no more; never seen, but no loop forever
    } while (fed < frames);
}

void Resampler::flush(ResampledFrames& output)
{
    for (;;) {
        void* room = output.room();
        std::size_t produced = 0;
        if (soxr_error_t error = api_.soxr_process(handle_, nullptr, 0, nullptr, room, output.callFrames_, &produced)) {
            throw SoxrError(error);
        }
        if (produced == 0) return;
        output.added(produced);
    }
}

double Resampler::delay() const { return api_.soxr_delay(handle_); }

} // namespace fennick
