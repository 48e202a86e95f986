#pragma once

// libsoxr's call rules in one place: a resampler is fed until it has taken all of a block, and
// at the end is given null input until nothing more comes out.

#include "AudioBlock.h"
#include "SoxrApi.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fennick {

// What a Resampler hands back: interleaved frames in a block that is kept from one call to the
// next and grows when libsoxr brings more than it holds. Before every libsoxr call there is room
// for `callFrames` more, the most one call is asked for.
class ResampledFrames {
public:
    // Throws ConversionError when there is no memory for `callFrames` frames.
    ResampledFrames(const AudioFormat& format, std::uint32_t callFrames);

    // The frames so far are its frameLength().
    AudioBlock& block() { return *block_; }
    const AudioBlock& block() const { return *block_; }
    std::uint32_t frames() const { return block_->frameLength(); }
    void clear() { block_->setFrameLength(0); }

private:
    friend class Resampler;
    // Where the next call writes, with room for callFrames_ frames; throws ConversionError.
    void* room();
    void added(std::size_t frames)
    {
        block_->setFrameLength(block_->frameLength() + static_cast<std::uint32_t>(frames));
    }

    std::unique_ptr<AudioBlock> block_;
    std::uint32_t callFrames_;
};

// One libsoxr resampler, deleted with the object, taking interleaved float frames.
class Resampler {
public:
    // soxr_create through `api`; a SoxrError with libsoxr's text when it makes none. `api` must
    // outlive the resampler.
    Resampler(const SoxrApi& api, double inputRate, double outputRate, unsigned channels, const soxr_io_spec_t& io,
        const soxr_quality_spec_t& quality, const soxr_runtime_spec_t& runtime);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Feeds all `frames` frames (at least one), appending what comes out to `output`. libsoxr
    // takes less than it is given when the output is full, so it is called until it has taken all.
    // Throws SoxrError, or ConversionError when `output` cannot grow.
    void process(const float* input, std::size_t frames, ResampledFrames& output);

    // Once all input is in: appends what libsoxr still holds back, the whole tail of the output.
    void flush(ResampledFrames& output);

    // Output frames by which the output lags the input fed so far (soxr_delay).
    double delay() const;

private:
    const SoxrApi& api_;
    soxr_t handle_;
    unsigned channels_;
};

} // namespace fennick
