#pragma once

// Turns the resampler's float samples into 16- or 24-bit integers: dither or noise shaping,
// rounding to the nearest step, clipping, and the clip count and peak of what came in.

#include "FennickEngine.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace fennick {

// The grid a quantiser rounds to.
enum class QuantisedFormat { int16, int24 };

// Where a group's samples lie: channel c of frame f at data[f * frameStride + c * channelStride].
// Interleaved samples have frameStride = channel count and channelStride = 1; planar ones
// frameStride = 1 and channelStride = the plane's length.
template <typename Sample> struct SampleLayout {
    Sample* data = nullptr;
    std::ptrdiff_t frameStride = 1;
    std::ptrdiff_t channelStride = 1;
};

struct NoiseShaperDesign;
struct ShaperCoefficients;

// Quantises one group of adjacent channels, block after block. Each channel has its own noise,
// seeded from the source's seed and the channel's index in the whole file, so the output is the
// same however the channels are grouped and the blocks cut.
//
// Rounding is to the nearest step, ties to even, exactly as libsoxr rounds float to 16 bits
// without dither; then values beyond full scale are clipped. A sample already on the grid within
// full scale is written as it is whatever the dither: it has no error to decorrelate, so a source
// already on the grid comes through bit-exact and digital silence stays digital silence. The
// shaper feeds back no error there; its memory drains over silence, and the shaping builds up
// again from rest after it.
class Quantiser {
public:
    // `firstChannel`: the group's first channel in the file; `channels` from there on. The
    // noise shaper is the one designed for the nearest rate to `sampleRate`.
    Quantiser(QuantisedFormat format, Dither dither, double sampleRate, std::uint64_t seed, unsigned firstChannel,
        unsigned channels);
    ~Quantiser();
    Quantiser(const Quantiser&) = delete;
    Quantiser& operator=(const Quantiser&) = delete;

    // 16-bit output.
    void process(SampleLayout<const float> in, SampleLayout<std::int16_t> out, std::size_t frames);
    // 16-bit output from libsoxr's doubles, the group's channels interleaved: each × `gain` is
    // taken as a float and quantised exactly as the float entry would, in one pass.
    void process(const double* in, double gain, SampleLayout<std::int16_t> out, std::size_t frames);
    // 24-bit output as floats on the 24-bit grid (k / 2^23), which AudioFileWriter stores exactly.
    void process(SampleLayout<const float> in, SampleLayout<float> out, std::size_t frames);

    // Samples whose undithered rounding lies beyond full scale, so far; libsoxr's count for 16 bits.
    std::uint64_t clips() const { return clips_; }
    // The largest magnitude that came in, before any clipping; full scale is 1.0.
    float peak() const { return peak_; }
    void restartPeak() { peak_ = 0; }

    // The per-sample reference instead of the vector path, for comparing the two.
    void useReferencePath(bool reference) { reference_ = reference; }

private:
    class Channel;
    template <typename Out> void processBlock(SampleLayout<const float> in, SampleLayout<Out> out, std::size_t frames);
    // `out`: the chunk's frames at `outStride`, which only the shaper may have other than packed.
    template <typename Real, typename Out>
    void quantiseChunk(const float* in, Out* out, std::ptrdiff_t outStride, std::size_t frames);
    template <int kChannels>
    void quantiseDoublesFlat(const double* in, double gain, SampleLayout<std::int16_t> out, std::size_t frames);

    Dither dither_;
    const NoiseShaperDesign* shaper_ = nullptr;
    std::unique_ptr<ShaperCoefficients> coefficients_;
    unsigned channelCount_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::vector<float> inScratch_, noiseScratch_;
    std::vector<std::int16_t> int16Scratch_;
    std::vector<float> floatScratch_;
    std::vector<std::int32_t> heldScratch_, ditherScratch_; // the shaper's, per chunk
    std::uint64_t clips_ = 0;
    float peak_ = 0;
    bool reference_ = false;
    bool wide_; // AVX2 where the one-pass TPDF and the noise have it
    bool masked_; // AVX-512's masked stores for one channel of a stereo file
};

} // namespace fennick
