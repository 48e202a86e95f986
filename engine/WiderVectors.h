#pragma once

// Whether the sample passes may take their AVX2 (and AVX-512) paths. Each such path gives the same
// bytes as its SSE2 baseline; the baseline can be forced so that it stays tested on processors with AVX2.

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
// The wider paths are built beside the baseline, each in a function of its own target.
#define FENNICK_WIDER_PATHS 1
#endif

namespace fennick {

// The processor has AVX2 and the baseline is not forced.
bool widerVectors();

// The processor also has AVX-512 BW and VL, whose masked stores write 16-bit lanes one by one.
bool maskedStores();

// Keeps every pass that asks widerVectors() from then on to its baseline, or lets them widen again.
// A quantiser asks once, when it is made.
void forceBaselineVectors(bool force);

} // namespace fennick
