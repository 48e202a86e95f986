#pragma once

// Folding the lanes of a vector loop's running peak and count into the scalar figures, the same
// way in every pass that keeps them.

#if defined(__SSE2__)
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

namespace fennick {

// Four float peaks and four 32-bit counts.
inline void addLanes(__m128 peaks, __m128i counts, float& peak, std::uint64_t& count)
{
    alignas(16) float peakLanes[4];
    alignas(16) std::uint32_t countLanes[4];
    _mm_store_ps(peakLanes, peaks);
    _mm_store_si128(reinterpret_cast<__m128i*>(countLanes), counts);
    for (int lane = 0; lane < 4; ++lane) {
        peak = std::max(peak, peakLanes[lane]);
        count += countLanes[lane];
    }
}

// Two double peaks and two 64-bit counts.
inline void addLanes(__m128d peaks, __m128i counts, double& peak, std::uint64_t& count)
{
    alignas(16) double peakLanes[2];
    alignas(16) std::uint64_t countLanes[2];
    _mm_store_pd(peakLanes, peaks);
    _mm_store_si128(reinterpret_cast<__m128i*>(countLanes), counts);
    for (int lane = 0; lane < 2; ++lane) {
        peak = std::max(peak, peakLanes[lane]);
        count += countLanes[lane];
    }
}

} // namespace fennick
#endif
