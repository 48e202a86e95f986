#pragma once

// Helpers of the engine tests: the libsoxr stand-ins of the test build, a log of what the engine
// asks the loader for, and real I/O failures on demand. Every test case runs in its own process,
// so each may choose what the first access of SoxrApi::shared() binds.

#include "standins/SoxrStandin.h"

#include <TestAudio.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace fennick::test {

inline constexpr const char* kStandin = FENNICK_TEST_STANDIN;                     // soxr_version "standin-1"
inline constexpr const char* kOtherStandin = FENNICK_TEST_OTHER_STANDIN;          // "standin-2"
inline constexpr const char* kIncompleteStandin = FENNICK_TEST_INCOMPLETE_STANDIN; // no soxr_runtime_spec

// Sets FENNICK_LIBSOXR, or unsets it for null.
inline void setLibsoxrVariable(const char* value)
{
    value != nullptr ? ::setenv("FENNICK_LIBSOXR", value, 1) : ::unsetenv("FENNICK_LIBSOXR");
}

// The paths this process has handed to dlopen, in order (RTLD_NOLOAD look-ups left out).
std::vector<std::string> dlopenedPaths();
bool isLoaded(const char* library);

// The record of a stand-in that the binding has loaded.
StandinRecord& standinRecord(const char* library = kStandin);

// Points this process's descriptor on `path` at `replacement` (opened write-only), so that the
// next read or write through it fails for real.
void redirectDescriptor(const std::filesystem::path& path, const char* replacement);

} // namespace fennick::test
