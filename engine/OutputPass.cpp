#include "OutputPass.h"

#include "SimdLanes.h"
#include "WiderVectors.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fennick {

namespace {

// A pass works through a block this many samples at a time; a group that does not fill whole
// frames of the output stores through a buffer of this size, which stays in the first-level cache.
constexpr std::size_t kChunkSamples = 512;

constexpr double kInt16Scale = 32768.0;
constexpr double kRoundingMagic = 6755399441055744.0; // 1.5 × 2^52: adding and taking it away rounds to an integer

// Copies frames of `channels` samples from a stride of `inStride` to one of `outStride`. A count known
// at compile time (as it is for the usual groups) makes a few moves a frame instead of a memcpy call.
template <unsigned kChannels, typename Sample>
void copyFramesOf(const Sample* in, std::ptrdiff_t inStride, std::size_t frames, Sample* out, std::ptrdiff_t outStride)
{
    for (std::size_t f = 0; f < frames; ++f) {
        const auto at = static_cast<std::ptrdiff_t>(f);
        for (unsigned c = 0; c < kChannels; ++c) out[at * outStride + c] = in[at * inStride + c];
    }
}

template <typename Sample>
void copyFrames(const Sample* in, std::ptrdiff_t inStride, std::size_t frames, unsigned channels, Sample* out,
    std::ptrdiff_t outStride)
{
    switch (channels) {
    case 1: return copyFramesOf<1>(in, inStride, frames, out, outStride);
    case 2: return copyFramesOf<2>(in, inStride, frames, out, outStride);
    case 3: return copyFramesOf<3>(in, inStride, frames, out, outStride);
    case 4: return copyFramesOf<4>(in, inStride, frames, out, outStride);
    default: break;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        const auto at = static_cast<std::ptrdiff_t>(f);
        for (unsigned c = 0; c < channels; ++c) out[at * outStride + c] = in[at * inStride + c];
    }
}

// The per-sample steps of the float pass on packed samples.
float floatsScalar(
    const float* in, std::size_t count, float gain, float high, float* out, float peak, std::uint64_t& beyond)
{
    for (std::size_t i = 0; i < count; ++i) {
        float sample = in[i];
        if (gain != 1.0f) sample *= gain;
        out[i] = sample;
        peak = std::max(peak, std::fabs(sample));
        beyond += static_cast<std::uint64_t>(sample >= high || sample < -1.0f);
    }
    return peak;
}

#if defined(__SSE2__)
// Four at a time, to the bit the same as floatsScalar: maxps(a, peak) keeps peak when a is NaN,
// as std::max(peak, a) does; a product by exactly 1 is the sample itself.
float floatsVector(
    const float* in, std::size_t count, float gain, float high, float* out, float peak, std::uint64_t& beyond)
{
    const __m128 factor = _mm_set1_ps(gain), top = _mm_set1_ps(high), bottom = _mm_set1_ps(-1.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 peaks = _mm_set1_ps(peak);
    __m128i counts = _mm_setzero_si128(); // at most kChunkSamples / 4 per lane
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 sample = _mm_mul_ps(_mm_loadu_ps(in + i), factor);
        _mm_storeu_ps(out + i, sample);
        peaks = _mm_max_ps(_mm_and_ps(sample, magnitude), peaks);
        const __m128 over = _mm_or_ps(_mm_cmpge_ps(sample, top), _mm_cmplt_ps(sample, bottom));
        counts = _mm_sub_epi32(counts, _mm_castps_si128(over));
    }
    addLanes(peaks, counts, peak, beyond);
    return floatsScalar(in + i, count - i, gain, high, out + i, peak, beyond);
}
#endif

#if defined(__SSE2__)
// The float pass on `frames` packed frames of kChannels (at most a vector's), each stored at
// `stride` straight from the products. Another thread stores the other groups' samples between them into the same cache
// lines at the same time, so every store covers the group's own samples only (movss, movlps, movhps), never a whole
// vector read back and blended. The figures are floatsVector's: the products are measured as the same packed vectors.
template <unsigned kChannels>
float floatsStrided(const float* in, std::size_t frames, float gain, float high, float* out, std::ptrdiff_t stride,
    float peak, std::uint64_t& beyond)
{
    static_assert(kChannels >= 1 && kChannels <= 4);
    constexpr std::size_t kStep = kChannels == 4 ? 1 : kChannels == 2 ? 2 : 4; // frames a step: whole vectors
    const __m128 factor = _mm_set1_ps(gain), top = _mm_set1_ps(high), bottom = _mm_set1_ps(-1.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 peaks = _mm_set1_ps(peak);
    __m128i counts = _mm_setzero_si128(); // frames ≤ kChunkSamples: at most that many per lane
    const auto product = [&](const float* from) {
        const __m128 sample = _mm_mul_ps(_mm_loadu_ps(from), factor);
        peaks = _mm_max_ps(_mm_and_ps(sample, magnitude), peaks);
        const __m128 over = _mm_or_ps(_mm_cmpge_ps(sample, top), _mm_cmplt_ps(sample, bottom));
        counts = _mm_sub_epi32(counts, _mm_castps_si128(over));
        return sample;
    };
    const auto lane = [](__m128 v, int k) { // pshufd: no copy of v first, as shufps would need
        switch (k) {
        case 1: return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), 1));
        case 2: return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), 2));
        default: return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), 3));
        }
    };
    const auto lowPair = [](float* to, __m128 v) { _mm_storel_pi(reinterpret_cast<__m64*>(to), v); };
    const auto highPair = [](float* to, __m128 v) { _mm_storeh_pi(reinterpret_cast<__m64*>(to), v); };
    std::size_t f = 0;
    for (; f + kStep <= frames; f += kStep, in += kStep * kChannels, out += kStep * stride) {
        if constexpr (kChannels == 1) {
            const __m128 p = product(in);
            _mm_store_ss(out, p);
            _mm_store_ss(out + stride, lane(p, 1));
            _mm_store_ss(out + 2 * stride, lane(p, 2));
            _mm_store_ss(out + 3 * stride, lane(p, 3));
        } else if constexpr (kChannels == 2) {
            const __m128 p = product(in);
            lowPair(out, p);
            highPair(out + stride, p);
        } else if constexpr (kChannels == 4) {
            _mm_storeu_ps(out, product(in));
        } else { // frames a b c d: p0 = a0 a1 a2 b0, p1 = b1 b2 c0 c1, p2 = c2 d0 d1 d2
            const __m128 p0 = product(in), p1 = product(in + 4), p2 = product(in + 8);
            lowPair(out, p0);
            _mm_store_ss(out + 2, lane(p0, 2));
            _mm_store_ss(out + stride, lane(p0, 3));
            lowPair(out + stride + 1, p1);
            highPair(out + 2 * stride, p1);
            _mm_store_ss(out + 2 * stride + 2, p2);
            _mm_store_ss(out + 3 * stride, lane(p2, 1));
            highPair(out + 3 * stride + 1, p2);
        }
    }
    addLanes(peaks, counts, peak, beyond);
    for (; f < frames; ++f, in += kChannels, out += stride)
        peak = floatsScalar(in, kChannels, gain, high, out, peak, beyond);
    return peak;
}

#if FENNICK_WIDER_PATHS
// floatsStrided<1> for one channel of a stereo file: each four products go to every other float in
// two masked stores, which leave the other channel's floats unwritten, where it takes four stores.
[[gnu::target("avx512f,avx512vl")]] float floatsEveryOther(
    const float* in, std::size_t frames, float gain, float high, float* out, float peak, std::uint64_t& beyond)
{
    const __m128 factor = _mm_set1_ps(gain), top = _mm_set1_ps(high), bottom = _mm_set1_ps(-1.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 peaks = _mm_set1_ps(peak);
    __m128i counts = _mm_setzero_si128();
    std::size_t f = 0;
    for (; f + 4 <= frames; f += 4, in += 4, out += 8) {
        const __m128 sample = _mm_mul_ps(_mm_loadu_ps(in), factor);
        peaks = _mm_max_ps(_mm_and_ps(sample, magnitude), peaks);
        counts = _mm_sub_epi32(
            counts, _mm_castps_si128(_mm_or_ps(_mm_cmpge_ps(sample, top), _mm_cmplt_ps(sample, bottom))));
        _mm_mask_storeu_ps(out, 0x5, _mm_unpacklo_ps(sample, sample));
        _mm_mask_storeu_ps(out + 4, 0x5, _mm_unpackhi_ps(sample, sample));
    }
    addLanes(peaks, counts, peak, beyond);
    for (; f < frames; ++f, ++in, out += 2) peak = floatsScalar(in, 1, gain, high, out, peak, beyond);
    return peak;
}
#endif
#endif

// The per-sample steps of the 16-bit pass on packed samples; the peak in double, as libsoxr's values.
double int16Scalar(
    const double* in, std::size_t count, double gain, std::int16_t* out, double peak, std::uint64_t& beyond)
{
    for (std::size_t i = 0; i < count; ++i) {
        const double value = in[i] * gain;
        const double scaled = value * kInt16Scale;
        peak = std::max(peak, std::fabs(value));
        beyond += static_cast<std::uint64_t>(scaled >= 32767.5 || scaled < -32768.5);
        const double rounded = (std::min(std::max(scaled, -40000.0), 40000.0) + kRoundingMagic) - kRoundingMagic;
        out[i] = static_cast<std::int16_t>(std::min(std::max(rounded, -32768.0), 32767.0));
    }
    return peak;
}

#if defined(__SSE2__)
// Two doubles a lane pair, four samples a step. std::max(x, bound) is maxpd(bound, x) and
// std::min(x, bound) minpd(bound, x), NaN included; the clamped value is whole, so the truncating
// conversion is exact.
double int16Vector(
    const double* in, std::size_t count, double gain, std::int16_t* out, double peak, std::uint64_t& beyond)
{
    const __m128d factor = _mm_set1_pd(gain), scale = _mm_set1_pd(kInt16Scale);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m128d clipHigh = _mm_set1_pd(32767.5), clipLow = _mm_set1_pd(-32768.5);
    const __m128d wideLow = _mm_set1_pd(-40000.0), wideHigh = _mm_set1_pd(40000.0);
    const __m128d low = _mm_set1_pd(-32768.0), high = _mm_set1_pd(32767.0), magic = _mm_set1_pd(kRoundingMagic);
    __m128d peaks = _mm_set1_pd(peak);
    __m128i counts = _mm_setzero_si128();
    const auto step = [&](const double* from) {
        const __m128d value = _mm_mul_pd(_mm_loadu_pd(from), factor);
        const __m128d scaled = _mm_mul_pd(value, scale);
        peaks = _mm_max_pd(_mm_and_pd(value, magnitude), peaks);
        const __m128d over = _mm_or_pd(_mm_cmpge_pd(scaled, clipHigh), _mm_cmplt_pd(scaled, clipLow));
        counts = _mm_sub_epi64(counts, _mm_castpd_si128(over));
        const __m128d held = _mm_min_pd(wideHigh, _mm_max_pd(wideLow, scaled));
        const __m128d rounded = _mm_sub_pd(_mm_add_pd(held, magic), magic);
        return _mm_cvttpd_epi32(_mm_min_pd(high, _mm_max_pd(low, rounded)));
    };
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i first = step(in + i), second = step(in + i + 2);
        const __m128i four = _mm_unpacklo_epi64(first, second);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(four, four));
    }
    addLanes(peaks, counts, peak, beyond);
    return int16Scalar(in + i, count - i, gain, out + i, peak, beyond);
}
#endif

// Calls `step(done, n)` for the chunks of `chunkFrames` frames that make up `frames`, starting with
// the one that holds `startFrame`: groups that share the output's cache lines start at different
// places so as not to write the same lines at once.
template <typename Step> void eachChunk(std::size_t frames, std::size_t chunkFrames, std::size_t startFrame, Step step)
{
    const std::size_t chunks = (frames + chunkFrames - 1) / chunkFrames;
    const std::size_t firstChunk = chunks > 0 ? std::min(startFrame, frames) / chunkFrames % chunks : 0;
    for (std::size_t k = 0; k < chunks; ++k) {
        const std::size_t done = (firstChunk + k) % chunks * chunkFrames;
        step(done, std::min(chunkFrames, frames - done));
    }
}

// Runs `kernel` over whole frames, a chunk at a time: straight into `out` when its frames are
// packed, else through a buffer that is then stored at the stride.
template <typename In, typename Out, typename Kernel>
void chunked(const In* in, std::size_t frames, unsigned channels, StridedOut<Out> out, Kernel kernel)
{
    if (out.frameStride == static_cast<std::ptrdiff_t>(channels)) {
        kernel(in, frames * channels, out.data);
        return;
    }
    const std::size_t chunkFrames = std::max<std::size_t>(1, kChunkSamples / channels);
    alignas(16) Out buffer[kChunkSamples];
    Out* const staging = channels <= kChunkSamples ? buffer : nullptr;
    eachChunk(frames, chunkFrames, out.startFrame, [&](std::size_t done, std::size_t n) {
        Out* const to = out.data + static_cast<std::ptrdiff_t>(done) * out.frameStride;
        if (staging == nullptr) { // a frame wider than the buffer: one frame at a time, in place
            kernel(in + done * channels, channels, to);
            return;
        }
        kernel(in + done * channels, n * channels, staging);
        copyFrames<Out>(staging, channels, n, channels, to, out.frameStride);
    });
}

} // namespace

void passFloats(const float* in, std::size_t frames, unsigned channels, float gain, float high, StridedOut<float> out,
    PassFigures& figures)
{
#if defined(__SSE2__)
    float peak = figures.peak;
    std::uint64_t beyond = 0;
    if (channels <= 4 && out.frameStride != static_cast<std::ptrdiff_t>(channels)) {
        // A narrow group of a wider file: stored at the stride as it is measured, with no staging copy.
        const auto stride = out.frameStride;
        [[maybe_unused]] const bool masked = stride == 2 && maskedStores();
        eachChunk(frames, kChunkSamples, out.startFrame, [&](std::size_t done, std::size_t n) {
            const float* const from = in + done * channels;
            float* const to = out.data + static_cast<std::ptrdiff_t>(done) * stride;
            switch (channels) {
#if FENNICK_WIDER_PATHS
            case 1:
                peak = masked ? floatsEveryOther(from, n, gain, high, to, peak, beyond)
                              : floatsStrided<1>(from, n, gain, high, to, stride, peak, beyond);
                break;
#else
            case 1: peak = floatsStrided<1>(from, n, gain, high, to, stride, peak, beyond); break;
#endif
            case 2: peak = floatsStrided<2>(from, n, gain, high, to, stride, peak, beyond); break;
            case 3: peak = floatsStrided<3>(from, n, gain, high, to, stride, peak, beyond); break;
            default: peak = floatsStrided<4>(from, n, gain, high, to, stride, peak, beyond); break;
            }
        });
        figures.peak = peak;
        figures.beyond += beyond;
        return;
    }
    chunked(in, frames, channels, out, [&](const float* from, std::size_t count, float* to) {
        for (std::size_t i = 0; i < count; i += kChunkSamples) {
            const std::size_t n = std::min(kChunkSamples, count - i);
            peak = floatsVector(from + i, n, gain, high, to + i, peak, beyond);
        }
    });
    figures.peak = peak;
    figures.beyond += beyond;
#else
    passFloatsReference(in, frames, channels, gain, high, out, figures);
#endif
}

void passFloatsReference(const float* in, std::size_t frames, unsigned channels, float gain, float high,
    StridedOut<float> out, PassFigures& figures)
{
    for (std::size_t f = 0; f < frames; ++f) {
        figures.peak = floatsScalar(in + f * channels, channels, gain, high,
            out.data + static_cast<std::ptrdiff_t>(f) * out.frameStride, figures.peak, figures.beyond);
    }
}

void passInt16(const double* in, std::size_t frames, unsigned channels, double gain, StridedOut<std::int16_t> out,
    PassFigures& figures)
{
#if defined(__SSE2__)
    double peak = figures.peak;
    std::uint64_t beyond = 0;
    chunked(in, frames, channels, out, [&](const double* from, std::size_t count, std::int16_t* to) {
        peak = int16Vector(from, count, gain, to, peak, beyond);
    });
    figures.peak = static_cast<float>(peak);
    figures.beyond += beyond;
#else
    passInt16Reference(in, frames, channels, gain, out, figures);
#endif
}

void passInt16Reference(const double* in, std::size_t frames, unsigned channels, double gain,
    StridedOut<std::int16_t> out, PassFigures& figures)
{
    double peak = figures.peak;
    for (std::size_t f = 0; f < frames; ++f) {
        peak = int16Scalar(in + f * channels, channels, gain,
            out.data + static_cast<std::ptrdiff_t>(f) * out.frameStride, peak, figures.beyond);
    }
    figures.peak = static_cast<float>(peak);
}

void doublesToFloats(const double* in, std::size_t count, double gain, float* out)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d factor = _mm_set1_pd(gain);
    for (; i + 4 <= count; i += 4) {
        const __m128 low = _mm_cvtpd_ps(_mm_mul_pd(_mm_loadu_pd(in + i), factor));
        const __m128 high = _mm_cvtpd_ps(_mm_mul_pd(_mm_loadu_pd(in + i + 2), factor));
        _mm_storeu_ps(out + i, _mm_movelh_ps(low, high));
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<float>(in[i] * gain);
}

void takeChannels(const float* in, std::size_t frames, unsigned allChannels, unsigned first, unsigned count, float* out)
{
    std::size_t f = 0;
#if defined(__SSE2__)
    const auto from = [&](std::size_t frame) { return in + frame * allChannels + first; };
    if (allChannels == 2 && count == 1) {
        // One channel of a stereo pair: the even or the odd samples, four frames a step.
        for (; f + 4 <= frames; f += 4) {
            const __m128 low = _mm_loadu_ps(in + 2 * f), high = _mm_loadu_ps(in + 2 * f + 4);
            _mm_storeu_ps(out + f,
                first == 0 ? _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0))
                           : _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
        }
    } else if (count == 2) { // two frames' pairs a step
        for (; f + 2 <= frames; f += 2) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from(f)));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from(f + 1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * f), _mm_unpacklo_epi64(a, b));
        }
    } else if (count == 3) {
        // Four samples a frame, the fourth overwritten by the next frame's: it lies within the
        // block, and within `out`, for every frame but the last.
        for (; f + 2 <= frames; ++f) _mm_storeu_ps(out + 3 * f, _mm_loadu_ps(from(f)));
    } else if (count >= 4) { // four at a time, the last four of the frame overlapping the ones before
        for (; f < frames; ++f) {
            for (unsigned c = 0; c + 4 < count; c += 4) _mm_storeu_ps(out + f * count + c, _mm_loadu_ps(from(f) + c));
            _mm_storeu_ps(out + f * count + count - 4, _mm_loadu_ps(from(f) + count - 4));
        }
    }
#endif
    copyFrames<float>(in + f * allChannels + first, allChannels, frames - f, count, out + f * count, count);
}

} // namespace fennick
