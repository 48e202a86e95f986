#pragma once

// Helpers shared by the engine tests: the libsoxr stand-ins built next to them, a log of the
// libraries the engine asks the loader for, real I/O failures on demand, and libsoxr's one-shot
// conversion as the reference for the pipeline's output.
//
// Every test case runs in its own process, so each may choose the library that the first access
// of SoxrApi::shared() binds.

#include "ConversionSettings.h"
#include "standins/SoxrStandin.h"

#include <TestAudio.h>

#include <soxr.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fennick::test {

// Stand-ins built by the test build: two complete ones with their own version texts, one lacking
// soxr_runtime_spec.
inline constexpr const char* kStandin = FENNICK_TEST_STANDIN;
inline constexpr const char* kStandinVersion = "standin-1";
inline constexpr const char* kOtherStandin = FENNICK_TEST_OTHER_STANDIN;
inline constexpr const char* kOtherStandinVersion = "standin-2";
inline constexpr const char* kStandinWithoutRuntimeSpec = FENNICK_TEST_STANDIN_WITHOUT_RUNTIME_SPEC;

// Sets FENNICK_LIBSOXR, or unsets it for null.
void setLibsoxrVariable(const char* value);

// The paths handed to dlopen by this process so far, in order (lookups with RTLD_NOLOAD left out).
std::vector<std::string> dlopenedPaths();
bool isLoaded(const char* library);

// The record of a stand-in that the binding has loaded.
StandinRecord& standinRecord(const char* library);
void setStandinDeleteHook(const char* library, void (*hook)());

// Points the descriptor this process holds on `path` at `replacement`, opened with `flags`, so
// that the next read or write through it fails for real.
void redirectDescriptor(const std::filesystem::path& path, const char* replacement, int flags);

// The recipe and flags that a ConversionOptions value stands for in libsoxr's terms.
soxr_quality_spec_t qualitySpec(const ConversionOptions& options);

// libsoxr's one-shot conversion of the whole source, with the records the pipeline builds.
template <typename Sample>
std::vector<Sample> oneshot(const AudioData& source, double targetRate, soxr_datatype_t outputType,
    const ConversionOptions& options, unsigned long ioFlags = 0);

} // namespace fennick::test
