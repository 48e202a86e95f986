#include "WiderVectors.h"

#include <atomic>

namespace fennick {

namespace {

std::atomic<bool> baselineForced{false};

// Asked on first use rather than by an ifunc resolver, which runs before the sanitizers' runtimes
// are ready.
bool processorHasAvx2()
{
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool processorHasAvx512BwVl()
{
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
#else
    return false;
#endif
}

} // namespace

bool widerVectors()
{
    static const bool hasAvx2 = processorHasAvx2();
    return hasAvx2 && !baselineForced.load(std::memory_order_relaxed);
}

bool maskedStores()
{
    static const bool hasAvx512 = processorHasAvx512BwVl();
    return hasAvx512 && widerVectors();
}

void forceBaselineVectors(bool force) { baselineForced.store(force, std::memory_order_relaxed); }

} // namespace fennick
