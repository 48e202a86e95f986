#pragma once

// The counting libsoxr stand-in, bound through FENNICK_LIBSOXR before the first conversion.

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace fennick::test {

inline const std::string kCountingLibsoxr = FENNICK_COUNTING_SOXR_PATH;
inline const std::string kIncompleteLibsoxr = FENNICK_INCOMPLETE_SOXR_PATH;

// Must run before anything in the process touches SoxrApi::shared().
inline void useCountingLibsoxr() { ::setenv("FENNICK_LIBSOXR", kCountingLibsoxr.c_str(), 1); }

// One of the stand-in's counters; -1 when the binding has not loaded it.
inline int standinCount(const char* counter)
{
    // RTLD_NOLOAD finds the copy the binding loaded without loading another.
    void* library = dlopen(kCountingLibsoxr.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (library == nullptr) return -1;
    auto count = reinterpret_cast<int (*)()>(dlsym(library, counter));
    const int value = count != nullptr ? count() : -1;
    dlclose(library);
    return value;
}

// Resamplers made and not yet deleted, and made in all.
inline int liveSoxrHandles() { return standinCount("fennick_standin_live_handles"); }
inline int createdSoxrHandles() { return standinCount("fennick_standin_created_handles"); }

} // namespace fennick::test
