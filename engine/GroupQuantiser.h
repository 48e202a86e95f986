#pragma once

// What a channel group's resampled floats become before they are written: 16-bit samples, floats
// on the 24-bit grid, or the floats as they are, after the gain; with the clip count and the peak of
// what came in. Undithered output takes one pass (OutputPass), which may store straight into the
// block that is written.

#include "AudioBlock.h"
#include "FennickEngine.h"
#include "OutputPass.h"
#include "Quantiser.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace fennick {

// The seed a conversion draws its dither from when none is given: the source's length and its
// first block of audio, so that the same source gives the same noise in every run and any two
// sources independent noise.
std::uint64_t sourceDitherSeed(std::int64_t sourceFrames, const float* firstBlock, std::size_t samples);

// Lives as long as its group and works on the group's thread. Its state (noise, shaper memory, the
// figures) runs on from one block to the next.
class GroupQuantiser {
public:
    // `slots`: the output blocks in flight, each quantised into a 16-bit block of its own.
    GroupQuantiser(OutputFormat format, Dither dither, double sampleRate, unsigned firstChannel, unsigned channels,
        std::size_t slots);

    // Before the first block: where the noise starts. Throws ConversionError when out of memory.
    void start(std::uint64_t seed);

    // Multiplies `block` (the group's channels, interleaved: doubles for 16-bit output, else floats)
    // by `gain` and quantises it for `slot`. With `direct`, the group's first channel in the block
    // that is written (int16 for 16-bit output, else float) at that block's frame stride, the
    // samples go there and nothing is returned; else the block to write: a 16-bit block, or `block`
    // itself with its values on the 24-bit grid or kept.
    // Throws ConversionError when out of memory.
    const AudioBlock* quantise(
        AudioBlock& block, std::size_t slot, float gain, void* direct = nullptr, std::ptrdiff_t directStride = 0);

    std::uint64_t clips() const; // integer output: whose undithered rounding lies beyond full scale
    std::uint64_t overFullScale() const { return format_ == OutputFormat::float32 ? figures_.beyond : 0; }
    float peak() const; // the largest magnitude that came in since the start or restartPeak(), full scale 1.0
    void restartPeak();

private:
    OutputFormat format_;
    Dither dither_;
    double sampleRate_;
    unsigned firstChannel_, channels_;
    std::unique_ptr<Quantiser> quantiser_; // only with dither: none rounds here, or in the writer for 24 bits
    std::vector<std::unique_ptr<AudioBlock>> int16Blocks_;
    PassFigures figures_; // of the undithered passes
};

} // namespace fennick
