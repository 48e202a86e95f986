#include "PackedSamples.h"

#include "WiderVectors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fennick {

namespace {

constexpr float kScale = 1.0f / 2147483648.0f;

// libsndfile's own conversion, to the bit: the three bytes become the top of an int, which is
// then scaled by 2^-31 (exact in float). Reads one byte past the sample; the shift drops it.
inline std::int32_t loadInt24(const unsigned char* in)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, in, 4);
    return static_cast<std::int32_t>(bits << 8);
}

#if FENNICK_WIDER_PATHS
// The byte shuffle that puts the 24-bit samples at `offsets` of a 16-byte row into the top three
// bytes of 32-bit lanes from `firstLane` on, the other lanes zero; the same in both halves.
[[gnu::target("avx2")]] __m256i int24Shuffle(std::size_t firstLane, std::initializer_list<std::size_t> offsets)
{
    alignas(32) char bytes[32];
    std::fill(bytes, bytes + 32, static_cast<char>(0x80)); // pshufb's zero
    std::size_t lane = firstLane;
    for (const std::size_t offset : offsets) {
        for (std::size_t k = 0; k < 3; ++k) {
            bytes[4 * lane + 1 + k] = bytes[16 + 4 * lane + 1 + k] = static_cast<char>(offset + k);
        }
        ++lane;
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
}

// Two 16-byte rows as one register.
[[gnu::target("avx2")]] inline __m256i rows(const unsigned char* low, const unsigned char* high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// As static_cast<float>(sample) * 2^-31 for eight samples: both exact, so to the bit the same.
[[gnu::target("avx2")]] inline void storeInt24Floats(float* out, __m256i samples)
{
    _mm256_storeu_ps(out, _mm256_mul_ps(_mm256_cvtepi32_ps(samples), _mm256_set1_ps(1.0f / 2147483648.0f)));
}

// The leading samples of unpackInt24, eight at a time, four from each 16-byte row: how many it did.
[[gnu::target("avx2")]] std::size_t unpackInt24Avx2(const unsigned char* in, std::size_t count, float* out)
{
    const __m256i shuffle = int24Shuffle(0, {0, 3, 6, 9});
    std::size_t i = 0;
    for (; i + 9 <= count; i += 8) // the second row ends 4 bytes past its samples
        storeInt24Floats(out + i, _mm256_shuffle_epi8(rows(in + 3 * i, in + 3 * i + 12), shuffle));
    return i;
}

// The leading frames of one channel of frames `stride` bytes apart (at most 12, so that a row holds
// two frames' samples) whose rows may be read while frames < `readable`, eight frames a step.
[[gnu::target("avx2")]] std::size_t unpackOneChannelAvx2(
    const unsigned char* in, std::size_t frames, std::size_t stride, std::size_t readable, float* out)
{
    const __m256i toFirst = int24Shuffle(0, {0, stride}), toSecond = int24Shuffle(2, {0, stride});
    const std::size_t end = std::min(frames, readable + 1); // the last step's last row is at f + 6
    std::size_t f = 0;
    for (; f + 8 <= end; f += 8) {
        const unsigned char* const at = in + f * stride;
        const __m256i first = _mm256_shuffle_epi8(rows(at, at + 4 * stride), toFirst);
        const __m256i second = _mm256_shuffle_epi8(rows(at + 2 * stride, at + 6 * stride), toSecond);
        storeInt24Floats(out + f, _mm256_or_si256(first, second));
    }
    return f;
}
#endif

// A 16-, 24- or 32-bit sample as the top of an int, as loadInt24 gives a 24-bit one: scaled by
// 2^-31 it is libsndfile's float to the bit (its 16-bit scale is 2^-15, exact either way).
template <unsigned kBytes> inline std::int32_t loadTopAligned(const unsigned char* in)
{
    if constexpr (kBytes == 3) {
        return loadInt24(in);
    } else if constexpr (kBytes == 2) {
        std::int16_t value = 0;
        std::memcpy(&value, in, 2);
        return std::int32_t{value} * 65536;
    } else {
        std::int32_t value = 0;
        std::memcpy(&value, in, 4);
        return value;
    }
}

// `count` adjacent channels of frames `stride` bytes apart, eight frames' loads first and then a
// conversion loop that vectorises.
template <unsigned kBytes>
void unpackStrided(const unsigned char* in, std::size_t frames, std::size_t stride, unsigned count, float* out)
{
    std::size_t f = 0;
    if (count == 1) {
        constexpr std::size_t kGroup = 8;
        for (; frames - f >= kGroup; f += kGroup, in += kGroup * stride, out += kGroup) {
            std::int32_t group[kGroup];
            for (std::size_t k = 0; k < kGroup; ++k) group[k] = loadTopAligned<kBytes>(in + k * stride);
            for (std::size_t k = 0; k < kGroup; ++k) out[k] = static_cast<float>(group[k]) * kScale;
        }
    }
    for (; f < frames; ++f, in += stride, out += count) {
        for (unsigned c = 0; c < count; ++c)
            out[c] = static_cast<float>(loadTopAligned<kBytes>(in + kBytes * c)) * kScale;
    }
}

// Unpacks `count` samples; `in` has one byte more than 3 × count.
void unpackInt24(const unsigned char* in, std::size_t count, float* out)
{
    std::size_t done = 0;
#if FENNICK_WIDER_PATHS
    if (widerVectors()) done = unpackInt24Avx2(in, count, out);
#endif
    unpackStrided<3>(in + 3 * done, count - done, 3, 1, out + done);
}

#if defined(__SSE2__)
// loadInt24 of the two samples in the first 6 of `bytes`' bytes, in the two low lanes.
inline __m128i int24Pair(__m128i bytes) { return _mm_unpacklo_epi32(bytes, _mm_srli_si128(bytes, 3)); }

// loadInt24 of the four samples at `in`, which has 16 bytes.
inline __m128i int24Four(const unsigned char* in)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    return _mm_slli_epi32(_mm_unpacklo_epi64(int24Pair(bytes), int24Pair(_mm_srli_si128(bytes, 6))), 8);
}

// loadInt24 of the three samples at `in`, which has 16 bytes; the fourth lane is not a sample.
inline __m128i int24Three(const unsigned char* in)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    return _mm_slli_epi32(_mm_unpacklo_epi64(int24Pair(bytes), _mm_srli_si128(bytes, 6)), 8);
}

// As static_cast<float>(sample) * 2^-31: both exact, so to the bit the same.
inline void storeInt24Floats(float* out, __m128i samples)
{
    _mm_storeu_ps(out, _mm_mul_ps(_mm_cvtepi32_ps(samples), _mm_set1_ps(1.0f / 2147483648.0f)));
}
#endif

void unpackInt16Channels(
    const unsigned char* in, std::size_t frames, unsigned allChannels, unsigned first, unsigned count, float* out)
{
    std::size_t f = 0;
#if defined(__SSE2__)
    const auto convert
        = [](__m128i topAligned) { return _mm_mul_ps(_mm_cvtepi32_ps(topAligned), _mm_set1_ps(kScale)); };
    if (count == allChannels) { // eight samples a step, each moved to the top of its lane
        const std::size_t samples = frames * count;
        for (; f + 8 <= samples; f += 8) {
            const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * f));
            _mm_storeu_ps(out + f, convert(_mm_unpacklo_epi16(_mm_setzero_si128(), values)));
            _mm_storeu_ps(out + f + 4, convert(_mm_unpackhi_epi16(_mm_setzero_si128(), values)));
        }
        unpackStrided<2>(in + 2 * f, samples - f, 2, 1, out + f);
        return;
    }
    if (allChannels == 2) { // one of a stereo pair, four frames a step: the low or the high half of each lane
        const __m128i highHalves = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
        for (; f + 4 <= frames; f += 4) {
            const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * f));
            _mm_storeu_ps(out + f, convert(first == 0 ? _mm_slli_epi32(pairs, 16) : _mm_and_si128(pairs, highHalves)));
        }
    }
#endif
    const std::size_t stride = 2 * std::size_t{allChannels};
    unpackStrided<2>(in + 2 * std::size_t{first} + f * stride, frames - f, stride, count, out + f * count);
}

void unpackInt32Channels(
    const unsigned char* in, std::size_t frames, unsigned allChannels, unsigned first, unsigned count, float* out)
{
    if (count == allChannels) return unpackStrided<4>(in, frames * count, 4, 1, out);
    const std::size_t stride = 4 * std::size_t{allChannels};
    unpackStrided<4>(in + 4 * std::size_t{first}, frames, stride, count, out);
}

void unpackInt24Channels(
    const unsigned char* in, std::size_t frames, unsigned allChannels, unsigned first, unsigned count, float* out)
{
    if (count == allChannels) return unpackInt24(in, frames * count, out);
    const std::size_t stride = 3 * std::size_t{allChannels};
    std::size_t f = 0;
#if defined(__SSE2__)
    // The leading frames whose group can be read `bytes` at a time from its first sample without
    // passing the byte after the block's last sample.
    const auto framesReading = [&](std::size_t bytes) -> std::size_t {
        const std::size_t available = frames * stride + 1, needed = 3 * std::size_t{first} + bytes;
        return available < needed ? 0 : std::min(frames, (available - needed) / stride + 1);
    };
    const unsigned char* const groupBytes = in + 3 * std::size_t{first};
#if FENNICK_WIDER_PATHS
    if (count == 1 && allChannels <= 4 && widerVectors())
        f = unpackOneChannelAvx2(groupBytes, frames, stride, framesReading(16), out);
#endif
    if (count == 2) { // two frames' pairs a step
        for (const std::size_t end = framesReading(8); f + 2 <= end; f += 2) {
            const auto pair = [&](std::size_t frame) {
                return int24Pair(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(groupBytes + frame * stride)));
            };
            storeInt24Floats(out + 2 * f, _mm_slli_epi32(_mm_unpacklo_epi64(pair(f), pair(f + 1)), 8));
        }
    } else if (count == 3) { // four samples a frame, the fourth overwritten by the next frame's
        for (const std::size_t end = std::min(framesReading(16), frames - 1); f < end; ++f)
            storeInt24Floats(out + 3 * f, int24Three(groupBytes + f * stride));
    } else if (count >= 4) { // four at a time, the frame's last four overlapping the ones before
        for (const std::size_t end = framesReading(3 * std::size_t{count} + 4); f < end; ++f) {
            const unsigned char* const from = groupBytes + f * stride;
            float* const to = out + f * count;
            for (unsigned c = 0; c + 4 < count; c += 4) storeInt24Floats(to + c, int24Four(from + 3 * c));
            storeInt24Floats(to + count - 4, int24Four(from + 3 * (count - 4)));
        }
    }
#endif
    unpackStrided<3>(in + 3 * std::size_t{first} + f * stride, frames - f, stride, count, out + f * count);
}

} // namespace

void unpackChannels(unsigned sampleBytes, const unsigned char* in, std::size_t frames, unsigned allChannels,
    unsigned first, unsigned count, float* out)
{
    switch (sampleBytes) {
    case 2: return unpackInt16Channels(in, frames, allChannels, first, count, out);
    case 3: return unpackInt24Channels(in, frames, allChannels, first, count, out);
    default: return unpackInt32Channels(in, frames, allChannels, first, count, out);
    }
}

} // namespace fennick
