#pragma once

// Whether the sample passes may take their AVX2 paths. Each such path gives the same bytes as its
// SSE2 baseline; the baseline can be forced so that it stays tested on processors with AVX2.

namespace fennick {

// The processor has AVX2 and the baseline is not forced.
bool widerVectors();

// Keeps every pass that asks widerVectors() to its baseline from then on, or lets them widen again.
void forceBaselineVectors(bool force);

} // namespace fennick
