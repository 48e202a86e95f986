#include "Quantiser.h"

#include "DitherNoise.h"
#include "OutputPass.h"
#include "SimdLanes.h"
#include "WiderVectors.h"

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
constexpr std::size_t kNoiseBuffer = 32 * kLanes;
constexpr std::size_t kRow = 8; // samples in a step of the vector passes

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

// Already on the grid, inside full scale: such a sample needs no rounding and gets no dither.
template <typename Real> inline bool onGrid(Real scaled)
{
    return scaled >= Grid<Real>::low && scaled <= Grid<Real>::high && roundToStep(scaled) == scaled;
}

// Values are held this far beyond full scale before rounding: enough that the shaped noise never
// brings a clipped value back inside, little enough that rounding stays exact.
template <typename Real> constexpr Real kHeadroom = 1024;

// The shaper works in fixed point: its loop runs through one multiplication and a few integer
// operations from sample to sample, where floating point would wait on four dependent additions,
// and integers give the same bytes on every machine. Samples carry kFraction fractional bits (as
// many as keep full scale and headroom inside 63 bits). The value to be rounded is cut to
// kErrorBits fractional bits, so every error is exact in 16 bits of that precision and nothing of
// the feedback escapes the shaping. The first two taps multiply 64-bit values; the rest are one
// pmaddwd of those 16-bit errors with 16-bit coefficients of kCoefficientBits fractional bits
// (as the tables hold them), whose sum, below 40 × 1.5 × 2^25, fits 32 bits.
template <typename Real> constexpr int kFraction = std::is_same_v<Real, float> ? 44 : 36;
// The held sample enters the loop as 32 bits with this many fractional bits; the dither with 16.
template <typename Real> constexpr int kSampleBits = std::is_same_v<Real, float> ? 15 : 7;
constexpr int kNoiseBits = 16;
constexpr std::int32_t kSilent = INT32_MIN; // in place of the dither: the sample is on the grid (or zero)
constexpr int kCoefficientBits = 11, kErrorBits = 14;
constexpr int kMaxShaperOrder = 18; // two taps and two rows of eight
constexpr int kSilenceRun = 32; // samples on the grid in a row that count as silence

// The errors before the last, newest first, as 16-bit values in two rows of eight lanes.
class OlderErrors {
public:
    explicit OlderErrors(const std::int16_t* values)
    {
#if defined(__SSE2__)
        rows_[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
        rows_[1] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8));
#else
        std::copy(values, values + 16, values_);
#endif
    }
    void save(std::int16_t* values) const
    {
#if defined(__SSE2__)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values), rows_[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + 8), rows_[1]);
#else
        std::copy(values_, values_ + 16, values);
#endif
    }

    // Σ taps[i] · error[i] over the first `kRows` rows, exact in 32 bits.
    template <int kRows> std::int32_t dot(const OlderErrors& taps) const
    {
#if defined(__SSE2__)
        __m128i sum = _mm_madd_epi16(rows_[0], taps.rows_[0]);
        if constexpr (kRows == 2) sum = _mm_add_epi32(sum, _mm_madd_epi16(rows_[1], taps.rows_[1]));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm_cvtsi128_si32(sum);
#else
        std::int32_t sum = 0;
        for (int i = 0; i < 8 * kRows; ++i) sum += std::int32_t{values_[i]} * taps.values_[i];
        return sum;
#endif
    }

    // `newest` enters at the front; the oldest leaves.
    template <int kRows> void push(std::int16_t newest)
    {
#if defined(__SSE2__)
        if constexpr (kRows == 2) {
            rows_[1] = _mm_insert_epi16(_mm_slli_si128(rows_[1], 2), _mm_extract_epi16(rows_[0], 7), 0);
        }
        rows_[0] = _mm_insert_epi16(_mm_slli_si128(rows_[0], 2), newest, 0);
#else
        std::copy_backward(values_, values_ + 8 * kRows - 1, values_ + 8 * kRows);
        values_[0] = newest;
#endif
    }

private:
#if defined(__SSE2__)
    __m128i rows_[2];
#else
    std::int16_t values_[16];
#endif
};

// A shaper's memory: the last two errors in full, the sixteen before them as OlderErrors holds them.
struct ShaperMemory {
    std::int64_t last = 0, beforeLast = 0;
    std::int16_t older[16] = {};
    int zeroErrors = kMaxShaperOrder; // errors of exactly zero in a row: at least the order means drained
    int onGridRun = 0; // samples on the grid in a row
};

} // namespace

// A shaper's coefficients, all with kCoefficientBits fractional bits.
struct ShaperCoefficients {
    int order = 0;
    std::int64_t first = 0, second = 0;
    std::int16_t taps[16] = {};
};

namespace {

std::uint64_t splitMix64(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

#if FENNICK_WIDER_PATHS
// Channel::refill's generators in one register of eight lanes.
[[gnu::target("avx2")]] void refillNoiseAvx2(
    std::uint32_t* xs, std::uint32_t* ys, std::uint32_t* zs, std::uint32_t* ws, float* buffer)
{
    // (A lambda would not take the function's target.)
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs));
    __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys));
    __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(zs));
    __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ws));
    const __m256i lowHalf = _mm256_set1_epi32(0xFFFF);
    const __m256 scale = _mm256_set1_ps(1.0f / 65536.0f);
    for (std::size_t step = 0; step < kNoiseBuffer / kLanes; ++step) {
        const __m256i t = _mm256_xor_si256(x, _mm256_slli_epi32(x, 11));
        x = y, y = z, z = w;
        w = _mm256_xor_si256(
            _mm256_xor_si256(w, _mm256_srli_epi32(w, 19)), _mm256_xor_si256(t, _mm256_srli_epi32(t, 8)));
        const __m256i difference = _mm256_sub_epi32(_mm256_srli_epi32(w, 16), _mm256_and_si256(w, lowHalf));
        _mm256_storeu_ps(buffer + step * kLanes, _mm256_mul_ps(_mm256_cvtepi32_ps(difference), scale));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs), x);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys), y);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(zs), z);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ws), w);
}
#endif

} // namespace

// One channel's noise and shaper memory.
class Quantiser::Channel {
public:
    // `wide`: whether to refill the noise with AVX2.
    Channel(std::uint64_t seed, unsigned channelIndex, bool wide) : wide_(wide)
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
            const std::size_t n = std::min(count, ready());
            if (stride == 1)
                std::copy(buffer_ + used_, buffer_ + used_ + n, out);
            else
                for (std::size_t i = 0; i < n; ++i) out[i * stride] = buffer_[used_ + i];
            used_ += n, out += n * stride, count -= n;
        }
    }

    // Up to `count` of the channel's next values, taken where they lie; `count` becomes how many.
    const float* take(std::size_t& count)
    {
        count = std::min(count, ready());
        const float* const values = buffer_ + used_;
        used_ += count;
        return values;
    }

    // The `count` values at `last` (the end of the buffer) and the next `more`, taken, in a row.
    const float* joinRow(const float* last, std::size_t count, std::size_t more)
    {
        std::copy(last, last + count, row_);
        const float* const next = take(more);
        std::copy(next, next + more, row_ + count);
        return row_;
    }

    // Two channels' next `count` values, interleaved. The two have always taken as many.
    static void takeNoise(Channel& first, Channel& second, float* out, std::size_t count)
    {
        while (count > 0) {
            const std::size_t n = std::min(count, first.ready());
            second.ready();
            const float* a = first.buffer_ + first.used_;
            const float* b = second.buffer_ + second.used_;
            std::size_t i = 0;
#if defined(__SSE2__)
            for (; i + 4 <= n; i += 4) {
                const __m128 left = _mm_loadu_ps(a + i), right = _mm_loadu_ps(b + i);
                _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(left, right));
                _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(left, right));
            }
#endif
            for (; i < n; ++i) out[2 * i] = a[i], out[2 * i + 1] = b[i];
            first.used_ += n, second.used_ += n, out += 2 * n, count -= n;
        }
    }

    ShaperMemory shaper;

private:
    // Marsaglia's xorshift128 in kLanes lanes. Each output word gives two 16-bit uniforms; their
    // difference is triangular over (−1, 1) step, as libsoxr's dither is.
    void refill()
    {
#if FENNICK_WIDER_PATHS
        if (wide_) {
            refillNoiseAvx2(x_, y_, z_, w_, buffer_);
            used_ = 0;
            return;
        }
#endif
#if defined(__SSE2__)
        // The same in two registers of four lanes, the state held in registers throughout.
        __m128i x[2], y[2], z[2], w[2];
        for (int half = 0; half < 2; ++half) {
            x[half] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x_ + 4 * half));
            y[half] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_ + 4 * half));
            z[half] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z_ + 4 * half));
            w[half] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w_ + 4 * half));
        }
        const __m128i lowHalf = _mm_set1_epi32(0xFFFF);
        const __m128 scale = _mm_set1_ps(1.0f / 65536.0f);
        for (std::size_t step = 0; step < kNoiseBuffer / kLanes; ++step) {
            for (int half = 0; half < 2; ++half) {
                const __m128i t = _mm_xor_si128(x[half], _mm_slli_epi32(x[half], 11));
                x[half] = y[half], y[half] = z[half], z[half] = w[half];
                w[half] = _mm_xor_si128(
                    _mm_xor_si128(w[half], _mm_srli_epi32(w[half], 19)), _mm_xor_si128(t, _mm_srli_epi32(t, 8)));
                const __m128i difference = _mm_sub_epi32(_mm_srli_epi32(w[half], 16), _mm_and_si128(w[half], lowHalf));
                _mm_storeu_ps(buffer_ + step * kLanes + 4 * half, _mm_mul_ps(_mm_cvtepi32_ps(difference), scale));
            }
        }
        for (int half = 0; half < 2; ++half) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(x_ + 4 * half), x[half]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y_ + 4 * half), y[half]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(z_ + 4 * half), z[half]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w_ + 4 * half), w[half]);
        }
#else
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
#endif
        used_ = 0;
    }

    std::uint32_t x_[kLanes], y_[kLanes], z_[kLanes], w_[kLanes];
    float buffer_[kNoiseBuffer];
    float row_[kRow];
    std::size_t used_ = kNoiseBuffer;
    bool wide_;

    // How many values are ready, refilling when none are.
    std::size_t ready()
    {
        if (used_ == kNoiseBuffer) refill();
        return kNoiseBuffer - used_;
    }
};

Quantiser::Quantiser(QuantisedFormat format, Dither dither, double sampleRate, std::uint64_t seed,
    unsigned firstChannel, unsigned channels)
    : dither_(dither), shaper_(noiseShaperFor(dither, sampleRate)), channelCount_(channels),
      inScratch_(kChunkFrames * channels), noiseScratch_(kChunkFrames * channels), wide_(widerVectors()),
      masked_(maskedStores())
{
    if (shaper_ != nullptr) {
        coefficients_ = std::make_unique<ShaperCoefficients>();
        coefficients_->order = std::min(shaper_->order, kMaxShaperOrder);
        coefficients_->first = std::llround(shaper_->feedback[0] * (1 << kCoefficientBits));
        coefficients_->second = std::llround(shaper_->feedback[1] * (1 << kCoefficientBits));
        for (int k = 2; k < coefficients_->order; ++k) {
            coefficients_->taps[k - 2] = static_cast<std::int16_t>(
                std::lround(shaper_->feedback[static_cast<std::size_t>(k)] * (1 << kCoefficientBits)));
        }
    }
    for (unsigned c = 0; c < channels; ++c) {
        channels_.push_back(std::make_unique<Channel>(seed, firstChannel + c, wide_));
    }
    if (shaper_ != nullptr) {
        heldScratch_.resize(kChunkFrames * channels);
        ditherScratch_.resize(kChunkFrames * channels);
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
    const bool interleavedOut = out.channelStride == 1 || channels == 1;
    // The shaper stores each sample on its own, so it may store at any frame stride.
    const bool direct = interleavedOut && (out.frameStride == channels || shaper_ != nullptr);
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
        Out* const target = direct ? out.data + static_cast<std::ptrdiff_t>(done) * out.frameStride : scratch;
        quantiseChunk<Real>(source, target, direct ? out.frameStride : channels, n);
        if (!direct) {
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
        Real value = scaled + (noise != nullptr && !onGrid(scaled) ? static_cast<Real>(noise[i]) : Real(0));
        value = std::min(std::max(value, Grid<Real>::low - kHeadroom<Real>), Grid<Real>::high + kHeadroom<Real>);
        out[i] = store<Real, Out>(roundToStep(value));
    }
}

#if defined(__SSE2__)
// quantiseFlat for 16 bits, four samples at a time: cvtps2dq rounds as roundToStep does, and
// packssdw, where the caller packs two of these, clips to 16 bits.
class FlatInt16 {
public:
    explicit FlatInt16(float peak) : peaks_(_mm_set1_ps(peak)) { }

    __m128i operator()(__m128 x)
    {
        __m128 clipped;
        return round(scale(x, clipped), x);
    }
    __m128i operator()(__m128 x, __m128 noise)
    {
        __m128 clipped;
        const __m128 scaled = scale(x, clipped);
        // An integer whose rounding is not clipped lies within full scale: it is on the grid.
        const __m128 grid = _mm_andnot_ps(clipped, _mm_cmpeq_ps(_mm_cvtepi32_ps(_mm_cvtps_epi32(scaled)), scaled));
        return round(_mm_add_ps(scaled, _mm_andnot_ps(grid, noise)), x);
    }

    void finish(float& peak, std::uint64_t& clips) const { addLanes(peaks_, clipCounts_, peak, clips); }

private:
    // Measures x and gives it in steps; `clipped`: whose rounding lies beyond full scale.
    __m128 scale(__m128 x, __m128& clipped)
    {
        peaks_ = _mm_max_ps(_mm_and_ps(x, absMask()), peaks_); // keeps the peak when x is not a number
        const __m128 scaled = _mm_mul_ps(x, _mm_set1_ps(32768.0f));
        clipped = _mm_or_ps(_mm_cmpge_ps(scaled, _mm_set1_ps(32767.5f)), _mm_cmplt_ps(scaled, _mm_set1_ps(-32768.5f)));
        clipCounts_ = _mm_sub_epi32(clipCounts_, _mm_castps_si128(clipped));
        return scaled;
    }
    // `value` (in steps) held within the headroom and rounded; zero where x is zero or not a number.
    static __m128i round(__m128 value, __m128 x)
    {
        const __m128 keep = _mm_cmpgt_ps(_mm_and_ps(x, absMask()), _mm_setzero_ps());
        const __m128 held = _mm_min_ps(
            _mm_max_ps(value, _mm_set1_ps(-32768.0f - kHeadroom<float>)), _mm_set1_ps(32767.0f + kHeadroom<float>));
        return _mm_cvtps_epi32(_mm_and_ps(held, keep));
    }
    static __m128 absMask() { return _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)); }

    __m128 peaks_;
    __m128i clipCounts_ = _mm_setzero_si128();
};

void quantiseFlatInt16(
    const float* in, const float* noise, std::int16_t* out, std::size_t count, std::uint64_t& clips, float& peak)
{
    FlatInt16 flat(peak);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128 low = _mm_loadu_ps(in + i), high = _mm_loadu_ps(in + i + 4);
        const __m128i values = noise != nullptr
            ? _mm_packs_epi32(flat(low, _mm_loadu_ps(noise + i)), flat(high, _mm_loadu_ps(noise + i + 4)))
            : _mm_packs_epi32(flat(low), flat(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), values);
    }
    flat.finish(peak, clips);
    quantiseFlat<float>(in + i, noise != nullptr ? noise + i : nullptr, out + i, count - i, clips, peak);
}

// Eight 16-bit samples of `kChannels` interleaved channels, one store each: the frames between
// them belong to other groups, which may be storing theirs at the same time.
template <int kChannels>
inline void storeEach(__m128i values, std::int16_t* to, std::ptrdiff_t frameStride, std::ptrdiff_t channelStride)
{
    const auto at = [&](int k) { return to + (k / kChannels) * frameStride + (k % kChannels) * channelStride; };
    *at(0) = static_cast<std::int16_t>(_mm_extract_epi16(values, 0));
    *at(1) = static_cast<std::int16_t>(_mm_extract_epi16(values, 1));
    *at(2) = static_cast<std::int16_t>(_mm_extract_epi16(values, 2));
    *at(3) = static_cast<std::int16_t>(_mm_extract_epi16(values, 3));
    *at(4) = static_cast<std::int16_t>(_mm_extract_epi16(values, 4));
    *at(5) = static_cast<std::int16_t>(_mm_extract_epi16(values, 5));
    *at(6) = static_cast<std::int16_t>(_mm_extract_epi16(values, 6));
    *at(7) = static_cast<std::int16_t>(_mm_extract_epi16(values, 7));
}

// Eight 16-bit samples from `to` on: in one store where they are adjacent (`packed`), else each
// where the layout puts it.
template <int kChannels>
inline void storeEight(
    __m128i values, std::int16_t* to, std::ptrdiff_t frameStride, std::ptrdiff_t channelStride, bool packed)
{
    if (packed)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), values);
    else if (kChannels == 1 && frameStride == 2) // one of a stereo file's channels
        storeEach<kChannels>(values, to, 2, 1);
    else
        storeEach<kChannels>(values, to, frameStride, channelStride);
}

// The 16-bit levels the shaper left as 32 bits, `kChannels` of every `stride`, clipped by
// packssdw and stored.
template <int kChannels>
void storeLevels(
    const std::int32_t* levels, std::ptrdiff_t stride, std::int16_t* out, std::ptrdiff_t outStride, std::size_t frames)
{
    std::size_t f = 0;
    if (stride == kChannels) {
        constexpr std::size_t kStep = 8 / kChannels;
        for (; f + kStep <= frames; f += kStep) {
            const std::int32_t* const at = levels + f * kChannels;
            const __m128i values = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 4)));
            storeEight<kChannels>(
                values, out + static_cast<std::ptrdiff_t>(f) * outStride, outStride, 1, outStride == kChannels);
        }
    }
    for (; f < frames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            const std::int32_t level = levels[static_cast<std::ptrdiff_t>(f) * stride + c];
            out[static_cast<std::ptrdiff_t>(f) * outStride + c]
                = static_cast<std::int16_t>(std::clamp(level, -32768, 32767));
        }
    }
}
#if FENNICK_WIDER_PATHS
// Eight 16-bit samples to every other slot from `to` on, in two masked stores that leave the slots
// between (the other channel of a stereo file, stored meanwhile by another thread) unwritten.
[[gnu::target("avx512bw,avx512vl"), gnu::always_inline]] inline void storeEveryOther(__m128i values, std::int16_t* to)
{
    _mm_mask_storeu_epi16(to, 0x55, _mm_unpacklo_epi16(values, values));
    _mm_mask_storeu_epi16(to + 8, 0x55, _mm_unpackhi_epi16(values, values));
}

// storeLevels<1> for one channel of a stereo file.
[[gnu::target("avx512bw,avx512vl")]] void levelsEveryOther(
    const std::int32_t* levels, std::int16_t* out, std::size_t frames)
{
    std::size_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        storeEveryOther(_mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + f)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + f + 4))),
            out + 2 * f);
    }
    for (; f < frames; ++f) out[2 * f] = static_cast<std::int16_t>(std::clamp(levels[f], -32768, 32767));
}
#endif
constexpr bool kSse2 = true;
#else
constexpr bool kSse2 = false;
template <int kChannels>
void storeLevels(const std::int32_t*, std::ptrdiff_t, std::int16_t*, std::ptrdiff_t, std::size_t)
{
}
#endif

// Error feedback: the error each rounding made (dither included) is filtered by H and taken from
// the next samples, so the noise leaves shaped by 1 − H. The error fed back is the rounding's own,
// before clipping, so never more than 1.5 steps: a clipping signal cannot drive the loop, which
// stays as bounded as the filter is short.
// Everything of the shaper's work that does not wait on the previous sample, for a whole chunk:
// the peak and clip count, the held sample and the dither in fixed point, silence marked.
template <typename Real>
void prepareShaped(const float* in, const float* noise, std::int32_t* held, std::int32_t* dither, std::size_t count,
    std::uint64_t& clips, float& peak)
{
    constexpr auto toFixed = static_cast<Real>(1 << kSampleBits<Real>);
    std::size_t i = 0;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Real, float>) {
        const __m128 scale = _mm_set1_ps(Grid<float>::scale);
        const __m128 clipHigh = _mm_set1_ps(Grid<float>::high + 0.5f), clipLow = _mm_set1_ps(Grid<float>::low - 0.5f);
        const __m128 low = _mm_set1_ps(Grid<float>::low - kHeadroom<float>);
        const __m128 high = _mm_set1_ps(Grid<float>::high + kHeadroom<float>);
        const __m128 bottom = _mm_set1_ps(Grid<float>::low), top = _mm_set1_ps(Grid<float>::high);
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 heldScale = _mm_set1_ps(toFixed), noiseScale = _mm_set1_ps(1 << kNoiseBits);
        const __m128i silent = _mm_set1_epi32(kSilent);
        __m128 peaks = _mm_set1_ps(peak);
        __m128i clipCounts = _mm_setzero_si128();
        for (; i + 4 <= count; i += 4) {
            const __m128 x = _mm_loadu_ps(in + i);
            const __m128 magnitude = _mm_and_ps(x, absMask);
            peaks = _mm_max_ps(magnitude, peaks);
            const __m128 scaled = _mm_mul_ps(x, scale);
            const __m128 clipped = _mm_or_ps(_mm_cmpge_ps(scaled, clipHigh), _mm_cmplt_ps(scaled, clipLow));
            clipCounts = _mm_sub_epi32(clipCounts, _mm_castps_si128(clipped));
            const __m128 nonZero = _mm_cmpgt_ps(magnitude, _mm_setzero_ps()); // not zero, not a number
            const __m128 kept = _mm_mul_ps(_mm_min_ps(_mm_max_ps(scaled, low), high), heldScale);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(held + i), _mm_cvttps_epi32(_mm_and_ps(kept, nonZero)));
            const __m128 grid = _mm_and_ps(_mm_cmpeq_ps(_mm_cvtepi32_ps(_mm_cvtps_epi32(scaled)), scaled),
                _mm_and_ps(_mm_cmple_ps(scaled, top), _mm_cmpge_ps(scaled, bottom)));
            const __m128i sound = _mm_castps_si128(_mm_andnot_ps(grid, nonZero));
            const __m128i noiseSteps = _mm_cvttps_epi32(_mm_mul_ps(_mm_loadu_ps(noise + i), noiseScale));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dither + i),
                _mm_or_si128(_mm_and_si128(sound, noiseSteps), _mm_andnot_si128(sound, silent)));
        }
        addLanes(peaks, clipCounts, peak, clips);
    }
#endif
    for (; i < count; ++i) {
        const float magnitude = std::fabs(in[i]);
        peak = magnitude > peak ? magnitude : peak;
        const Real scaled = static_cast<Real>(in[i]) * Grid<Real>::scale;
        clips += scaled >= Grid<Real>::high + Real(0.5) || scaled < Grid<Real>::low - Real(0.5);
        const Real kept
            = std::min(std::max(scaled, Grid<Real>::low - kHeadroom<Real>), Grid<Real>::high + kHeadroom<Real>);
        held[i] = magnitude > 0 ? static_cast<std::int32_t>(kept * toFixed) : 0;
        dither[i]
            = magnitude > 0 && !onGrid(scaled) ? static_cast<std::int32_t>(noise[i] * (1 << kNoiseBits)) : kSilent;
    }
}

// `kRows`: how many rows of eight taps follow the first two, one or two. `held` and `dither` as
// prepareShaped leaves them.
// `kChannels`: one channel, or two side by side, whose independent loops the processor then
// overlaps. Channel c of frame f is at [f * stride + c].
template <typename Real, typename Out, int kRows, int kChannels>
void quantiseShaped(std::int32_t* held, const std::int32_t* dither, std::ptrdiff_t stride, Out* out,
    std::ptrdiff_t outStride, std::size_t frames, const ShaperCoefficients& h, ShaperMemory* const* memories,
    bool masked = false)
{
    constexpr int fraction = kFraction<Real>;
    constexpr std::int64_t half = std::int64_t{1} << (fraction - 1);
    constexpr std::int64_t wholeSteps = -(std::int64_t{1} << fraction);
    constexpr std::int64_t heldScale = std::int64_t{1} << (fraction - kSampleBits<Real>);
    constexpr std::int64_t ditherScale = std::int64_t{1} << (fraction - kNoiseBits);
    constexpr std::int64_t tapScale = std::int64_t{1} << (fraction - kCoefficientBits - kErrorBits);
    constexpr std::int64_t grid = -(std::int64_t{1} << (fraction - kErrorBits));
    const std::int64_t first = h.first * tapScale, second = h.second * tapScale;
    constexpr auto lowest = static_cast<std::int64_t>(Grid<Real>::low);
    constexpr auto highest = static_cast<std::int64_t>(Grid<Real>::high);
    // 16-bit levels are left in `held` unclipped, to be clipped and stored by packssdw after the
    // loop: fewer instructions in the loop that waits on every sample.
    constexpr bool packLater = std::is_same_v<Out, std::int16_t> && kSse2;
    const OlderErrors taps(h.taps);
    OlderErrors older[2] = {OlderErrors(memories[0]->older), OlderErrors(memories[kChannels - 1]->older)};
    std::int64_t last[2] = {memories[0]->last, memories[kChannels - 1]->last};
    std::int64_t beforeLast[2] = {memories[0]->beforeLast, memories[kChannels - 1]->beforeLast};
    int zeroErrors[2] = {memories[0]->zeroErrors, memories[kChannels - 1]->zeroErrors};
    int onGridRun[2] = {memories[0]->onGridRun, memories[kChannels - 1]->onGridRun};
    std::int32_t* frame = held;
    const std::int32_t* frameDither = dither;
    for (std::size_t f = 0; f < frames; ++f, frame += stride, frameDither += stride) {
        for (int c = 0; c < kChannels; ++c) {
            // Taps 3 and on use errors from three samples back and more, ready two samples early.
            const std::int64_t fromOlder = std::int64_t{older[c].dot<kRows>(taps)} * tapScale;
            older[c].push<kRows>(static_cast<std::int16_t>(beforeLast[c]));
            const std::int32_t noise = frameDither[c];
            const std::int32_t sample = frame[c];
            // A sample on the grid passes as it is, with no error so the memory drains, only where
            // nothing is being fed back or inside a run of them (silence). A lone one amid sound, such
            // as a zero crossing, is shaped like its neighbours: passing it would drop the loud
            // high-frequency noise at that sample and spread it into the audible band.
            const bool silent = noise == kSilent;
            onGridRun[c] = silent ? std::min(onGridRun[c] + 1, kSilenceRun) : 0;
            std::int64_t error = 0, level = sample >> kSampleBits<Real>;
            if (!silent || (zeroErrors[c] < kMaxShaperOrder && onGridRun[c] < kSilenceRun)) {
                // All but the last error's part first: the loop waits on that one alone.
                const std::int64_t early = std::int64_t{sample} * heldScale - fromOlder - second * beforeLast[c];
                const std::int64_t stepAndHalf = (silent ? 0 : noise * ditherScale) + half;
                const std::int64_t wanted = (early - first * last[c]) & grid;
                const std::int64_t rounded = (wanted + stepAndHalf) & wholeSteps; // nearest, halves up
                error = rounded - wanted;
                level = rounded >> fraction;
                if constexpr (!packLater) level = std::min(std::max(level, lowest), highest);
            }
            zeroErrors[c] = error == 0 ? std::min(zeroErrors[c] + 1, kMaxShaperOrder) : 0;
            if constexpr (packLater) {
                frame[c] = static_cast<std::int32_t>(level);
            } else if constexpr (std::is_same_v<Out, std::int16_t>) {
                out[static_cast<std::ptrdiff_t>(f) * outStride + c] = static_cast<std::int16_t>(level);
            } else {
                out[static_cast<std::ptrdiff_t>(f) * outStride + c]
                    = static_cast<float>(static_cast<Real>(level) / Grid<Real>::scale);
            }
            beforeLast[c] = last[c];
            last[c] = error >> (fraction - kErrorBits); // exact
        }
    }
    for (int c = 0; c < kChannels; ++c) {
        older[c].save(memories[c]->older);
        memories[c]->last = last[c];
        memories[c]->beforeLast = beforeLast[c];
        memories[c]->zeroErrors = zeroErrors[c];
        memories[c]->onGridRun = onGridRun[c];
    }
    if constexpr (packLater) {
#if FENNICK_WIDER_PATHS
        if (kChannels == 1 && stride == 1 && outStride == 2 && masked) return levelsEveryOther(held, out, frames);
#else
        (void)masked;
#endif
        storeLevels<kChannels>(held, stride, out, outStride, frames);
    }
}

} // namespace

template <typename Real, typename Out>
void Quantiser::quantiseChunk(const float* in, Out* out, std::ptrdiff_t outStride, std::size_t frames)
{
    const std::size_t channels = channelCount_;
    const std::size_t count = frames * channels;
    const float* noise = nullptr;
    if (dither_ != Dither::none) {
        if (channels == 2) {
            Channel::takeNoise(*channels_[0], *channels_[1], noiseScratch_.data(), frames);
        } else {
            for (std::size_t c = 0; c < channels; ++c)
                channels_[c]->takeNoise(noiseScratch_.data() + c, channels, frames);
        }
        noise = noiseScratch_.data();
    }
    if (shaper_ != nullptr) {
        std::int32_t* const held = heldScratch_.data();
        std::int32_t* const dither = ditherScratch_.data();
        prepareShaped<Real>(in, noise, held, dither, count, clips_, peak_);
        const auto stride = static_cast<std::ptrdiff_t>(channels);
        const bool twoRows = coefficients_->order > 10;
        if (channels == 2) {
            ShaperMemory* const memories[] = {&channels_[0]->shaper, &channels_[1]->shaper};
            if (twoRows)
                quantiseShaped<Real, Out, 2, 2>(held, dither, stride, out, outStride, frames, *coefficients_, memories);
            else
                quantiseShaped<Real, Out, 1, 2>(held, dither, stride, out, outStride, frames, *coefficients_, memories);
        } else {
            for (std::size_t c = 0; c < channels; ++c) {
                ShaperMemory* const memory = &channels_[c]->shaper;
                if (twoRows) {
                    quantiseShaped<Real, Out, 2, 1>(
                        held + c, dither + c, stride, out + c, outStride, frames, *coefficients_, &memory, masked_);
                } else {
                    quantiseShaped<Real, Out, 1, 1>(
                        held + c, dither + c, stride, out + c, outStride, frames, *coefficients_, &memory, masked_);
                }
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

#if defined(__SSE2__)
namespace {

// Steps of the one-pass TPDF below: `in` the group's interleaved doubles and `out` its first
// sample from the first step's frame on, `first` and `second` the two channels' noise (the same for
// one channel), `packed` whether the steps' samples are adjacent in `out`.
struct FlatDoublesRun {
    const double* in;
    double gain;
    const float* first;
    const float* second;
    std::int16_t* out;
    std::ptrdiff_t frameStride, channelStride;
    bool packed;
};

// Eight 16-bit samples stored where the run's layout puts them, starting at frame `f`.
template <int kChannels> inline void storeStep(__m128i values, const FlatDoublesRun& run, std::size_t f)
{
    storeEight<kChannels>(values, run.out + static_cast<std::ptrdiff_t>(f) * run.frameStride, run.frameStride,
        run.channelStride, run.packed);
}

// `steps` steps of eight samples: each eight doubles become floats, take their noise and are
// rounded and stored.
template <int kChannels>
void flatDoublesSse2(const FlatDoublesRun& run, std::size_t steps, float& peak, std::uint64_t& clips)
{
    constexpr std::size_t kStep = kRow / kChannels; // frames in eight samples
    const __m128d factor = _mm_set1_pd(run.gain);
    FlatInt16 flat(peak);
    for (std::size_t s = 0; s < steps; ++s) {
        __m128 noiseLow, noiseHigh;
        if constexpr (kChannels == 1) {
            noiseLow = _mm_loadu_ps(run.first + s * kStep), noiseHigh = _mm_loadu_ps(run.first + s * kStep + 4);
        } else {
            const __m128 a = _mm_loadu_ps(run.first + s * kStep), b = _mm_loadu_ps(run.second + s * kStep);
            noiseLow = _mm_unpacklo_ps(a, b), noiseHigh = _mm_unpackhi_ps(a, b);
        }
        const double* const at = run.in + s * kRow;
        // As doublesToFloats makes them.
        const __m128 low = _mm_movelh_ps(
            _mm_cvtpd_ps(_mm_mul_pd(_mm_loadu_pd(at), factor)), _mm_cvtpd_ps(_mm_mul_pd(_mm_loadu_pd(at + 2), factor)));
        const __m128 high = _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(_mm_loadu_pd(at + 4), factor)),
            _mm_cvtpd_ps(_mm_mul_pd(_mm_loadu_pd(at + 6), factor)));
        storeStep<kChannels>(_mm_packs_epi32(flat(low, noiseLow), flat(high, noiseHigh)), run, s * kStep);
    }
    flat.finish(peak, clips);
}

#if FENNICK_WIDER_PATHS
// One step of flatDoublesSse2, the eight samples in one register: FlatInt16's operations lane for
// lane, so the same bytes. Gives them rounded and packed to 16 bits.
template <int kChannels>
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i flatStepAvx2(
    const FlatDoublesRun& run, std::size_t s, __m256& peaks, __m256i& clipCounts)
{
    constexpr std::size_t kStep = kRow / kChannels;
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 scale = _mm256_set1_ps(32768.0f), clipHigh = _mm256_set1_ps(32767.5f);
    const __m256 clipLow = _mm256_set1_ps(-32768.5f);
    const __m256 low = _mm256_set1_ps(-32768.0f - kHeadroom<float>), high = _mm256_set1_ps(32767.0f + kHeadroom<float>);
    const __m256d factor = _mm256_set1_pd(run.gain);
    __m256 noise;
    if constexpr (kChannels == 1) {
        noise = _mm256_loadu_ps(run.first + s * kStep);
    } else {
        const __m128 a = _mm_loadu_ps(run.first + s * kStep), b = _mm_loadu_ps(run.second + s * kStep);
        noise = _mm256_set_m128(_mm_unpackhi_ps(a, b), _mm_unpacklo_ps(a, b));
    }
    const double* const at = run.in + s * kRow;
    const __m256 x = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_mul_pd(_mm256_loadu_pd(at + 4), factor)),
        _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_loadu_pd(at), factor)));
    const __m256 magnitude = _mm256_and_ps(x, absMask);
    peaks = _mm256_max_ps(magnitude, peaks);
    const __m256 scaled = _mm256_mul_ps(x, scale);
    const __m256 clipped
        = _mm256_or_ps(_mm256_cmp_ps(scaled, clipHigh, _CMP_GE_OS), _mm256_cmp_ps(scaled, clipLow, _CMP_LT_OS));
    clipCounts = _mm256_sub_epi32(clipCounts, _mm256_castps_si256(clipped));
    const __m256 grid
        = _mm256_andnot_ps(clipped, _mm256_cmp_ps(_mm256_cvtepi32_ps(_mm256_cvtps_epi32(scaled)), scaled, _CMP_EQ_OQ));
    const __m256 value = _mm256_add_ps(scaled, _mm256_andnot_ps(grid, noise));
    const __m256 keep = _mm256_cmp_ps(magnitude, _mm256_setzero_ps(), _CMP_GT_OS);
    const __m256i rounded = _mm256_cvtps_epi32(_mm256_and_ps(_mm256_min_ps(_mm256_max_ps(value, low), high), keep));
    return _mm_packs_epi32(_mm256_castsi256_si128(rounded), _mm256_extracti128_si256(rounded, 1));
}

[[gnu::target("avx2")]] inline void finishAvx2(__m256 peaks, __m256i clipCounts, float& peak, std::uint64_t& clips)
{
    addLanes(_mm_max_ps(_mm256_castps256_ps128(peaks), _mm256_extractf128_ps(peaks, 1)),
        _mm_add_epi32(_mm256_castsi256_si128(clipCounts), _mm256_extracti128_si256(clipCounts, 1)), peak, clips);
}

template <int kChannels>
[[gnu::target("avx2")]] void flatDoublesAvx2(
    const FlatDoublesRun& run, std::size_t steps, float& peak, std::uint64_t& clips)
{
    __m256 peaks = _mm256_set1_ps(peak);
    __m256i clipCounts = _mm256_setzero_si256();
    for (std::size_t s = 0; s < steps; ++s)
        storeStep<kChannels>(flatStepAvx2<kChannels>(run, s, peaks, clipCounts), run, s * (kRow / kChannels));
    finishAvx2(peaks, clipCounts, peak, clips);
}

// One channel of a stereo file: each step's eight samples stored by storeEveryOther, where storeEach
// takes eight stores.
[[gnu::target("avx2,avx512bw,avx512vl")]] void everyOtherAvx512(
    const FlatDoublesRun& run, std::size_t steps, float& peak, std::uint64_t& clips)
{
    __m256 peaks = _mm256_set1_ps(peak);
    __m256i clipCounts = _mm256_setzero_si256();
    for (std::size_t s = 0; s < steps; ++s) {
        storeEveryOther(
            flatStepAvx2<1>(run, s, peaks, clipCounts), run.out + static_cast<std::ptrdiff_t>(s * kRow) * 2);
    }
    finishAvx2(peaks, clipCounts, peak, clips);
}
#endif

} // namespace
#endif

void Quantiser::process(const double* in, double gain, SampleLayout<std::int16_t> out, std::size_t frames)
{
#if defined(__SSE2__)
    if (!reference_ && dither_ != Dither::none && shaper_ == nullptr) {
        if (channelCount_ == 1) return quantiseDoublesFlat<1>(in, gain, out, frames);
        if (channelCount_ == 2) return quantiseDoublesFlat<2>(in, gain, out, frames);
    }
#endif
    // Otherwise a chunk at a time through the float entry, the chunk's floats still in cache. They
    // are packed, so that entry leaves inScratch_ alone.
    const std::size_t channels = channelCount_;
    for (std::size_t done = 0; done < frames; done += kChunkFrames) {
        const std::size_t n = std::min(kChunkFrames, frames - done);
        doublesToFloats(in + done * channels, n * channels, gain, inScratch_.data());
        processBlock<std::int16_t>({inScratch_.data(), static_cast<std::ptrdiff_t>(channels), 1},
            {out.data + static_cast<std::ptrdiff_t>(done) * out.frameStride, out.frameStride, out.channelStride}, n);
    }
}

// TPDF for one or two channels in one pass, a run of steps of eight samples at a time: as many as
// the channels' noise buffers hold, then one step across their refill.
template <int kChannels>
void Quantiser::quantiseDoublesFlat(const double* in, double gain, SampleLayout<std::int16_t> out, std::size_t frames)
{
#if defined(__SSE2__)
    auto steps = flatDoublesSse2<kChannels>;
#if FENNICK_WIDER_PATHS
    if (wide_) steps = flatDoublesAvx2<kChannels>;
#endif
    const bool packed = out.frameStride == kChannels && (kChannels == 1 || out.channelStride == 1);
#if FENNICK_WIDER_PATHS
    if (kChannels == 1 && out.frameStride == 2 && masked_) steps = everyOtherAvx512;
#endif
    constexpr std::size_t kStep = kRow / kChannels; // frames in eight samples
    const auto runAt = [&](std::size_t f, const float* first, const float* second) {
        return FlatDoublesRun{in + f * kChannels, gain, first, second,
            out.data + static_cast<std::ptrdiff_t>(f) * out.frameStride, out.frameStride, out.channelStride, packed};
    };
    Channel& left = *channels_[0];
    Channel& right = *channels_[kChannels - 1];
    std::size_t f = 0;
    while (f + kStep <= frames) {
        std::size_t n = (frames - f) / kStep * kStep;
        const float* const first = left.take(n);
        const float* second = first;
        if constexpr (kChannels == 2) {
            std::size_t same = n; // the two have always taken as many
            second = right.take(same);
        }
        const std::size_t whole = n / kStep * kStep;
        steps(runAt(f, first, second), whole / kStep, peak_, clips_);
        f += whole;
        if (whole < n) { // the rest of the buffers and the first of the next
            const std::size_t more = kStep - (n - whole);
            const float* const firstRow = left.joinRow(first + whole, n - whole, more);
            const float* const secondRow = kChannels == 2 ? right.joinRow(second + whole, n - whole, more) : firstRow;
            steps(runAt(f, firstRow, secondRow), 1, peak_, clips_);
            f += kStep;
        }
    }
    for (; f < frames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            const float x = static_cast<float>(in[f * kChannels + static_cast<std::size_t>(c)] * gain);
            std::size_t one = 1;
            quantiseFlat<float>(&x, channels_[static_cast<std::size_t>(c)]->take(one),
                out.data + static_cast<std::ptrdiff_t>(f) * out.frameStride + c * out.channelStride, 1, clips_, peak_);
        }
    }
#else
    (void)in, (void)gain, (void)out, (void)frames;
#endif
}

} // namespace fennick
