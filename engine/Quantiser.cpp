#include "Quantiser.h"

#include "DitherNoise.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fennick {

namespace {

constexpr std::size_t kChunkFrames = 128; // a block is taken this many frames at a time
constexpr std::size_t kLanes = 8; // independent generators per channel, so that they vectorise
constexpr std::size_t kNoiseBuffer = 8 * kLanes;

// The 16-bit path computes in float, exactly as libsoxr's float-to-16-bit rounding sees it; the
// 24-bit path needs double, whose step at 2^23 is still far below the dither's.
template <typename Real> struct Grid;
template <> struct Grid<float> {
    static constexpr float scale = 32768.0f;
    static constexpr float low = -32768.0f, high = 32767.0f;
    static constexpr float roundingMagic = 12582912.0f; // 1.5 × 2^23: rounds |x| < 2^22 to integers
};
template <> struct Grid<double> {
    static constexpr double scale = 8388608.0;
    static constexpr double low = -8388608.0, high = 8388607.0;
    static constexpr double roundingMagic = 6755399441055744.0; // 1.5 × 2^52
};

// Nearest integer, ties to even (the default rounding mode), without a library call.
template <typename Real> inline Real roundToStep(Real value)
{
    return (value + Grid<Real>::roundingMagic) - Grid<Real>::roundingMagic;
}

// Values are held this far beyond full scale before rounding: enough that the shaped noise never
// brings a clipped value back inside, little enough that rounding stays exact.
template <typename Real> constexpr Real kHeadroom = 1024;

constexpr int kMaxShaperOrder = 16;

// A shaper's last errors, each written twice so that the newest `order` always lie in a row.
struct ShaperMemory {
    std::int64_t errors[2 * kMaxShaperOrder] = {};
    int at = 0;
};

// The shaper works in fixed point: its loop runs through one multiplication and a few integer
// operations per sample, where floating point would wait on four dependent additions; and
// integers give the same bytes on every machine. Samples carry kFraction<Real> fractional bits
// (as many as keep full scale plus headroom inside 63 bits), the coefficients kCoefficientBits
// and the remembered errors kFraction − kCoefficientBits, so that a product has the samples' scale.
constexpr int kCoefficientBits = 20;
template <typename Real> constexpr int kFraction = std::is_same_v<Real, float> ? 44 : 36;

} // namespace

// A shaper's coefficients in fixed point.
struct ShaperCoefficients {
    int order = 0;
    std::int64_t fixed[kMaxShaperOrder] = {};
};

namespace {

std::uint64_t splitMix64(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

// One channel's noise and shaper memory.
class Quantiser::Channel {
public:
    Channel(std::uint64_t seed, unsigned channelIndex)
    {
        std::uint64_t state = seed ^ (0xD1B54A32D192ED03ull * (std::uint64_t{channelIndex} + 1));
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const std::uint64_t a = splitMix64(state), b = splitMix64(state);
            x_[lane] = static_cast<std::uint32_t>(a);
            y_[lane] = static_cast<std::uint32_t>(a >> 32);
            z_[lane] = static_cast<std::uint32_t>(b);
            w_[lane] = static_cast<std::uint32_t>(b >> 32) | 1u; // never the all-zero state
        }
    }

    // The channel's next `count` TPDF values, in steps, to every `stride`-th of `out`.
    void takeNoise(float* out, std::size_t stride, std::size_t count)
    {
        while (count > 0) {
            if (used_ == kNoiseBuffer) refill();
            const std::size_t n = std::min(count, kNoiseBuffer - used_);
            for (std::size_t i = 0; i < n; ++i) out[i * stride] = buffer_[used_ + i];
            used_ += n, out += n * stride, count -= n;
        }
    }

    ShaperMemory shaper;

private:
    // Marsaglia's xorshift128 in kLanes lanes. Each output word gives two 16-bit uniforms; their
    // difference is triangular over (−1, 1) step, as libsoxr's dither is.
    void refill()
    {
        for (std::size_t step = 0; step < kNoiseBuffer / kLanes; ++step) {
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                const std::uint32_t t = x_[lane] ^ (x_[lane] << 11);
                x_[lane] = y_[lane], y_[lane] = z_[lane], z_[lane] = w_[lane];
                const std::uint32_t w = w_[lane] ^ (w_[lane] >> 19) ^ t ^ (t >> 8);
                w_[lane] = w;
                const auto difference = static_cast<std::int32_t>(w >> 16) - static_cast<std::int32_t>(w & 0xFFFFu);
                buffer_[step * kLanes + lane] = static_cast<float>(difference) * (1.0f / 65536.0f);
            }
        }
        used_ = 0;
    }

    std::uint32_t x_[kLanes], y_[kLanes], z_[kLanes], w_[kLanes];
    float buffer_[kNoiseBuffer];
    std::size_t used_ = kNoiseBuffer;
};

Quantiser::Quantiser(QuantisedFormat format, Dither dither, double sampleRate, std::uint64_t seed,
    unsigned firstChannel, unsigned channels)
    : format_(format), dither_(dither), shaper_(noiseShaperFor(dither, sampleRate)), channelCount_(channels),
      inScratch_(kChunkFrames * channels), noiseScratch_(kChunkFrames * channels)
{
    if (shaper_ != nullptr) {
        coefficients_ = std::make_unique<ShaperCoefficients>();
        coefficients_->order = std::min(shaper_->order, kMaxShaperOrder);
        for (int k = 0; k < coefficients_->order; ++k) {
            coefficients_->fixed[k]
                = std::llround(shaper_->feedback[static_cast<std::size_t>(k)] * (1 << kCoefficientBits));
        }
    }
    for (unsigned c = 0; c < channels; ++c) {
        channels_.push_back(std::make_unique<Channel>(seed, firstChannel + c));
    }
    if (format == QuantisedFormat::int16) int16Scratch_.resize(kChunkFrames * channels);
    if (format == QuantisedFormat::int24) floatScratch_.resize(kChunkFrames * channels);
}

Quantiser::~Quantiser() = default;

void Quantiser::process(SampleLayout<const float> in, SampleLayout<std::int16_t> out, std::size_t frames)
{
    processBlock(in, out, frames);
}

void Quantiser::process(SampleLayout<const float> in, SampleLayout<float> out, std::size_t frames)
{
    processBlock(in, out, frames);
}

template <typename Out>
void Quantiser::processBlock(SampleLayout<const float> in, SampleLayout<Out> out, std::size_t frames)
{
    using Real = std::conditional_t<std::is_same_v<Out, std::int16_t>, float, double>;
    const std::ptrdiff_t channels = channelCount_;
    const bool inPacked = in.frameStride == channels && (in.channelStride == 1 || channels == 1);
    const bool outPacked = out.frameStride == channels && (out.channelStride == 1 || channels == 1);
    Out* const scratch = [&] {
        if constexpr (std::is_same_v<Out, std::int16_t>)
            return int16Scratch_.data();
        else
            return floatScratch_.data();
    }();
    for (std::size_t done = 0; done < frames; done += kChunkFrames) {
        const std::size_t n = std::min(kChunkFrames, frames - done);
        const float* source = in.data + static_cast<std::ptrdiff_t>(done) * in.frameStride;
        if (!inPacked) {
            for (std::size_t f = 0; f < n; ++f) {
                for (std::ptrdiff_t c = 0; c < channels; ++c) {
                    inScratch_[f * channels + c] = source[f * in.frameStride + c * in.channelStride];
                }
            }
            source = inScratch_.data();
        }
        Out* const target = outPacked ? out.data + static_cast<std::ptrdiff_t>(done) * out.frameStride : scratch;
        quantiseChunk<Real>(source, target, n);
        if (!outPacked) {
            Out* const destination = out.data + static_cast<std::ptrdiff_t>(done) * out.frameStride;
            for (std::size_t f = 0; f < n; ++f) {
                for (std::ptrdiff_t c = 0; c < channels; ++c) {
                    destination[f * out.frameStride + c * out.channelStride] = scratch[f * channels + c];
                }
            }
        }
    }
}

namespace {

template <typename Real, typename Out> inline Out store(Real rounded)
{
    const Real clipped = std::min(std::max(rounded, Grid<Real>::low), Grid<Real>::high);
    if constexpr (std::is_same_v<Out, std::int16_t>)
        return static_cast<std::int16_t>(clipped);
    else
        return static_cast<float>(clipped / Grid<Real>::scale);
}

// Flat dither or none, one sample at a time: the reference the vector path must equal.
template <typename Real, typename Out>
void quantiseFlat(const float* in, const float* noise, Out* out, std::size_t count, std::uint64_t& clips, float& peak)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float magnitude = std::fabs(in[i]);
        peak = magnitude > peak ? magnitude : peak;
        const Real scaled = static_cast<Real>(in[i]) * Grid<Real>::scale;
        clips += scaled >= Grid<Real>::high + Real(0.5) || scaled < Grid<Real>::low - Real(0.5);
        if (!(magnitude > 0)) { // zero, or not a number
            out[i] = Out{0};
            continue;
        }
        Real value = scaled + static_cast<Real>(noise != nullptr ? noise[i] : 0.0f);
        value = std::min(std::max(value, Grid<Real>::low - kHeadroom<Real>), Grid<Real>::high + kHeadroom<Real>);
        out[i] = store<Real, Out>(roundToStep(value));
    }
}

#if defined(__SSE2__)
// quantiseFlat for 16 bits, eight samples at a time: cvtps2dq rounds as roundToStep does and
// packssdw clips to 16 bits.
void quantiseFlatInt16(
    const float* in, const float* noise, std::int16_t* out, std::size_t count, std::uint64_t& clips, float& peak)
{
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 clipHigh = _mm_set1_ps(32767.5f), clipLow = _mm_set1_ps(-32768.5f);
    const __m128 low = _mm_set1_ps(-32768.0f - kHeadroom<float>), high = _mm_set1_ps(32767.0f + kHeadroom<float>);
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 peaks = _mm_set1_ps(peak);
    __m128i clipCounts = _mm_setzero_si128();
    std::size_t i = 0;
    const auto one = [&](std::size_t at) {
        const __m128 x = _mm_loadu_ps(in + at);
        const __m128 magnitude = _mm_and_ps(x, absMask);
        peaks = _mm_max_ps(magnitude, peaks); // keeps the peak when the sample is not a number
        const __m128 keep = _mm_cmpgt_ps(magnitude, _mm_setzero_ps());
        const __m128 scaled = _mm_mul_ps(x, scale);
        const __m128 clipped = _mm_or_ps(_mm_cmpge_ps(scaled, clipHigh), _mm_cmplt_ps(scaled, clipLow));
        clipCounts = _mm_sub_epi32(clipCounts, _mm_castps_si128(clipped));
        __m128 value = noise != nullptr ? _mm_add_ps(scaled, _mm_loadu_ps(noise + at)) : scaled;
        value = _mm_and_ps(_mm_min_ps(_mm_max_ps(value, low), high), keep);
        return _mm_cvtps_epi32(value);
    };
    for (; i + 8 <= count; i += 8) {
        const __m128i first = one(i), second = one(i + 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(first, second));
    }
    alignas(16) float peakLanes[4];
    alignas(16) std::uint32_t clipLanes[4];
    _mm_store_ps(peakLanes, peaks);
    _mm_store_si128(reinterpret_cast<__m128i*>(clipLanes), clipCounts);
    for (int lane = 0; lane < 4; ++lane) {
        peak = std::max(peak, peakLanes[lane]);
        clips += clipLanes[lane];
    }
    quantiseFlat<float>(in + i, noise != nullptr ? noise + i : nullptr, out + i, count - i, clips, peak);
}
#endif

// Error feedback: the error each rounding made (dither included) is filtered by H and taken from
// the next samples, so the noise leaves shaped by 1 − H. The error fed back is the rounding's own,
// before clipping, so never more than 1.5 steps: a clipping signal cannot drive the loop, which
// stays as bounded as the filter is short.
// `kOrder`: the shaper's order when known at compile time, so that its taps unroll; else 0.
template <typename Real, typename Out, int kOrder>
void quantiseShaped(const float* in, std::ptrdiff_t stride, const float* noise, Out* out, std::size_t frames,
    const ShaperCoefficients& h, ShaperMemory& memory, std::uint64_t& clips, float& peak)
{
    constexpr int fraction = kFraction<Real>;
    constexpr std::int64_t half = std::int64_t{1} << (fraction - 1);
    constexpr std::int64_t wholeSteps = -(std::int64_t{1} << fraction);
    constexpr auto toFixed = static_cast<Real>(std::int64_t{1} << fraction);
    constexpr auto lowest = static_cast<std::int64_t>(Grid<Real>::low),
                   highest = static_cast<std::int64_t>(Grid<Real>::high);
    const int order = kOrder > 0 ? kOrder : h.order;
    std::int64_t* const past = memory.errors; // twice over: past[at + 1 … at + order] are the last, oldest first
    int at = memory.at;
    std::int64_t last = past[at + order];
    std::uint64_t clipped = 0; // counted here rather than in `clips`, which the stores might alias
    float top = peak;
    for (std::size_t f = 0; f < frames; ++f) {
        const float x = in[f * stride];
        const float magnitude = std::fabs(x);
        top = magnitude > top ? magnitude : top;
        const Real scaled = static_cast<Real>(x) * Grid<Real>::scale;
        clipped += static_cast<unsigned>(scaled >= Grid<Real>::high + Real(0.5))
            | static_cast<unsigned>(scaled < Grid<Real>::low - Real(0.5));
        std::int64_t error = 0, level = 0; // silence: nothing, and the memory drains
        if (magnitude > 0) {
            const Real held
                = std::min(std::max(scaled, Grid<Real>::low - kHeadroom<Real>), Grid<Real>::high + kHeadroom<Real>);
            std::int64_t wanted = static_cast<std::int64_t>(held * toFixed);
#pragma GCC unroll 16
            for (int k = order; k >= 2; --k) wanted -= h.fixed[k - 1] * past[at + order + 1 - k];
            wanted -= h.fixed[0] * last; // the one term that waits on the previous sample
            const std::int64_t dithered
                = wanted + static_cast<std::int64_t>(static_cast<Real>(noise[f * stride]) * toFixed);
            const std::int64_t rounded = (dithered + half) & wholeSteps; // nearest step, halves up
            error = rounded - wanted;
            level = std::min(std::max(rounded >> fraction, lowest), highest);
        }
        if constexpr (std::is_same_v<Out, std::int16_t>)
            out[f * stride] = static_cast<std::int16_t>(level);
        else
            out[f * stride] = static_cast<float>(static_cast<Real>(level) / Grid<Real>::scale);
        last = error >> kCoefficientBits;
        at = at + 1 == order ? 0 : at + 1;
        past[at] = past[at + order] = last;
    }
    memory.at = at;
    clips += clipped;
    peak = top;
}

} // namespace

template <typename Real, typename Out> void Quantiser::quantiseChunk(const float* in, Out* out, std::size_t frames)
{
    const std::size_t channels = channelCount_;
    const std::size_t count = frames * channels;
    const float* noise = nullptr;
    if (dither_ != Dither::none) {
        for (std::size_t c = 0; c < channels; ++c) channels_[c]->takeNoise(noiseScratch_.data() + c, channels, frames);
        noise = noiseScratch_.data();
    }
    if (shaper_ != nullptr) {
        for (std::size_t c = 0; c < channels; ++c) {
            const auto stride = static_cast<std::ptrdiff_t>(channels);
            ShaperMemory& memory = channels_[c]->shaper;
            switch (coefficients_->order) {
            case 4:
                quantiseShaped<Real, Out, 4>(
                    in + c, stride, noise + c, out + c, frames, *coefficients_, memory, clips_, peak_);
                break;
            case 6:
                quantiseShaped<Real, Out, 6>(
                    in + c, stride, noise + c, out + c, frames, *coefficients_, memory, clips_, peak_);
                break;
            case 9:
                quantiseShaped<Real, Out, 9>(
                    in + c, stride, noise + c, out + c, frames, *coefficients_, memory, clips_, peak_);
                break;
            case 12:
                quantiseShaped<Real, Out, 12>(
                    in + c, stride, noise + c, out + c, frames, *coefficients_, memory, clips_, peak_);
                break;
            default:
                quantiseShaped<Real, Out, 0>(
                    in + c, stride, noise + c, out + c, frames, *coefficients_, memory, clips_, peak_);
            }
        }
        return;
    }
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Out, std::int16_t>) {
        if (!reference_) {
            quantiseFlatInt16(in, noise, out, count, clips_, peak_);
            return;
        }
    }
#endif
    quantiseFlat<Real>(in, noise, out, count, clips_, peak_);
}

} // namespace fennick
